// The last step of a run: start the game with its command line, environment
// and log file, then end without waiting for it.
#pragma once

#include <cstddef>

#include "core/run.h"

constexpr int kCommandLineSize = 4096;

// The launcher's first argument when it reads (atoi) as 1 to 4, else 0.
int launch_number(int argc, char** argv);

// True when an argument is exactly "--safe-video" or "--safe".
bool safe_video_requested(int argc, char** argv);

// The game's command line: executable, ROM, game directory (each quoted),
// launch number, relay server, port 6100 and, for an invite, --room=CODE.
void compose_game_command_line(char* out, size_t size, const run_context& ctx, int launch_number);

// Shifts game.log to game.1.log, ... game.7.log (the oldest is dropped) and
// copies game.1.log to game.prev.log. Every failure is ignored.
void rotate_game_logs(const char* home);

// Starts the game and ends the run: returns exit code 0.
int start_game(const run_context& ctx, int argc, char** argv);
