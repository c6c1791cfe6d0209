// Room codes of invites: from an invite link among the arguments, or from the
// name of an invite installer ("Pelko-Setup-AB12.exe").
#pragma once

#include "core/run.h"

// Fills code from the invite links among the arguments: the first full code
// (4 or more characters) wins; otherwise the last link's short or empty code;
// left empty when no argument carries the prefix.
void room_code_from_args(int argc, char** argv, char code[kRoomCodeSize]);

// Reads the code from the launcher's own file name. 1 with code filled, or 0
// with code left empty.
int room_code_from_file_name(char code[kRoomCodeSize]);

// The log line that says whether this run joins a room, and why.
void log_room_code_outcome(const char* code, int from_filename);

// One-tap test mode: writes "roomcode=<code> from_filename=<0|1>" and a line
// end to the file named by report_path (nothing when it cannot be opened).
// Returns the exit code of the run, 0.
int onetap_test_report(const char* code, int from_filename, const char* report_path);
