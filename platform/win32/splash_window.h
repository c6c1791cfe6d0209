// The splash window on Windows: its thread procedure and window procedure.
#pragma once

#include <windows.h>

unsigned long splash_thread_main(void* parameter);
LRESULT CALLBACK splash_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
bool splash_post_quit(void* window);
