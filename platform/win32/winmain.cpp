// The process entry of Pelko-Setup.exe: a GUI program whose work is the run
// sequence. The C runtime has already split the command line.
#include <windows.h>
#include <cstdlib>

#include "core/launcher_main.h"
#include "platform/win32/splash_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // From here on every DLL, including those that Windows' own libraries load
    // later (a window brings uxtheme.dll), comes from the system folder, never
    // from the folder the launcher was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const int code = launcher_main(__argc, __argv);
    splash_let_window_settle();
    return code;
}
