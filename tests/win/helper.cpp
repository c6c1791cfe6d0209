// A Windows program the end-to-end tests run under Wine to see what Wine's own
// tools cannot show:
//   pelko_test_helper run-file <file>     starts the command line written in
//                                          <file> exactly as given (CreateProcessA,
//                                          no application name), waits, prints
//                                          "exit=<code>"
//   pelko_test_helper regvalue <key> [<name>]
//                                          prints "type=<t> length=<n> hex=<bytes>"
//                                          for a value under HKEY_CURRENT_USER
//   pelko_test_helper format-check         runs format_into on this C runtime and
//                                          prints one line per case
//   pelko_test_helper sha256 <file> [portable]
//                                          hashes the file with sha256_file_hex and
//                                          prints "path=<block function> digest=<text>";
//                                          with "portable" the processor's features
//                                          are hidden first
//   pelko_test_helper inflate <stream> <size> [portable]
//                                          decodes the raw deflate <stream> into a
//                                          buffer of <size> bytes and prints
//                                          "inflate=<path> crc32=<path> result=<count>
//                                          crc=<CRC-32 of the buffer>"; with
//                                          "portable" the processor's features are
//                                          hidden first
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/cpu_features.h"
#include "codecs/crc32.h"
#include "codecs/inflate.h"
#include "codecs/sha256.h"
#include "services/format.h"

namespace {

int run_file(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return 2;
    std::string line;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) line.append(buffer, n);
    std::fclose(f);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("start failed %lu\n", GetLastError());
        return 3;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("exit=%lu\n", code);
    return 0;
}

int reg_value(const char* key_path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("no key\n");
        return 1;
    }
    DWORD type = 0, length = 0;
    unsigned char data[2048];
    length = sizeof data;
    LONG r = RegQueryValueExA(key, name, nullptr, &type, data, &length);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        std::printf("no value\n");
        return 1;
    }
    std::printf("type=%lu length=%lu hex=", type, length);
    for (DWORD i = 0; i < length; ++i) std::printf("%02x", data[i]);
    std::printf("\n");
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

int sha256(const char* path, bool portable) {
    if (portable) {
        cpu_features none{};
        cpu_features_limit(&none);
    }
    char digest[kDigestTextSize];
    if (sha256_file_hex(path, digest) != 0) {
        std::printf("path=%s failed\n", sha256_implementation());
        return 1;
    }
    std::printf("path=%s digest=%s\n", sha256_implementation(), digest);
    return 0;
}

int inflate(const char* stream_path, const char* size_text, bool portable) {
    if (portable) {
        cpu_features none{};
        cpu_features_limit(&none);
    }
    FILE* f = std::fopen(stream_path, "rb");
    if (!f) return 2;
    std::vector<uint8_t> stream;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) stream.insert(stream.end(), chunk, chunk + n);
    std::fclose(f);
    uint64_t size = std::strtoull(size_text, nullptr, 10);
    std::vector<uint8_t> out(size > 0 ? size : 1);
    int32_t result = inflate_raw(stream.data(), stream.size(), out.data(), size);
    std::printf("inflate=%s crc32=%s result=%ld crc=%08lx\n", inflate_implementation(), crc32_implementation(),
                static_cast<long>(result), static_cast<unsigned long>(crc32_buffer(out.data(), size)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "run-file") == 0) return run_file(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "regvalue") == 0) return reg_value(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (argc >= 2 && std::strcmp(argv[1], "format-check") == 0) return format_check();
    if (argc >= 3 && std::strcmp(argv[1], "sha256") == 0)
        return sha256(argv[2], argc >= 4 && std::strcmp(argv[3], "portable") == 0);
    if (argc >= 4 && std::strcmp(argv[1], "inflate") == 0)
        return inflate(argv[2], argv[3], argc >= 5 && std::strcmp(argv[4], "portable") == 0);
    std::fprintf(stderr, "usage: pelko_test_helper run-file <file> | regvalue <key> [<name>] | format-check |\n"
                 "       sha256 <file> [portable] | inflate <stream> <size> [portable]\n");
    return 2;
}
