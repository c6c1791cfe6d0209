// The process entry of Pelko-Setup.exe: a GUI program whose work is the run
// sequence. The C runtime has already split the command line.
#include <windows.h>
#include <cstdlib>

#include "core/launcher_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return launcher_main(__argc, __argv); }
