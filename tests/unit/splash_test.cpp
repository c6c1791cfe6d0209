// The splash: the line a status message becomes, its picture pixel for pixel, and its window's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/posix/headless_splash.h"
#include "services/status.h"
#include "splash/font.h"
#include "splash/splash.h"
#include "splash/splash_render.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

TEST(StatusLine, AMessageBecomesUpperCaseGlyphsAndSpacesCutAfterTheSixthWordOrAt63Characters) {
    const std::pair<std::string, std::string> rows[] = {
        {"50% done: a/b.c-d!", "50% DONE: A/B.C-D!"},
        {"  x'y(z) \xE2\x80\x94 end)", "X Y Z      END"},  // none first or last, one for each byte between
        {"a  b\tc\nd  e  f  g", "A  B C D  E  F"},         // a run of separators ends one word, the sixth the line
        {std::string(80, 'w'), std::string(63, 'W')},
        {std::string(62, 'a') + " bcd", std::string(62, 'A')},  // the space at the cut goes too
    };
    FakePlatform fake;
    splash_start();  // its thread never runs, and the fake takes the splash down at the end
    for (const auto& [message, shown] : rows) {
        g_splash.percent = 100;
        status_set(message.c_str());
        EXPECT_EQ(g_splash.line, shown) << message;
        EXPECT_EQ(g_splash.percent, -1) << "a status change removes the progress bar";
    }
}

// One frame, top row first; a write outside it is AddressSanitizer's to catch.
using surface = std::vector<uint32_t>;
constexpr int kPixels = kSplashWidth * kSplashHeight;

surface frame(const char* line, int32_t percent = -1, int32_t tick = 0) {
    surface s(kPixels);
    splash_draw_frame(s.data(), line, percent, tick);
    return s;
}

uint32_t at(const surface& s, int x, int y) { return s[y * kSplashWidth + x]; }

// Text drawn from (left, top) read back as font dots: '#' where the dot's top-left pixel has the colour.
// That the dots are whole squares shows in the pixel counts below and in the line of 38 "M".
std::string dots(const surface& s, int left, int top, int scale, int columns, uint32_t colour) {
    std::string out;
    for (int r = 0; r < kGlyphRows; ++r, out += '\n')
        for (int c = 0; c < columns; ++c) out += at(s, left + c * scale, top + r * scale) == colour ? '#' : '.';
    return out;
}

// Without a line or a percentage only the title and the spinner's 8 dots of 49 pixels are drawn.
// The space has no dots, so a drawable character without any would share its glyph.
TEST(SplashPicture, TheTitleAndTheLineAreTheFontsGlyphsEachOfItsOwnCentredAtTheirRowsAndScales) {
    const std::string title =
        ".####.#...#.#...#..####.#####.#####.......#####..###..###...#####..####\n"
        "#.....#...#.#...#.#.....#.......#...........#.....#...#..#..#.....#....\n"
        "#.....#...#.##..#.#.....#.......#...........#.....#...#...#.#.....#....\n"
        ".###..#...#.#.#.#..###..####....#...........#.....#...#...#.####...###.\n"
        "....#.#...#.#..##.....#.#.......#...........#.....#...#...#.#.........#\n"
        "....#.#...#.#...#.....#.#.......#...........#.....#...#..#..#.........#\n"
        "####...###..#...#.####..#####...#...........#....###..###...#####.####.\n";
    const surface empty = frame("");
    EXPECT_EQ(dots(empty, 124, 26, 3, 71, kSplashTitle), title);
    const int title_pixels = 9 * static_cast<int>(std::count(title.begin(), title.end(), '#'));
    EXPECT_EQ(std::count(empty.begin(), empty.end(), kSplashBackground), kPixels - title_pixels - 8 * 49);
    EXPECT_EQ(dots(frame("0-.:/!%"), 189, 158, 2, 41, kSplashLineText),
              ".###............................#...##...\n"
              "#...#..............##.......#...#...##..#\n"
              "#..##..............##......#....#......#.\n"
              "#.#.#.#####...............#.....#.....#..\n"
              "##..#..............##....#......#....#...\n"
              "#...#........##....##...#...........#..##\n"
              ".###.........##.................#......##\n");
    std::set<std::string> glyphs;
    for (char c : std::string(" 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.:/!%"))
        EXPECT_TRUE(glyphs.insert(dots(frame(std::string(1, c).c_str()), 225, 158, 2, 5, kSplashLineText)).second) << c;
}

// The bar: columns 80 to 379, rows 190 to 205, two-pixel edges, light at the top and left, dark (and on top at the
// two corners where they meet) at the bottom and right; inside, the first `filled` of columns 82 to 377 are filled.
uint32_t bar_pixel(int x, int y, int filled) {
    if (x < 80 || x > 379 || y < 190 || y > 205) return kSplashBackground;
    if (x >= 378 || y >= 204) return kProgressDarkEdge;
    if (x <= 81 || y <= 191) return kProgressLightEdge;
    return x < 82 + filled ? kSplashTitle : kProgressTrough;
}

TEST(SplashPicture, TheBarFillsPercentOf296ColumnsAndThePercentageUnderItStopsAt100) {
    const std::tuple<int32_t, int, const char*> rows[] = {
        {0, 0, "0%"}, {1, 2, "1%"}, {99, 293, "99%"}, {100, 296, "100%"}, {101, 296, "100%"}, {INT_MAX, 296, "100%"}};
    for (const auto& [percent, filled, text] : rows) {
        const surface s = frame("X", percent);
        for (int n = 172 * kSplashWidth; n < 216 * kSplashWidth; ++n)
            ASSERT_EQ(s[n], bar_pixel(n % kSplashWidth, n / kSplashWidth, filled)) << percent << "%, pixel " << n;
        surface alone(kPixels, kSplashBackground);
        font_draw(alone.data(), 216, 2, text, kSplashPercentText);
        EXPECT_TRUE(std::equal(s.begin() + 216 * kSplashWidth, s.end(), alone.begin() + 216 * kSplashWidth)) << text;
    }
}

