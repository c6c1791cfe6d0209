#pragma once

// Runs the whole launcher: from the arguments and environment to the started
// game. Returns the process exit code.
int launcher_main(int argc, char** argv);
