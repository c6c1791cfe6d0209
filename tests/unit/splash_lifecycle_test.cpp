// Starting and stopping the splash through the posix layer: the thread, its
// first frame, the stop protocol and its 3,000 ms bound, and the failures
// that leave the run without a splash.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/posix/headless_splash.h"
#include "services/status.h"
#include "splash/splash.h"
#include "splash/splash_render.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Pixels = std::vector<uint32_t>;

Pixels picture(const char* line, int32_t percent, int32_t counter) {
    Pixels p(kSplashWidth * kSplashHeight);
    splash_draw_frame(p.data(), line, percent, counter);
    return p;
}

// Polls until done() holds or five seconds pass.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Polls until the window's latest frame shows the line and percentage at one
// of the given ticks.
bool latest_frame_becomes(const char* line, int32_t percent, const std::vector<int32_t>& counters) {
    std::vector<Pixels> pictures;
    for (int32_t counter : counters) pictures.push_back(picture(line, percent, counter));
    Pixels latest(kSplashWidth * kSplashHeight);
    return eventually([&] {
        headless_splash_view(nullptr, latest.data());
        return std::find(pictures.begin(), pictures.end(), latest) != pictures.end();
    });
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Splash : public ::testing::Test {
protected:
    FakePlatform fake;
    void SetUp() override {
        splash_state_clear();
        headless_splash_fail_next(headless_failure::none);
    }
};

TEST_F(Splash, StartReturnsBeforeTheWindowWhichShowsTheLatestStatusAndAnimatesUntilStopEndsIt) {
    splash_stop();  // before any start: returns at once and touches nothing
    EXPECT_TRUE(fake.thread_waits.empty());
    EXPECT_EQ(fake.lock_retires.load(), 0);
    EXPECT_EQ(fake.lock_enters.load(), 0);

    splash_start();
    ASSERT_EQ(fake.threads.size(), 1u);
    EXPECT_EQ(fake.threads[0]->main, &plat_splash_thread);
    EXPECT_TRUE(splash_is_active());
    EXPECT_STREQ(g_splash.line, "STARTING UP");
    EXPECT_EQ(g_splash.percent, -1);

    // The thread has not run yet: the window does not exist. A second start
    // while one runs changes nothing.
    status_set("Installing");
    splash_start();
    EXPECT_EQ(fake.threads.size(), 1u);
    EXPECT_STREQ(g_splash.line, "INSTALLING");
    fake.release_threads();
    Pixels first(kSplashWidth * kSplashHeight);
    ASSERT_TRUE(eventually([&] {
        const headless_view view = headless_splash_view(first.data(), nullptr);
        return view.open && view.painted >= 1;
    }));
    EXPECT_TRUE(first == picture("INSTALLING", -1, 0));

    // Ticks 4 to 7 show dot 1 brightest; the full bar is looked for at any turn.
    status_set("Preparing your ROM\xE2\x80\xA6");
    EXPECT_TRUE(latest_frame_becomes("PREPARING YOUR ROM", -1, {4}));
    splash_set_line("READY - STARTING THE GAME", 100);
    EXPECT_TRUE(latest_frame_becomes("READY - STARTING THE GAME", 100, {0, 4, 8, 12, 16, 20, 24, 28}));

    const auto start = Clock::now();
    splash_stop();
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
    EXPECT_FALSE(headless_splash_view(nullptr, nullptr).open) << "the window is gone once stop returns";
    EXPECT_FALSE(splash_is_active());
    EXPECT_EQ(g_splash.thread, nullptr);
    EXPECT_EQ(g_splash.window.load(), nullptr);
    EXPECT_EQ(fake.lock_retires.load(), 1);
    EXPECT_TRUE(fake.threads[0]->closed);
}

// As on Windows without a display: the thread clears the flag and ends; the
// run goes on, its status changes no longer reach the splash, and stop has
// nothing to do.
TEST_F(Splash, AWindowThatCannotBeCreatedEndsTheSplashQuietly) {
    fake.run_threads = true;
    for (headless_failure failure : {headless_failure::window, headless_failure::surface}) {
        SCOPED_TRACE(failure == headless_failure::window ? "window" : "surface");
        headless_splash_fail_next(failure);
        splash_start();
        ASSERT_TRUE(eventually([] { return !splash_is_active(); }));
        ASSERT_TRUE(plat_native_ops().thread_wait(fake.threads.back()->real, 5000));
        EXPECT_EQ(g_splash.window.load(), nullptr);
        EXPECT_EQ(g_splash.surface_bits, nullptr);
        EXPECT_FALSE(headless_splash_view(nullptr, nullptr).open);

        const int enters = fake.lock_enters.load();
        status_set("Installing");
        EXPECT_EQ(fake.lock_enters.load(), enters);
        EXPECT_STREQ(g_splash.line, "STARTING UP");

        const auto start = Clock::now();
        splash_stop();
        EXPECT_LT(seconds_since(start), 0.5);
        EXPECT_TRUE(fake.thread_waits.empty());
        EXPECT_EQ(fake.lock_retires.load(), 0);
    }
}

// A thread that ignores the stop: the main thread gives up after 3,000 ms and
// leaves the lock in place, since the thread may still take it.
std::atomic<bool> g_release{false};
std::atomic<bool> g_took_lock{false};

unsigned long stubborn_splash_thread(void*) {
    while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    plat_lock_enter(&g_splash.lock);
    plat_lock_leave(&g_splash.lock);
    g_took_lock = true;
    return 0;
}

TEST_F(Splash, StopWaitsAtMostThreeSecondsAndThenKeepsTheLock) {
    fake.run_threads = true;
    fake.ops.splash_thread = stubborn_splash_thread;
    g_release = false;
    g_took_lock = false;
    splash_start();

    const auto start = Clock::now();
    splash_stop();
    const double waited = seconds_since(start);
    EXPECT_GE(waited, 2.95);
    EXPECT_LT(waited, 4.0);
    EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
    EXPECT_EQ(fake.lock_retires.load(), 0);
    EXPECT_EQ(g_splash.thread, nullptr);
    EXPECT_FALSE(splash_is_active());

    g_release = true;
    EXPECT_TRUE(eventually([] { return g_took_lock.load(); }));
    // The closed thread frees its own record once it ends; give it that moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    plat_lock_retire(&g_splash.lock);
}

}  // namespace
