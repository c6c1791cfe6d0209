// The splash state: one process-wide record shared by the main thread, which
// starts and stops the splash and writes the splash line, and the splash
// thread, which owns the window and draws the line.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

constexpr int kSplashLineSize = 64;  // 63 glyphs and a NUL

// The drawing surface: top row first, one 0x00RRGGBB word per pixel, the
// window's client area one to one.
constexpr int kSplashWidth = 460;
constexpr int kSplashHeight = 250;

struct splash_state {
    plat_lock lock;                   // guards line and percent, and the reading of frame
    char line[kSplashLineSize];       // only glyphs of the splash font and single spaces
    int32_t percent;                  // negative: no progress bar
    std::atomic<int32_t> active;      // non-zero while the splash is meant to run
    std::atomic<plat_window> window;  // set by the splash thread; null while no window exists
    plat_thread thread;               // the splash thread, null when none
    uint32_t* surface_bits;           // kSplashWidth x kSplashHeight pixels
    void* surface_bitmap;             // what owns the bits (a DIB section on Windows)
    void* memory_dc;                  // the DC the bitmap is selected into (Windows only)
    int32_t frame;                    // timer ticks since the splash started; splash thread only
};

extern splash_state g_splash;

// Zeroes the whole record, as a starting splash does.
void splash_state_clear();

// The flag and the window handle are shared without the lock; relaxed order
// is enough because the splash thread tests the flag again on every 33 ms tick.
inline bool splash_is_active() { return g_splash.active.load(std::memory_order_relaxed) != 0; }
