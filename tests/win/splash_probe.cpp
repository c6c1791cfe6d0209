// A Windows helper for the end-to-end tests, run under Wine beside the
// launcher. It looks at the launcher from outside, as another program on the
// same desktop would, and prints what it finds as key=value lines.
//
//   splash_probe window [WAIT_MS]   the splash window (class PelkoUpdater):
//                                   its title, styles, outer and client
//                                   rectangles and the screen size;
//                                   waits up to WAIT_MS for it to appear
//   splash_probe close              asks the splash window to close, as the
//                                   close box and Alt+F4 do
//   splash_probe resources EXE      the icon group, version information and
//                                   manifest of EXE, loaded as Windows loads
//                                   them
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kClass[] = "PelkoUpdater";

HWND find_splash(DWORD wait_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(kClass, nullptr);
        if (window || GetTickCount() - start >= wait_ms) return window;
        Sleep(20);
    }
}

int window_report(DWORD wait_ms) {
    HWND window = find_splash(wait_ms);
    std::printf("found=%d\n", window ? 1 : 0);
    if (!window) return 1;
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("title=%s\n", title);
    std::printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
    std::printf("style=0x%08lx\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
    std::printf("exstyle=0x%08lx\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    std::printf("outer=%ld,%ld,%ld,%ld\n", outer.left, outer.top, outer.right, outer.bottom);
    std::printf("client_size=%ld,%ld\n", client.right - client.left, client.bottom - client.top);
    std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
    std::printf("screen=%d,%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::printf("class_style=0x%lx\n", static_cast<unsigned long>(GetClassLongPtrA(window, GCL_STYLE)));
    return 0;
}

int close_request() {
    HWND window = find_splash(0);
    if (!window) {
        std::printf("found=0\n");
        return 1;
    }
    const bool closed = PostMessageA(window, WM_CLOSE, 0, 0) && PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::printf("found=1\nposted=%d\n", closed ? 1 : 0);
    return closed ? 0 : 1;
}

std::string version_string(const void* info, const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", name);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info, path, &value, &length) || !value) return "<missing>";
    return static_cast<const char*>(value);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

void icon_report(HMODULE module) {
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
        int width = 0, height = 0;
        ICONINFO info;
        if (icon && GetIconInfo(icon, &info)) {
            BITMAP bitmap;
            if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap)) {
                width = bitmap.bmWidth;
                height = bitmap.bmHeight;
            }
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
        std::printf("icon_%d=%d,%d\n", size, width, height);
        if (icon) DestroyIcon(icon);
    }

    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    const BYTE* dir = group ? static_cast<const BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    const WORD count = dir ? reinterpret_cast<const WORD*>(dir)[2] : 0;
    std::printf("icon_group_entries=%u\n", count);
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const GroupIconEntry*>(dir + 6 + i * sizeof(GroupIconEntry));
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entry->id), MAKEINTRESOURCEA(3));  // RT_ICON
        const BYTE* bytes = image ? static_cast<const BYTE*>(LockResource(LoadResource(module, image))) : nullptr;
        const DWORD size = image ? SizeofResource(module, image) : 0;
        std::printf("icon_entry=%u,%u,%u,%lu,", entry->width, entry->height, entry->bit_count,
                    static_cast<unsigned long>(entry->bytes));
        for (DWORD b = 0; b < size; ++b) std::printf("%02x", bytes[b]);
        std::printf("\n");
    }
}

int resources_report(const char* exe) {
    HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    std::printf("loaded=%d\n", module ? 1 : 0);
    if (!module) return 1;
    icon_report(module);

    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    if (manifest) {
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        const DWORD size = SizeofResource(module, manifest);
        std::printf("manifest=");
        for (DWORD i = 0; i < size; ++i) std::printf("%02x", static_cast<unsigned char>(text[i]));
        std::printf("\n");
    }
    FreeLibrary(module);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe, &ignored);
    std::string info(size, '\0');
    if (size && GetFileVersionInfoA(exe, 0, size, &info[0])) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
            std::printf("file_version=%d.%d.%d.%d\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                        HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
            std::printf("product_version=%d.%d.%d.%d\n", HIWORD(fixed->dwProductVersionMS),
                        LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                        LOWORD(fixed->dwProductVersionLS));
        }
        for (const char* name : {"FileVersion", "ProductVersion", "InternalName", "OriginalFilename", "ProductName",
                                 "FileDescription", "CompanyName"})
            std::printf("string_%s=%s\n", name, version_string(info.data(), name).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "window") == 0)
        return window_report(argc >= 3 ? static_cast<DWORD>(std::atoi(argv[2])) : 0);
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) return close_request();
    if (argc == 3 && std::strcmp(argv[1], "resources") == 0) return resources_report(argv[2]);
    std::fprintf(stderr, "usage: splash_probe window [WAIT_MS] | close | resources EXE\n");
    return 2;
}
