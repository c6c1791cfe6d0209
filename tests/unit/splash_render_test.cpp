// The splash picture, pixel for pixel: the title, the spinner, the splash
// line, the progress bar and the percentage, and the font's clipping rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// Where a colour occurs within a band of rows; empty when nowhere.
struct Box {
    int left = kSplashWidth, top = kSplashHeight, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};
Box box_of(const Surface& s, uint32_t colour, int first_row = 0, int last_row = kSplashHeight - 1) {
    Box b;
    for (int y = first_row; y <= last_row; ++y)
        for (int x = 0; x < kSplashWidth; ++x)
            if (s.at(x, y) == colour) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
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

// "M" is 7F 02 0C 02 7F: 18 dots, and symmetric, so a line of them is too.
constexpr int kDotsOfM = 18;

TEST(SplashPicture, TheTitleIs213PixelsWideFromColumn124) {
    Surface s = frame("");
    Box title = box_of(s, kSplashTitle);
    EXPECT_EQ(title.left, 124);
    EXPECT_EQ(title.right, 124 + 213 - 1);
    EXPECT_EQ(title.top, 26);
    EXPECT_EQ(title.bottom, 46);
    EXPECT_EQ(s.at(0, 0), kSplashBackground);
    EXPECT_EQ(s.at(kSplashWidth - 1, kSplashHeight - 1), kSplashBackground);
    EXPECT_TRUE(rows_are_background(s, 158, 249)) << "an empty line and no percentage draw nothing";
}

TEST(SplashPicture, A38CharacterLineIsDrawnWholeFromColumn3) {
    Surface s = frame(std::string(38, 'M').c_str());
    Box line = box_of(s, kSplashLineText);
    EXPECT_EQ(line.left, 3);
    EXPECT_EQ(line.right, 3 + 454 - 1);
    EXPECT_EQ(line.top, 158);
    EXPECT_EQ(line.bottom, 171);
    EXPECT_EQ(count_of(s, kSplashLineText, 158, 171), 38 * kDotsOfM * 4);
}

TEST(SplashPicture, LongerLinesLoseColumnsEvenlyOnBothSidesAndStayInside) {
    for (int n : {39, 40, 45, 63}) {
        SCOPED_TRACE(n);
        Surface s = frame(std::string(n, 'M').c_str());
        EXPECT_TRUE(s.guards_intact());
        // Both edges are reached and what remains is the middle of the line:
        // the line of Ms is symmetric about the surface's centre.
        EXPECT_EQ(s.at(0, 160), kSplashLineText);
        EXPECT_EQ(s.at(kSplashWidth - 1, 160), kSplashLineText);
        for (int y = 158; y <= 171; ++y)
            for (int x = 0; x < kSplashWidth / 2; ++x)
                ASSERT_EQ(s.at(x, y), s.at(kSplashWidth - 1 - x, y)) << "column " << x << " row " << y;
        // Never wrapped onto a second line.
        EXPECT_TRUE(rows_are_background(s, 172, 249));
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

TEST(SplashPicture, WithoutAPercentageThereIsNoBarAndNoText) {
    EXPECT_TRUE(rows_are_background(frame("STARTING UP", -1), 172, 249));
    EXPECT_TRUE(rows_are_background(frame("STARTING UP", -100), 172, 249));
}

TEST(SplashPicture, AtZeroTheEmptyFrameAndZeroPercentAreDrawn) {
    Surface s = frame("X", 0);
    Box bar = box_of(s, kProgressTrough);
    EXPECT_EQ(bar.left, 82);
    EXPECT_EQ(bar.right, 377);
    EXPECT_EQ(bar.top, 192);
    EXPECT_EQ(bar.bottom, 203);
    EXPECT_EQ(count_of(s, kProgressTrough, 190, 205), 296 * 12);
    EXPECT_TRUE(box_of(s, kSplashTitle, 180, 249).empty()) << "nothing is filled at 0";

    Box text = box_of(s, kSplashPercentText);
    EXPECT_EQ(text.left, 219);  // "0%": 22 pixels wide
    EXPECT_EQ(text.right, 240);
    EXPECT_EQ(text.top, 216);
    EXPECT_EQ(text.bottom, 229);
}

TEST(SplashPicture, TheEdgesLeaveTheTopRightAndBottomLeftCornersDark) {
    Surface s = frame("X", 0);
    // Top and left edges, two pixels wide, light.
    for (int x = 80; x <= 377; ++x) EXPECT_EQ(s.at(x, 190), kProgressLightEdge) << x;
    for (int x = 80; x <= 377; ++x) EXPECT_EQ(s.at(x, 191), kProgressLightEdge) << x;
    for (int y = 190; y <= 203; ++y) EXPECT_EQ(s.at(81, y), kProgressLightEdge) << y;
    // Bottom and right edges, dark, drawn last.
    for (int x = 80; x <= 379; ++x) EXPECT_EQ(s.at(x, 205), kProgressDarkEdge) << x;
    for (int y = 190; y <= 205; ++y) EXPECT_EQ(s.at(378, y), kProgressDarkEdge) << y;
    EXPECT_EQ(s.at(80, 190), kProgressLightEdge);  // top-left
    EXPECT_EQ(s.at(379, 190), kProgressDarkEdge);  // top-right
    EXPECT_EQ(s.at(80, 205), kProgressDarkEdge);   // bottom-left
    EXPECT_EQ(s.at(379, 205), kProgressDarkEdge);  // bottom-right
    EXPECT_EQ(s.at(79, 195), kSplashBackground);
    EXPECT_EQ(s.at(380, 195), kSplashBackground);
    EXPECT_EQ(s.at(200, 189), kSplashBackground);
    EXPECT_EQ(s.at(200, 206), kSplashBackground);
}

TEST(SplashPicture, OnePercentFillsColumns82And83) {
    Surface s = frame("X", 1);
    Box fill = box_of(s, kSplashTitle, 180, 249);
    EXPECT_EQ(fill.left, 82);
    EXPECT_EQ(fill.right, 83);
    EXPECT_EQ(fill.top, 192);
    EXPECT_EQ(fill.bottom, 203);
    EXPECT_EQ(count_of(s, kSplashTitle, 180, 249), 2 * 12);
    EXPECT_EQ(s.at(84, 195), kProgressTrough);
}

TEST(SplashPicture, AtOneHundredTheFillSpansTheInsideAndAboveItIsTheSame) {
    Surface s = frame("READY - STARTING THE GAME", 100);
    Box fill = box_of(s, kSplashTitle, 180, 249);
    EXPECT_EQ(fill.left, 82);
    EXPECT_EQ(fill.right, 377);
    EXPECT_EQ(count_of(s, kSplashTitle, 180, 249), 296 * 12);
    EXPECT_EQ(count_of(s, kProgressTrough, 180, 249), 0);
    EXPECT_EQ(s.at(378, 195), kProgressDarkEdge);

    // "100%" at row 216: 46 pixels from column 207; the 1's first column is blank.
    Box text = box_of(s, kSplashPercentText);
    EXPECT_EQ(text.left, 209);
    EXPECT_EQ(text.right, 252);
    EXPECT_EQ(text.top, 216);
    EXPECT_EQ(text.bottom, 229);
    Surface alone;
    std::fill(alone.pixels(), alone.pixels() + kSplashWidth * kSplashHeight, kSplashBackground);
    font_draw(alone.pixels(), 216, 2, "100%", kSplashPercentText);
    for (int y = 210; y < kSplashHeight; ++y)
        for (int x = 0; x < kSplashWidth; ++x) ASSERT_EQ(s.at(x, y), alone.at(x, y)) << x << "," << y;

    EXPECT_TRUE(frame("READY - STARTING THE GAME", 150) == s);
    EXPECT_TRUE(frame("READY - STARTING THE GAME", 2147483647) == s);
}

TEST(SplashPicture, TheFillGrowsWithThePercentage) {
    for (int p : {2, 33, 50, 99}) {
        SCOPED_TRACE(p);
        Box fill = box_of(frame("X", p), kSplashTitle, 180, 249);
        EXPECT_EQ(fill.left, 82);
        EXPECT_EQ(fill.right, 82 + p * 296 / 100 - 1);
    }
}

// Dot i's square and the colour of its level.
void expect_dot(const Surface& s, int i, uint32_t colour) {
    const int left = 227 + 26 * kSpinnerDirections[i][0], top = 105 + 26 * kSpinnerDirections[i][1];
    for (int y = top; y < top + 7; ++y)
        for (int x = left; x < left + 7; ++x) ASSERT_EQ(s.at(x, y), colour) << "dot " << i << " at " << x << "," << y;
    EXPECT_EQ(s.at(left - 1, top), kSplashBackground);
    EXPECT_EQ(s.at(left + 7, top + 6), kSplashBackground);
    EXPECT_EQ(s.at(left, top - 1), kSplashBackground);
    EXPECT_EQ(s.at(left + 6, top + 7), kSplashBackground);
}

TEST(SplashPicture, AtFrameZeroTheTopDotIsBrightestAndTheNextOneDarkest) {
    Surface s = frame("", -1, 0);
    expect_dot(s, 0, 0x00EB5C8A);  // level 235: 235, 92, 138
    expect_dot(s, 1, 0x003C1723);  // level 60: 60, 23, 35
    // Behind the head, clockwise backwards: 209, 183, 157, 131, 105, 79.
    const uint32_t behind[] = {209, 183, 157, 131, 105, 79};
    for (int k = 0; k < 6; ++k) expect_dot(s, 7 - k, spinner_colour(behind[k]));
    EXPECT_EQ(spinner_colour(209), 0x00D1517Au);  // 209*92/235 = 81.8, 209*138/235 = 122.7
    EXPECT_EQ(spinner_colour(79), 0x004F1E2Eu);   // 79*92/235 = 30.9, 79*138/235 = 46.4
    EXPECT_EQ(s.at(230, 108), kSplashBackground) << "the centre stays empty";
}

TEST(SplashPicture, EveryFourTicksTheHeadMovesOnePlaceClockwise) {
    Surface s = frame("", -1, 4);
    expect_dot(s, 1, 0x00EB5C8A);
    expect_dot(s, 0, spinner_colour(209));
    expect_dot(s, 2, spinner_colour(60));
    EXPECT_TRUE(frame("", -1, 3) == frame("", -1, 0));
    EXPECT_TRUE(frame("", -1, 7) == s);
    EXPECT_TRUE(frame("", -1, 32) == frame("", -1, 0)) << "a full turn takes 32 ticks";
    expect_dot(frame("", -1, 28), 7, 0x00EB5C8A);
}

TEST(SplashPicture, LowerCaseIsDrawnAsUpperCase) {
    EXPECT_TRUE(frame("abcdefghijklmnopqrstuvwxyz") == frame("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    EXPECT_FALSE(frame("abc") == frame("ABD"));
}

TEST(SplashPicture, ACharacterWithoutAGlyphLeavesABlankCellOfFullWidth) {
    for (const char* odd : {"A~B", "A B", "A\xC3" "B", "A\x01" "B", "A(B"}) {
        SCOPED_TRACE(odd);
        EXPECT_TRUE(frame(odd) == frame("A B"));
    }
    // The B stands where it stands after any three-character start.
    Surface blank = frame("A~B"), full = frame("AXB");
    const int b_start = 230 - 34 / 2 + 2 * 12;  // 3 cells of 12 pixels, minus the last blank 2
    for (int y = 158; y <= 171; ++y)
        for (int x = b_start; x < b_start + 12; ++x) ASSERT_EQ(blank.at(x, y), full.at(x, y));
    EXPECT_EQ(count_of(blank, kSplashLineText, 158, 171) + /* X */ 13 * 4, count_of(full, kSplashLineText, 158, 171));
}

TEST(SplashPicture, EveryDrawableCharacterHasItsOwnGlyph) {
    const std::string drawable = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.:/!%";
    std::vector<Surface> seen;
    for (char c : drawable) {
        char text[2] = {c, 0};
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
