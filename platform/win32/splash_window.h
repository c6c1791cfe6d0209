// The splash window on Windows: its thread procedure and window procedure.
#pragma once

#include <windows.h>

unsigned long splash_thread_main(void* parameter);
LRESULT CALLBACK splash_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
bool splash_post_quit(void* window);

// Called by the process entry once the run is over, before the process ends.
// A run can end within a few milliseconds (the one-tap test, install-only
// mode) while the splash thread is still creating its window; ending the
// process in the middle of that can hang the process's exit under Wine until
// it is killed. This waits, at most 1,000 ms, until the window exists or has
// failed. The splash is not closed: it stays up until the process ends.
void splash_let_window_settle();
