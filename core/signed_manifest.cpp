// The signature file holds one line per signing key: 128 hexadecimal digits,
// the ECDSA P-256 signature r‖s over the SHA-256 of the manifest's bytes. The
// manifest carries "serial": "N", at most 18 decimal digits, compared as a
// number; a newer release is published under a higher serial, a rollback too.
#include "core/signed_manifest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/sha256.h"
#include "core/home_layout.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/http.h"
#include "services/log.h"
#include "services/manifest_lookup.h"

namespace {

constexpr size_t kMaxSignedManifest = 1 << 20;
constexpr int kSignatureDigits = 128;
// Two lines, one per key during a rotation, with their line ends.
constexpr size_t kMaxSignatureFile = 2 * (kSignatureDigits + 2);
constexpr int kSignatureSize = 64;
constexpr size_t kMaxSerialDigits = 18;
constexpr int kPathSize = 1100;
constexpr int kTempPathSize = 260;
constexpr int kSerialTextSize = 32;

bool refuse() {
    log_printf(
        "  (manifest signature missing or invalid \xE2\x80\x94 launching installed/bundled app without update)\n");
    return false;
}

// 1 to 18 decimal digits, leading zeros allowed.
bool parse_serial(const char* text, uint64_t* serial) {
    const size_t digits = text ? std::strspn(text, "0123456789") : 0;
    if (digits == 0 || digits > kMaxSerialDigits || text[digits] != 0) return false;
    *serial = std::strtoull(text, nullptr, 10);
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The signatures of the file at path, at most count of them; 0 when the file
// is missing, too long, or holds anything but lines of 128 hex digits.
int read_signatures(const char* path, uint8_t signatures[][kSignatureSize], int count) {
    char text[kMaxSignatureFile + 2] = "";
    FILE* f = plat_fopen(path, "rb");
    if (!f) return 0;
    const size_t size = std::fread(text, 1, kMaxSignatureFile + 1, f);
    std::fclose(f);
    if (size > kMaxSignatureFile || std::memchr(text, 0, size)) return 0;
    int found = 0;
    for (char* line = text; *line && found < count;) {
        const size_t length = std::strcspn(line, "\r\n");
        if (length != kSignatureDigits) return 0;
        for (int i = 0; i < kSignatureSize; ++i) {
            const int high = hex_digit(line[2 * i]), low = hex_digit(line[2 * i + 1]);
            if (high < 0 || low < 0) return 0;
            signatures[found][i] = static_cast<uint8_t>(high << 4 | low);
        }
        ++found;
        line += length + std::strspn(line + length, "\r\n");
    }
    return found;
}

}  // namespace

bool verify_manifest(const char* text, size_t length, const release_keys& keys, const char* update_base,
                     const char* home) {
    if (length > kMaxSignedManifest) return refuse();
    char url[kPathSize], temp[kTempPathSize] = "", path[kPathSize];
    format_into(url, sizeof url, "%s/manifest.json.sig", update_base);
    plat_temp_path(temp, sizeof temp);
    format_into(path, sizeof path, "%spelko_manifest.%lu.json.sig", temp, plat_process_id());
    uint8_t signatures[kMaxReleaseKeys][kSignatureSize];
    const int count = http_get_to_file(url, path) == 0 ? read_signatures(path, signatures, kMaxReleaseKeys) : 0;

    uint8_t digest[32];
    sha256_digest(reinterpret_cast<const uint8_t*>(text), length, digest);
    bool signed_by_a_key = false;
    for (int s = 0; s < count && !signed_by_a_key; ++s)
        for (int k = 0; k < keys.count && !signed_by_a_key; ++k)
            signed_by_a_key = plat_ecdsa_p256_verify(keys.points[k], digest, signatures[s]);
    if (!signed_by_a_key) return refuse();

    uint64_t serial = 0;
    char* serial_text = json_get_string(text, "serial");
    const bool has_serial = parse_serial(serial_text, &serial);
    std::free(serial_text);
    if (!has_serial) return refuse();

    // A missing or garbled record counts as the build's floor, as does one below it.
    char record[kPathSize], kept_text[kSerialTextSize];
    format_into(record, sizeof record, "%s%cserial.txt", home, kPathSeparator);
    read_record(record, kept_text, sizeof kept_text);
    uint64_t kept = 0;
    if (!parse_serial(kept_text, &kept) || kept < keys.serial_floor) kept = keys.serial_floor;
    char serial_digits[kSerialTextSize], kept_digits[kSerialTextSize];
    format_into(serial_digits, sizeof serial_digits, "%llu", static_cast<unsigned long long>(serial));
    format_into(kept_digits, sizeof kept_digits, "%llu", static_cast<unsigned long long>(kept));
    if (serial < kept) {
        log_printf(
            "  (manifest serial %s is older than %s \xE2\x80\x94 launching installed/bundled app without update)\n",
            serial_digits, kept_digits);
        return false;
    }
    if (serial > kept) write_record(record, serial_digits, true);
    return true;
}
