// The splash picture, pixel for pixel: the title, the spinner, the splash
// line, the progress bar and the percentage, and the font's clipping rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "splash/font.h"
#include "splash/splash_render.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

constexpr uint32_t kGuard = 0xDEADBEEF;
constexpr int kGuardPixels = 4096;

// A surface with guard words before and after it, so a write outside the
// 460 x 250 pixels shows up.
struct Surface {
    std::vector<uint32_t> memory = std::vector<uint32_t>(kSplashWidth * kSplashHeight + 2 * kGuardPixels, kGuard);
    uint32_t* pixels() { return memory.data() + kGuardPixels; }
    uint32_t at(int x, int y) const { return memory[kGuardPixels + y * kSplashWidth + x]; }
    bool guards_intact() const {
        for (int i = 0; i < kGuardPixels; ++i)
            if (memory[i] != kGuard || memory[memory.size() - 1 - i] != kGuard) return false;
        return true;
    }
    bool operator==(const Surface& other) const { return memory == other.memory; }
};

Surface frame(const char* line, int32_t percent = -1, int32_t counter = 0) {
    Surface s;
    splash_draw_frame(s.pixels(), line, percent, counter);
    return s;
}

// Where a colour occurs: left, top, right, bottom; {kSplashWidth, kSplashHeight, -1, -1} when nowhere.
using Box = std::array<int, 4>;
Box box_of(const Surface& s, uint32_t colour) {
    Box b = {kSplashWidth, kSplashHeight, -1, -1};
    for (int y = 0; y < kSplashHeight; ++y)
        for (int x = 0; x < kSplashWidth; ++x)
            if (s.at(x, y) == colour) b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
    return b;
}

int count_of(const Surface& s, uint32_t colour, int first_row, int last_row) {
    int n = 0;
    for (int y = first_row; y <= last_row; ++y)
        for (int x = 0; x < kSplashWidth; ++x) n += s.at(x, y) == colour;
    return n;
}

bool rows_are_background(const Surface& s, int first_row, int last_row) {
    return count_of(s, kSplashBackground, first_row, last_row) == (last_row - first_row + 1) * kSplashWidth;
}

TEST(SplashPicture, TheTitleIs213PixelsWideFromColumn124AndAnEmptyLineWithoutPercentageDrawsNothing) {
    for (int32_t percent : {-1, -100}) {
        SCOPED_TRACE(percent);
        Surface s = frame("", percent);
        EXPECT_EQ(box_of(s, kSplashTitle), (Box{124, 26, 336, 46}));
        EXPECT_TRUE(rows_are_background(s, 0, 25));
        EXPECT_TRUE(rows_are_background(s, 158, 249));
    }
}

// "M" is 7F 02 0C 02 7F: 18 dots, and symmetric, so a line of them is too.
// 38 fit whole; longer lines reach both edges and what remains is the middle.
TEST(SplashPicture, A38CharacterLineIsDrawnWholeAndLongerOnesLoseColumnsEvenlyOnBothSides) {
    for (int n : {38, 39, 40, 45, 63}) {
        SCOPED_TRACE(n);
        Surface s = frame(std::string(n, 'M').c_str());
        EXPECT_TRUE(s.guards_intact());
        const Box whole{3, 158, 456, 171}, cut{0, 158, kSplashWidth - 1, 171};
        EXPECT_EQ(box_of(s, kSplashLineText), n == 38 ? whole : cut);
        if (n == 38) {
            EXPECT_EQ(count_of(s, kSplashLineText, 158, 171), 38 * 18 * 4);
        }
        for (int y = 158; y <= 171; ++y)
            for (int x = 0; x < kSplashWidth / 2; ++x)
                ASSERT_EQ(s.at(x, y), s.at(kSplashWidth - 1 - x, y)) << "column " << x << " row " << y;
        EXPECT_TRUE(rows_are_background(s, 172, 249)) << "never wrapped onto a second line";
    }
}

TEST(SplashPicture, TheFontNeverWritesOutsideTheSurfaceAtAnyScale) {
    Surface s;
    std::memset(s.pixels(), 0, kSplashWidth * kSplashHeight * sizeof(uint32_t));
    font_draw(s.pixels(), 0, 35, "M%M", 0x00FFFFFF);  // 3 cells of 210 pixels: wider than the surface
    font_draw(s.pixels(), 243, 1, std::string(200, 'W').c_str(), 0x00FFFFFF);
    EXPECT_TRUE(s.guards_intact());
    // The Ms' second columns (one dot in row 1) reach both edges.
    EXPECT_EQ(s.at(0, 40), 0x00FFFFFFu);
    EXPECT_EQ(s.at(kSplashWidth - 1, 40), 0x00FFFFFFu);
}

// The bar: columns 80 to 379, rows 190 to 205, two-pixel edges, light at the
// top and left, dark at the bottom and right and drawn last, so the top-right
// and bottom-left corners are dark. Inside, the first `filled` of columns 82
// to 377 are filled, the rest is trough. Nothing else between line and percentage.
uint32_t bar_pixel(int x, int y, int filled) {
    if (x < 80 || x > 379 || y < 190 || y > 205) return kSplashBackground;
    if (x >= 378 || y >= 204) return kProgressDarkEdge;
    if (x <= 81 || y <= 191) return kProgressLightEdge;
    return x < 82 + filled ? kSplashTitle : kProgressTrough;
}

