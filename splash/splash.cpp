#include "splash/splash.h"

#include "platform/platform.h"
#include "services/format.h"
#include "splash/splash_state.h"

namespace {
constexpr uint32_t kStopWaitMs = 3000;
}

void splash_start() {
    if (splash_is_active()) return;
    splash_state_clear();
    plat_lock_init(&g_splash.lock);
    // No other thread exists yet, so the line is written without the lock.
    format_into(g_splash.line, sizeof g_splash.line, "%s", "STARTING UP");
    g_splash.percent = -1;
    g_splash.active.store(1, std::memory_order_relaxed);
    g_splash.thread = plat_thread_start(plat_splash_thread, nullptr);
    // No thread, no window: the run goes on as it does when the window fails.
    if (!g_splash.thread) g_splash.active.store(0, std::memory_order_relaxed);
}

// The handle is read before the flag is cleared: a thread that has no window
// yet will find the flag cleared when it reaches its loop, and one that has
// sees either the flag or the quit message within one 33 ms tick.
//
// A thread that has not ended within the wait may still take the lock, so the
// lock is then left in place; the process ends a few seconds later anyway.
void splash_stop() {
    if (!splash_is_active()) return;
    plat_window window = g_splash.window.load(std::memory_order_relaxed);
    g_splash.active.store(0, std::memory_order_relaxed);
    if (window) plat_splash_post_quit(window);

    bool ended = true;
    if (g_splash.thread) {
        ended = plat_thread_wait(g_splash.thread, kStopWaitMs);
        plat_thread_close(g_splash.thread);
        g_splash.thread = nullptr;
    }
    if (ended) plat_lock_retire(&g_splash.lock);
}