// The head is level 235 and moves one place clockwise every 4 ticks, a full turn in 32; each dot behind it is
// 26 darker, never below 60. The dots are 7 x 7, 26 pixels from (227, 105) along each axis, clockwise from the top.
TEST(SplashPicture, TheSpinnersHeadMovesClockwiseEveryFourTicksAndTheDotsBehindItFade) {
    const int directions[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
    // Red L, green L * 92 / 235, blue L * 138 / 235, rounded down.
    const uint32_t colour_behind[8] = {0xEB5C8A, 0xD1517A, 0xB7476B, 0x9D3D5C, 0x83334C, 0x69293D, 0x4F1E2E, 0x3C1723};
    const int rows[][2] = {{0, 0}, {3, 0}, {4, 1}, {31, 7}, {32, 0}};  // tick, head
    for (const auto& [tick, head] : rows) {
        const surface s = frame("", -1, tick);
        for (int i = 0; i < 8; ++i) {
            const int left = 227 + 26 * directions[i][0], top = 105 + 26 * directions[i][1];
            for (int n = 0; n < 49; ++n)
                ASSERT_EQ(at(s, left + n % 7, top + n / 7), colour_behind[(head - i + 8) % 8]) << tick << ", dot " << i;
        }
    }
}

// "M" (7F 02 0C 02 7F, 18 dots) is symmetric: 38 fit whole, longer lines lose columns evenly at both edges.
TEST(SplashPicture, A38CharacterLineIsDrawnWholeAndLongerOnesLoseColumnsEvenlyOnBothSides) {
    for (int n : {38, 39, 40, 63}) {
        const surface s = frame(std::string(n, 'M').c_str());
        int at_the_edge = 0;
        for (int y = 158; y <= 171; ++y) {
            at_the_edge += at(s, 0, y) == kSplashLineText;
            for (int x = 0; x < kSplashWidth / 2; ++x) ASSERT_EQ(at(s, x, y), at(s, kSplashWidth - 1 - x, y)) << n;
        }
        EXPECT_EQ(at_the_edge > 0, n > 38) << n;
        EXPECT_TRUE(n > 38 || std::count(s.begin(), s.end(), kSplashLineText) == 38 * 18 * 4) << "every glyph whole";
    }
}

using clock_type = std::chrono::steady_clock;

// Polls for five seconds at most until the window's latest frame is the picture of line and percent at tick.
bool latest_frame_becomes(const char* line, int32_t percent, int32_t tick) {
    surface latest(kPixels);
    for (const auto deadline = clock_type::now() + std::chrono::seconds(5); clock_type::now() < deadline;) {
        headless_splash_view(latest.data());
        if (latest == frame(line, percent, tick)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The fake runs the thread only once released: start does not wait for the window. A thread still running when
// the 3,000 ms are over may yet take the lock, which then stays.
TEST(Splash, TheWindowShowsTheLatestLineAndAnimatesUntilStopEndsItAndRetiresTheLockUnlessTheThreadOutlastsIt) {
    FakePlatform fake;
    splash_start();
    ASSERT_EQ(fake.threads.size(), 1u);
    fake.release_threads();
    EXPECT_TRUE(latest_frame_becomes("STARTING UP", -1, 0)) << "the head is back at the top every 32 ticks";
    splash_set_line("READY - STARTING THE GAME", 100);
    EXPECT_TRUE(latest_frame_becomes("READY - STARTING THE GAME", 100, 4)) << "ticks 4 to 7 light dot 1";

    const auto start = clock_type::now();
    splash_stop();
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(1)) << "the quit message ends the thread at once";
    EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
    EXPECT_FALSE(headless_splash_view(nullptr));
    EXPECT_EQ(fake.lock_retires.load(), 1);
    EXPECT_TRUE(fake.threads[0]->closed);

    splash_start();
    fake.ops.thread_wait = [](plat_thread, uint32_t) { return false; };
    splash_stop();
    EXPECT_TRUE(fake.threads.back()->closed);
    EXPECT_EQ(fake.lock_retires.load(), 1);
}

// As on Windows without a display: no splash, the run goes on, status changes take no lock, stop does nothing.
TEST(Splash, WithoutAThreadAWindowOrASurfaceTheRunGoesOnWithoutASplash) {
    FakePlatform fake;
    fake.run_threads = true;
    const auto start_thread = fake.ops.thread_start;
    fake.ops.thread_start = [](plat_thread_main, void*) -> plat_thread { return nullptr; };  // first round: no thread
    for (headless_failure failure : {headless_failure::none, headless_failure::window, headless_failure::surface}) {
        SCOPED_TRACE(static_cast<int>(failure));
        headless_splash_fail_next(failure);
        splash_start();
        ASSERT_TRUE(fake.threads.empty() || plat_native_ops().thread_wait(fake.threads.back()->real, 5000));
        fake.ops.thread_start = start_thread;
        EXPECT_FALSE(splash_is_active());
        EXPECT_FALSE(headless_splash_view(nullptr));
        const int enters = fake.lock_enters.load();
        status_set("Installing");
        EXPECT_EQ(fake.lock_enters.load(), enters);
        splash_stop();
        EXPECT_EQ(fake.lock_retires.load(), 0);
    }
}

}  // namespace
