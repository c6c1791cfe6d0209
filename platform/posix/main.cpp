// The native entry: the same run sequence on the posix layer.
#include "core/launcher_main.h"

int main(int argc, char** argv) { return launcher_main(argc, argv); }
