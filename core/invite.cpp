// An invite names a room by a code of letters and digits. The link form is
// "pelko://join/CODE" (what the web page hands to Windows), the file form
// "Pelko-Setup-CODE.exe" (what the player downloaded).
#include "core/invite.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/text.h"
#include "platform/platform.h"
#include "services/log.h"

namespace {

constexpr char kLinkPrefix[] = "pelko://join/";
constexpr size_t kLinkPrefixLength = sizeof kLinkPrefix - 1;  // 13
constexpr char kInviteFilePrefix[] = "Pelko-Setup-";
constexpr size_t kInviteFilePrefixLength = sizeof kInviteFilePrefix - 1;  // 12
constexpr int kModulePathWideSize = 260;
constexpr int kBaseNameUtf8Size = 512;
constexpr size_t kFullCode = 4;
constexpr size_t kMaxCode = kRoomCodeSize - 1;

bool code_character(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Takes letters and digits (upper-cased) from text until another character,
// the end of the text, or `limit` bytes of it; at most 15 are kept.
size_t read_code(const char* text, size_t limit, char code[kRoomCodeSize]) {
    size_t n = 0;
    for (size_t i = 0; i < limit && text[i] && code_character(static_cast<unsigned char>(text[i])); ++i) {
        if (n == kMaxCode) break;
        code[n++] = ascii_upper(text[i]);
    }
    code[n] = 0;
    return n;
}

}  // namespace

void room_code_from_args(int argc, char** argv, char code[kRoomCodeSize]) {
    code[0] = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg) continue;
        if (std::strlen(arg) < kLinkPrefixLength || !ascii_equal_n(arg, kLinkPrefix, kLinkPrefixLength)) continue;
        if (read_code(arg + kLinkPrefixLength, SIZE_MAX, code) >= kFullCode) return;
    }
}

int room_code_from_file_name(char code[kRoomCodeSize]) {
    code[0] = 0;
    char16_t wide[kModulePathWideSize];
    uint32_t length = plat_module_path_wide(wide, kModulePathWideSize);
    if (length == 0 || length >= static_cast<uint32_t>(kModulePathWideSize)) return 0;
    wide[length] = 0;

    char name[kBaseNameUtf8Size];
    if (plat_wide_to_utf8(base_name_of(wide), -1, name, sizeof name) == 0) return 0;

    if (std::strlen(name) < kInviteFilePrefixLength || !ascii_equal_n(name, kInviteFilePrefix, kInviteFilePrefixLength))
        return 0;
    const char* rest = name + kInviteFilePrefixLength;
    size_t rest_length = std::strlen(rest);
    // A code part of 4 to 15 bytes before ".exe"; a longer one is not cut, it
    // is no invite name at all.
    if (rest_length < kFullCode + 4 || rest_length > kMaxCode + 4) return 0;
    if (!ascii_equal_n(rest + rest_length - 4, ".exe", 4)) return 0;

    char found[kRoomCodeSize];
    if (read_code(rest, rest_length - 4, found) < kFullCode) return 0;
    std::memcpy(code, found, sizeof found);
    return 1;
}

void log_room_code_outcome(const char* code, int from_filename) {
    if (!code[0]) {
        log_printf("one-tap: no room code -- this launch will host a fresh room\n");
        return;
    }
    const char* source = from_filename ? "the name of the installer file that was launched -- launch the INSTALLED "
                                         "launcher instead to host a fresh room"
                                       : "a clicked pelko:// invite link";
    log_printf("one-tap: joining room %s (source: %s)\n", code, source);
}

int onetap_test_report(const char* code, int from_filename, const char* report_path) {
    if (FILE* f = plat_fopen(report_path, "w")) {
        file_printf(f, "roomcode=%s from_filename=%d\n", code, from_filename);
        std::fclose(f);
    }
    return 0;
}
