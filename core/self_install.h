// Every start keeps a copy of the launcher in the home directory and points
// the pelko:// URL scheme at it, for the current user only.
#pragma once

#include "core/run.h"

// Moves an invite installer to the plain name (when from_filename is 1), copies
// the launcher to {home}\Pelko-Setup.exe, writes {home}\updater.txt and
// registers the scheme. launcher_path is updated when the file was moved.
// Reports nothing; each step is independent of the others' success.
void self_install(char launcher_path[kLauncherPathSize], const char* home, int from_filename);
