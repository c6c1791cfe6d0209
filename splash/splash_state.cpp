#include "splash/splash_state.h"

#include <cstring>

splash_state g_splash;

void splash_state_clear() {
    std::memset(&g_splash.lock, 0, sizeof g_splash.lock);
    std::memset(g_splash.line, 0, sizeof g_splash.line);
    g_splash.percent = 0;
    g_splash.active.store(0, std::memory_order_relaxed);
    g_splash.window.store(nullptr, std::memory_order_relaxed);
    g_splash.thread = nullptr;
    g_splash.surface_bits = nullptr;
    g_splash.surface_bitmap = nullptr;
    g_splash.memory_dc = nullptr;
    g_splash.frame = 0;
}
