// The control for the planted-DLL test: a program built the usual way, which
// imports WinHTTP and shows a window without restricting where DLLs come
// from. Beside planted DLLs it loads both, which shows that the test can see
// a launcher that would.
#include <windows.h>
#include <winhttp.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WinHttpCloseHandle(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = "PelkoUnguarded";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "PelkoUnguarded", "unguarded", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, instance, nullptr);
    MSG message;
    for (int i = 0; i < 20 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&message);
    DestroyWindow(window);
    return 0;
}
