// A Windows program the end-to-end tests run under Wine beside the launcher,
// to see what Wine's own tools cannot show. It prints key=value lines.
//   run-file FILE     starts the command line in FILE as it is (CreateProcessA), waits: exit=CODE
//   regdump KEY       value=SUBKEY|NAME|TYPE|HEX OF THE STORED BYTES under HKEY_CURRENT_USER\KEY
//   format-check      format_into on this C runtime, one line per case
//   sha256 FILE [portable], inflate RAW-DEFLATE-FILE SIZE [portable]
//                     the path each codec takes and its result ("portable" hides the processor's features)
//   window            the client area on screen of the splash window, found by its class
//   resources EXE     EXE's icon group 1, manifest and version information, as loaded
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/cpu_features.h"
#include "codecs/crc32.h"
#include "codecs/inflate.h"
#include "codecs/sha256.h"
#include "services/format.h"

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void print_hex(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) std::printf("%02x", static_cast<const unsigned char*>(data)[i]);
    std::printf("\n");
}

int run_file(const char* path) {
    std::string line = read_file(path);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 3;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit=%lu\n", code);
    return 0;
}

int reg_dump(HKEY parent, const char* path, const std::string& shown) {
    HKEY key;
    if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    char name[256];
    unsigned char data[2048];
    DWORD name_size = sizeof name, type = 0, size = sizeof data;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i) {
        std::printf("value=%s|%s|%lu|", shown.c_str(), name, type);
        print_hex(data, size);
        name_size = sizeof name, size = sizeof data;
    }
    name_size = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, name_size = sizeof name)
        reg_dump(key, name, shown + "\\" + name);
    RegCloseKey(key);
    return 0;
}

int format_check() {
    char small[16];
    std::memset(small, 'x', sizeof small);
    int n = format_into(small, sizeof small, "%s", "abcdefghijklmnopqrst");
    std::printf("cut=%d|%s\n", n, small);
    char keep[4] = {'k', 'e', 'e', 'p'};
    n = format_into(keep, 0, "%d", 12345);
    std::printf("zero=%d|%.4s\n", n, keep);
    char wide[64];
    n = format_into(wide, sizeof wide, "%s%c%s|%d|%lu|%02x|%%", "a", '\\', "b", -7, 4000000000UL, 10u);
    std::printf("conversions=%d|%s\n", n, wide);
    return 0;
}

int codec(int argc, char** argv) {
    if (std::strcmp(argv[argc - 1], "portable") == 0) {
        cpu_features none{};
        cpu_features_limit(&none);
    }
    if (std::strcmp(argv[1], "sha256") == 0) {
        char digest[kDigestTextSize] = "failed";
        sha256_file_hex(argv[2], digest);
        std::printf("path=%s\ndigest=%s\n", sha256_implementation(), digest);
        return 0;
    }
    std::string stream = read_file(argv[2]);
    uint64_t size = std::strtoull(argv[3], nullptr, 10);
    std::vector<uint8_t> out(size + 1);
    int32_t result = inflate_raw(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), out.data(), size);
    std::printf("inflate=%s\ncrc32=%s\nresult=%ld\ncrc=%08lx\n", inflate_implementation(), crc32_implementation(),
                static_cast<long>(result), static_cast<unsigned long>(crc32_buffer(out.data(), size)));
    return 0;
}

int window_report() {
    HWND window = FindWindowA("PelkoUpdater", nullptr);
    RECT client = {};
    POINT origin = {0, 0};
    if (!window || !GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return 1;
    std::printf("client=%ld,%ld,%ld,%ld\n", origin.x, origin.y, client.right, client.bottom);
    return 0;
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

int resources_report(const char* exe) {
    HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 1;
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
        ICONINFO info = {};
        BITMAP bitmap = {};
        if (icon && GetIconInfo(icon, &info)) GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        std::printf("icon_%d=%ld,%ld\n", size, bitmap.bmWidth, bitmap.bmHeight);
    }
    auto resource = [&](WORD id, WORD type, DWORD* size) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
        *size = found ? SizeofResource(module, found) : 0;
        return found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    };
    DWORD size = 0;
    const BYTE* group = resource(1, 14, &size);  // RT_GROUP_ICON
    for (WORD i = 0; group && i < reinterpret_cast<const WORD*>(group)[2]; ++i) {
        const auto* entry = reinterpret_cast<const GroupIconEntry*>(group + 6 + i * sizeof(GroupIconEntry));
        const BYTE* image = resource(entry->id, 3, &size);  // RT_ICON
        std::printf("icon_entry=%u,%u,%u,%lu,", entry->width, entry->height, entry->bit_count, entry->bytes);
        print_hex(image, size);
    }
    const BYTE* manifest = resource(1, 24, &size);  // RT_MANIFEST
    std::printf("manifest=");
    print_hex(manifest, size);

    DWORD ignored = 0;
    std::string info(GetFileVersionInfoSizeA(exe, &ignored), '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (info.empty() || !GetFileVersionInfoA(exe, 0, info.size(), &info[0]) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        return 1;
    std::printf("file_version=%u.%u.%u.%u\nproduct_version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                LOWORD(fixed->dwProductVersionLS));
    for (const char* name : {"FileVersion", "ProductVersion", "InternalName", "OriginalFilename", "ProductName"}) {
        std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
        void* value = nullptr;
        if (VerQueryValueA(info.data(), path.c_str(), &value, &length) && value)
            std::printf("%s=%s\n", name, static_cast<const char*>(value));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "run-file" && argc == 3) return run_file(argv[2]);
    if (command == "regdump" && argc == 3) return reg_dump(HKEY_CURRENT_USER, argv[2], "");
    if (command == "format-check") return format_check();
    if ((command == "sha256" && argc >= 3) || (command == "inflate" && argc >= 4)) return codec(argc, argv);
    if (command == "window") return window_report();
    if (command == "resources" && argc == 3) return resources_report(argv[2]);
    std::fprintf(stderr, "pelko_test_helper: unknown command; see the list at the top of helper.cpp\n");
    return 2;
}
