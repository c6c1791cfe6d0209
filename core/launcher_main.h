#pragma once

#include "core/signed_manifest.h"

// Runs the whole launcher: from the arguments and environment to the started
// game. Returns the process exit code.
int launcher_main(int argc, char** argv);

// The same with these release keys in place of the built-in ones.
int run_launcher(int argc, char** argv, const release_keys& keys);
