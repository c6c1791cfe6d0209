// Starting and stopping the splash window. The window itself lives on a thread
// of its own (plat_splash_thread) and redraws itself every 33 ms from the
// splash line; the main thread only calls these two and the status line
// (services/status.h).
#pragma once

// Sets the splash line to STARTING UP without a progress bar and starts the
// splash thread. Returns at once, without waiting for the window; when the
// thread cannot start, no splash is active. Does nothing while a splash is
// already active.
void splash_start();

// Closes the splash: clears the active flag, posts the quit message to the
// window and waits up to 3,000 ms for the thread. Returns at once when no
// splash runs (never started, or its window could not be created).
void splash_stop();
