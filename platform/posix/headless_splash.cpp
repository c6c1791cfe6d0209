#include "platform/posix/headless_splash.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "splash/splash_render.h"
#include "splash/splash_state.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(33);
constexpr int kPixels = kSplashWidth * kSplashHeight;

// The one window there can be. Its handle is a number that is never reused,
// so posting to a window that has gone fails, as it does with a stale HWND,
// instead of reaching a newer one.
struct headless_screen {
    std::mutex mutex;
    std::condition_variable wake;
    uintptr_t open_handle = 0;
    uintptr_t last_handle = 0;
    bool quit = false;
    headless_failure fail_next = headless_failure::none;
    uint32_t latest[kPixels];
};

headless_screen& screen() {
    static headless_screen s;
    return s;
}

plat_window open_window(headless_failure* failure) {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    *failure = s.fail_next;
    s.fail_next = headless_failure::none;
    if (*failure == headless_failure::window) return nullptr;
    s.open_handle = ++s.last_handle;
    s.quit = false;
    return reinterpret_cast<plat_window>(s.open_handle);
}

void close_window() {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    s.open_handle = 0;
}

// The window's paint: the whole surface, one to one.
void paint(const uint32_t* bits) {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    std::memcpy(s.latest, bits, sizeof s.latest);
}

// Blocks until the next tick is due (true) or the quit message arrives (false).
bool next_tick(clock_type::time_point due) {
    headless_screen& s = screen();
    std::unique_lock<std::mutex> hold(s.mutex);
    s.wake.wait_until(hold, due, [&] { return s.quit; });
    return !s.quit;
}

}  // namespace

unsigned long headless_splash_thread_main(void*) {
    headless_failure failure;
    plat_window window = open_window(&failure);
    if (!window) {
        g_splash.active.store(0, std::memory_order_relaxed);
        return 0;
    }
    g_splash.window.store(window, std::memory_order_relaxed);

    uint32_t* bits = failure == headless_failure::surface ? nullptr : new (std::nothrow) uint32_t[kPixels];
    if (!bits) {
        close_window();
        g_splash.window.store(nullptr, std::memory_order_relaxed);
        g_splash.active.store(0, std::memory_order_relaxed);
        return 0;
    }
    g_splash.surface_bits = bits;
    g_splash.surface_bitmap = bits;

    splash_render();
    paint(bits);
    clock_type::time_point due = clock_type::now() + kTick;
    while (splash_is_active()) {
        if (!next_tick(due)) break;
        due = clock_type::now() + kTick;
        ++g_splash.frame;
        splash_render();
        paint(bits);
    }

    close_window();
    g_splash.window.store(nullptr, std::memory_order_relaxed);
    g_splash.surface_bits = nullptr;
    g_splash.surface_bitmap = nullptr;
    delete[] bits;
    return 0;
}

bool headless_splash_post_quit(plat_window window) {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    if (!window || reinterpret_cast<uintptr_t>(window) != s.open_handle) return false;
    s.quit = true;
    s.wake.notify_all();
    return true;
}

void headless_splash_fail_next(headless_failure failure) {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    s.fail_next = failure;
}

bool headless_splash_view(uint32_t* latest_frame) {
    headless_screen& s = screen();
    std::lock_guard<std::mutex> hold(s.mutex);
    if (latest_frame) std::memcpy(latest_frame, s.latest, sizeof s.latest);
    return s.open_handle != 0;
}