TEST(SplashPicture, TheBarFillsPercentOf296ColumnsAndThePercentageIsCentredUnderIt) {
    const struct {
        int32_t percent;
        int filled;
        const char* text;
    } cases[] = {{0, 0, "0%"},       {1, 2, "1%"},       {2, 5, "2%"},       {33, 97, "33%"},
                 {50, 148, "50%"},   {99, 293, "99%"},   {100, 296, "100%"}, {150, 296, "100%"},
                 {2147483647, 296, "100%"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.percent);
        Surface s = frame("X", c.percent), alone;
        for (int y = 172; y < 216; ++y)
            for (int x = 0; x < kSplashWidth; ++x) ASSERT_EQ(s.at(x, y), bar_pixel(x, y, c.filled)) << x << "," << y;
        std::fill(alone.pixels(), alone.pixels() + kSplashWidth * kSplashHeight, kSplashBackground);
        font_draw(alone.pixels(), 216, 2, c.text, kSplashPercentText);
        for (int y = 216; y < kSplashHeight; ++y)
            for (int x = 0; x < kSplashWidth; ++x) ASSERT_EQ(s.at(x, y), alone.at(x, y)) << x << "," << y;
    }
    // "0%" is 22 pixels wide; "100%" is 46 from column 207, the 1's first column blank.
    EXPECT_EQ(box_of(frame("X", 0), kSplashPercentText), (Box{219, 216, 240, 229}));
    EXPECT_EQ(box_of(frame("X", 100), kSplashPercentText), (Box{209, 216, 252, 229}));
}

// The head is level 235 and moves one place clockwise every 4 ticks, a full
// turn in 32; each dot behind it is 26 darker, never below 60. The dots are
// 7 x 7, 26 pixels from the empty centre (227, 105) along each axis, clockwise
// from the top; nothing else is drawn in the spinner's rows.
TEST(SplashPicture, TheSpinnersHeadMovesClockwiseEveryFourTicksAndTheDotsBehindItFade) {
    const int directions[kSpinnerDots][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
    const uint32_t level_behind[kSpinnerDots] = {235, 209, 183, 157, 131, 105, 79, 60};
    const std::pair<int32_t, int> heads[] = {{0, 0}, {3, 0}, {4, 1}, {7, 1}, {28, 7}, {32, 0}};
    for (auto [counter, head] : heads) {
        SCOPED_TRACE(counter);
        Surface s = frame("", -1, counter);
        for (int i = 0; i < kSpinnerDots; ++i) {
            const int left = 227 + 26 * directions[i][0], top = 105 + 26 * directions[i][1];
            const uint32_t colour = spinner_colour(level_behind[(head - i + kSpinnerDots) % kSpinnerDots]);
            for (int y = top; y < top + 7; ++y)
                for (int x = left; x < left + 7; ++x)
                    ASSERT_EQ(s.at(x, y), colour) << "dot " << i << " at " << x << "," << y;
        }
        EXPECT_EQ(count_of(s, kSplashBackground, 79, 137), 59 * kSplashWidth - kSpinnerDots * 49);
    }
    // Red L, green L * 92 / 235, blue L * 138 / 235, rounded down.
    EXPECT_EQ(spinner_colour(235), 0x00EB5C8Au);
    EXPECT_EQ(spinner_colour(209), 0x00D1517Au);
    EXPECT_EQ(spinner_colour(79), 0x004F1E2Eu);
    EXPECT_EQ(spinner_colour(60), 0x003C1723u);
}

TEST(SplashPicture, LowerCaseIsDrawnAsUpperCaseAndACharacterWithoutAGlyphAsABlankCellOfFullWidth) {
    const std::pair<const char*, const char*> alike[] = {
        {"abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"A~B", "A B"}, {"A\xC3" "B", "A B"}, {"A\x01" "B", "A B"}, {"A(B", "A B"}};
    for (auto [text, drawn_as] : alike) EXPECT_TRUE(frame(text) == frame(drawn_as)) << drawn_as;
    // The B stands where it stands after any three-character start.
    Surface blank = frame("A~B"), full = frame("AXB");
    const int b_start = 230 - 34 / 2 + 2 * 12;  // 3 cells of 12 pixels, minus the last blank 2
    for (int y = 158; y <= 171; ++y)
        for (int x = b_start; x < b_start + 12; ++x) ASSERT_EQ(blank.at(x, y), full.at(x, y));
    EXPECT_EQ(count_of(blank, kSplashLineText, 158, 171) + /* X */ 13 * 4, count_of(full, kSplashLineText, 158, 171));
}

TEST(SplashPicture, EveryDrawableCharacterHasItsOwnGlyph) {
    std::vector<Surface> seen;
    for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.:/!%")) {
        const char text[2] = {c, 0};
        Surface s = frame(text);
        EXPECT_GT(count_of(s, kSplashLineText, 158, 171), 0) << c;
        for (const Surface& other : seen) EXPECT_FALSE(other == s) << c;
        seen.push_back(s);
    }
}

TEST(SplashRender, DrawsTheStateTakenUnderTheLockIntoTheSurface) {
    FakePlatform fake;
    splash_state_clear();
    plat_lock_init(&g_splash.lock);
    Surface s;
    g_splash.surface_bits = s.pixels();
    std::snprintf(g_splash.line, sizeof g_splash.line, "INSTALLING");
    g_splash.percent = 100;
    g_splash.frame = 4;
    splash_render();
    EXPECT_EQ(fake.lock_enters.load(), 1);
    EXPECT_TRUE(s == frame("INSTALLING", 100, 4));
    plat_lock_retire(&g_splash.lock);
    splash_state_clear();
}

}  // namespace
