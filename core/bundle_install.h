// Installing a new client bundle from the update site, and carrying the
// player's own files into it.
#pragma once

#include "core/run.h"

// The files that belong to the player rather than to the bundle, in the order
// they are carried.
constexpr const char* kUserFiles[] = {"patched.nds", "player_name.txt", "keymap.txt",
                                      "ui_lang.txt", "savestate.vela",  "softrender.txt"};

// Installs the manifest's bundle unless the installed version is the remote
// one. On success the records name the new version and ctx->installed_version
// becomes it; on any failure nothing is changed and the run goes on.
void install_bundle(run_context* ctx);

// Copies each user file from the old game directory into the new one, or
// failing that from the newest older version that has it.
void carry_forward_user_files(const char* home, const char* old_game_dir, const char* new_game_dir);
