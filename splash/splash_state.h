// The splash state: one process-wide record shared by the main thread, which
// writes the splash line, and the splash thread, which draws it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

constexpr int kSplashLineSize = 64;  // 63 glyphs and a NUL

struct splash_state {
    plat_lock lock;              // guards line and percent
    char line[kSplashLineSize];  // only glyphs of the splash font and single spaces
    int32_t percent;             // negative: no progress bar
    std::atomic<int32_t> active; // non-zero while a splash runs
};

extern splash_state g_splash;

// Zeroes the whole record, as a starting splash does.
void splash_state_clear();

inline bool splash_is_active() { return g_splash.active.load(std::memory_order_relaxed) != 0; }
