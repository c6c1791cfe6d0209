// The posix layer's splash: the thread, the surface, the 33 ms ticks and the
// stop protocol of the Windows splash window, on a window that is never shown.
// What the window would put on the screen is kept, so tests can look at it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

unsigned long headless_splash_thread_main(void* parameter);
bool headless_splash_post_quit(plat_window window);

// Makes the next window fail as a Windows session without a display does
// (window), or after its window, when the surface cannot be had (surface).
enum class headless_failure { none, window, surface };
void headless_splash_fail_next(headless_failure failure);

// Whether a window is open now; the latest frame the current (or last) one
// painted (kSplashWidth x kSplashHeight pixels) is copied where asked.
bool headless_splash_view(uint32_t* latest_frame);
