// The run context: what the run sequence holds on the main thread for the
// whole run, and the few rules shared by its phases.
#pragma once

#include <cstdint>

#include "core/manifest.h"

// Buffer sizes of the run context. Texts that do not fit are cut.
constexpr int kRoomCodeSize = 16;  // 15 characters A-Z 0-9 and a NUL
constexpr int kHomeSize = 1024;
constexpr int kLauncherPathSize = 1024;
constexpr int kVersionSize = 128;   // the version record's first line
constexpr int kGameDirSize = 1200;  // the current record's first line
constexpr int kGameExeSize = 1300;
constexpr int kRomPathSize = 1400;

// A phase either lets the run go on or ends it with a process exit code.
constexpr int kRunGoesOn = -1;

struct run_context {
    const char* update_base;
    char room_code[kRoomCodeSize];
    int from_filename;
    char home[kHomeSize];
    char launcher_path[kLauncherPathSize];
    char installed_version[kVersionSize];
    manifest_values manifest;
    char game_dir[kGameDirSize];
    char game_exe[kGameExeSize];
    char patched_rom[kRomPathSize];
};

// Shows an error on the splash, keeps it there for wait_ms and gives the exit
// code of a run that ends on an error the player must act on.
int end_run_with_error(const char* message, uint32_t wait_ms);
