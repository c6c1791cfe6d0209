// The home directory: one version directory per installed bundle, and two
// records that say which one is current and which version it is.
//
//   {home}\current.txt     path of the current game directory, no line end
//   {home}\version.txt     the installed version and a line feed
//   {home}\app.{version}\kestrel-core\   a game directory: Pelko.exe (or the
//                          older kestrel-core.exe), version.txt, user files
#pragma once

#include <cstddef>

#include "core/run.h"

// The best version key found so far is kept in this many bytes (a longer key is
// cut to 63).
constexpr int kVersionKeySize = 64;

// The two existence tests of the launcher: any file system object at path
// (a folder named Pelko.exe counts), and a file that opens for reading (it
// does not).
bool path_exists(const char* path);
bool opens_for_reading(const char* path);

// Calls visit(context, name) for every directory that pattern (a folder and a
// name with wildcards) lists, in listing order.
void for_each_directory(const char* pattern, void (*visit)(void* context, const char* name), void* context);

// Calls visit(context, name) for every directory listed under home with the
// pattern {home}\app.*, in listing order.
void for_each_version_directory(const char* home, void (*visit)(void* context, const char* name), void* context);

// Reads the first line of a record file into out: at most size - 1 bytes, cut
// at the first CR or LF. A missing or unreadable file reads as empty.
void read_record(const char* path, char* out, size_t size);

// Writes a record whole, in text mode: value and, with line_end, a line feed.
// The bytes go to path + ".tmp", reach the disk, and that file is then moved
// over the record in one step, so that a run killed at any moment leaves the
// old record or the new one, never a part of either. When the temporary file
// cannot be made or moved, the record is written in place; when it cannot be
// written whole (a full disk), the old record stays. True when it was written.
bool write_record(const char* path, const char* value, bool line_end);

// The text after the last "." of a version directory's name (the whole name
// when it has none). Version directories rank by it as plain byte strings.
const char* version_key(const char* directory_name);

// 1 when some version directory's kestrel-core folder holds a game, with the
// path of the best one (highest version key, first listed among equals) cut
// into out when out is not null and out_size is not 0; 0 when none does.
int find_newest_game(const char* home, char* out, size_t out_size);

// Puts the version record back to the version of the current game directory
// when an interrupted update left the two apart.
void repair_version_record(const char* home);

// Decides this run's game directory, game executable and patched ROM path
// (ctx->game_dir, ctx->game_exe, ctx->patched_rom). Ends the run with exit
// code 1 when no game executable exists anywhere; manifest_read says whether
// this run's update check read the site's manifest values, which picks the
// message shown.
int resolve_game(run_context* ctx, bool manifest_read);
