// The process entry of Pelko-Setup.exe: a GUI program whose work is the run
// sequence. The C runtime has already split the command line.
#include <windows.h>
#include <cstdlib>

#include "core/launcher_main.h"
#include "platform/win32/splash_window.h"
#include "platform/win32/win32_layer.h"
#include "splash/splash.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // From here on every DLL, including those that Windows' own libraries load
    // later (a window brings uxtheme.dll), comes from the system folder, never
    // from the folder the launcher was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The file dialog's library is loaded now, before the splash thread
    // exists: under Wine, loading it later while that thread creates its
    // window at times leaves both waiting on each other for good.
    load_system_library(L"comdlg32.dll");
    const int code = launcher_main(__argc, __argv);
    splash_let_window_settle();
    // The splash stays up until the run is over, and goes just before the
    // process: under Wine a process that ends while its splash thread still
    // owns a window is at times killed (exit code -9) instead of ending with
    // its own code.
    splash_stop();
    return code;
}
