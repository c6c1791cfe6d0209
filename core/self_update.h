// Replacing the installed launcher with a newer build named by the manifest,
// and handing the run over to it.
#pragma once

#include "core/run.h"

// Runs only when the manifest names a launcher build (URL and digest). Returns
// kRunGoesOn when this launcher carries on (its digest is current, or any step
// failed and was undone), or the exit code of the run that the new launcher
// finished (1 when it did not finish in time).
int self_update(const char* home, const char* room_code, const char* launcher_url, const char* launcher_sha256);
