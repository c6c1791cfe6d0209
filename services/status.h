// The status line: what the splash window shows the player.
#pragma once

#include <cstdint>

// Shows message on the splash, without a progress bar. Does nothing (and
// takes no lock) while no splash runs. Main thread only.
void status_set(const char* message);

// Reduces text to what the splash font can draw (upper-case letters, digits,
// "!%-./:" and single spaces for everything else, at most six words and 63
// characters) and stores it with percent as the splash line.
void splash_set_line(const char* text, int32_t percent);
