// The splash window: a fixed-size captioned window on a thread of its own,
// with a timer that redraws the whole picture every 33 ms into a DIB section
// and one block copy per paint. The main thread never touches the window; it
// writes the splash line and the active flag, and posts the quit message.
#include "platform/win32/splash_window.h"

#include "splash/splash_render.h"
#include "splash/splash_state.h"

namespace {

constexpr char kClassName[] = "PelkoUpdater";
constexpr char kTitle[] = "Pelko";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU;  // close box and system menu; no sizing, no min/max
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMs = 33;
constexpr WORD kIconGroup = 1;

static_assert(kStyle == 0x00C80000, "caption and system menu only");

void register_class(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.style = 0;
    wc.lpfnWndProc = splash_window_proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconGroup));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;  // the surface covers the client area; never erase it
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
}

// The surface: a top-down 32-bit DIB of the client area's size, so rows run
// from the top and each pixel is 0x00RRGGBB, exactly as splash_render writes.
HBITMAP create_surface(HDC window_dc, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kSplashWidth;
    info.bmiHeader.biHeight = -kSplashHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    static_assert(sizeof(BITMAPINFOHEADER) == 40, "the bitmap header is 40 bytes");
    return CreateDIBSection(window_dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// Releases what the thread created, in the order it was made, and clears the
// state's handles.
void tear_down() {
    HWND window = static_cast<HWND>(g_splash.window.load(std::memory_order_relaxed));
    if (window) {
        KillTimer(window, kTimerId);
        DestroyWindow(window);
        g_splash.window.store(nullptr, std::memory_order_relaxed);
    }
    if (g_splash.memory_dc) {
        DeleteDC(static_cast<HDC>(g_splash.memory_dc));
        g_splash.memory_dc = nullptr;
    }
    if (g_splash.surface_bitmap) {
        DeleteObject(static_cast<HBITMAP>(g_splash.surface_bitmap));
        g_splash.surface_bitmap = nullptr;
    }
    g_splash.surface_bits = nullptr;
}

}  // namespace

unsigned long splash_thread_main(void*) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    register_class(instance);

    // Centred on the primary screen; on a screen smaller than the window the
    // edges go negative (signed division truncates toward zero).
    RECT outer = {0, 0, kSplashWidth, kSplashHeight};
    AdjustWindowRect(&outer, kStyle, FALSE);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    HWND window =
        CreateWindowExA(0, kClassName, kTitle, kStyle, left, top, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) {
        // Nothing else exists yet. The run goes on without a splash.
        g_splash.active.store(0, std::memory_order_relaxed);
        return 0;
    }
    g_splash.window.store(window, std::memory_order_relaxed);

    HDC window_dc = GetDC(window);
    HDC memory_dc = window_dc ? CreateCompatibleDC(window_dc) : nullptr;
    void* bits = nullptr;
    HBITMAP surface = memory_dc ? create_surface(window_dc, &bits) : nullptr;
    if (surface) SelectObject(memory_dc, surface);
    if (window_dc) ReleaseDC(window, window_dc);
    g_splash.memory_dc = memory_dc;
    g_splash.surface_bitmap = surface;
    g_splash.surface_bits = static_cast<uint32_t*>(bits);
    if (!surface || !bits) {
        // Nothing to draw on: end as if the window had failed.
        tear_down();
        g_splash.active.store(0, std::memory_order_relaxed);
        return 0;
    }

    // The first paint must show a complete picture.
    splash_render();
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, kTimerId, kTickMs, nullptr);

    // The tick every 33 ms means a cleared flag is seen within one tick even
    // when the stop could not post the quit message (it came before the window
    // existed).
    while (splash_is_active()) {
        MSG msg;
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    tear_down();
    return 0;
}

LRESULT CALLBACK splash_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_TIMER:
            // Only this thread touches the counter; splash_render reads it
            // under the lock together with the line.
            ++g_splash.frame;
            splash_render();
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            BitBlt(dc, 0, 0, kSplashWidth, kSplashHeight, static_cast<HDC>(g_splash.memory_dc), 0, 0, SRCCOPY);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_CLOSE:
            // The close box, the system menu's Close and Alt+F4 all end here:
            // the splash stays until the launcher closes it.
            return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

bool splash_post_quit(void* window) { return PostMessageA(static_cast<HWND>(window), WM_QUIT, 0, 0) != 0; }

void splash_let_window_settle() {
    constexpr DWORD kSettleMs = 1000, kPollMs = 5;
    const DWORD start = GetTickCount();
    while (splash_is_active() && !g_splash.window.load(std::memory_order_relaxed) && GetTickCount() - start < kSettleMs)
        Sleep(kPollMs);
}
