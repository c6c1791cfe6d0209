// The manifest is read by text search, not parsed, which fixes how the site
// must write it:
//   - "version" is the first quoted "version" anywhere in the document;
//   - the Windows entry starts at the first quoted "windows", and its keys
//     ("url", "sha256", "updater_url", "updater_sha256") are each the first
//     occurrence after that point, in any order;
//   - every value is a string, taken byte for byte between its quotes.
#include "core/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "services/format.h"
#include "services/http.h"
#include "services/log.h"
#include "services/manifest_lookup.h"

namespace {

constexpr int kManifestUrlSize = 2048;
constexpr int kTempPathSize = 260;
constexpr int kManifestFileSize = 1024;
constexpr char kPlatformKey[] = "windows";

}  // namespace

char* fetch_manifest(const char* update_base, size_t* length) {
    char url[kManifestUrlSize];
    format_into(url, sizeof url, "%s/manifest.json", update_base);
    log_printf("checking %s ...\n", url);

    // The process id keeps simultaneous runs apart; the copy stays after the run.
    char temp[kTempPathSize] = "";
    plat_temp_path(temp, sizeof temp);
    char path[kManifestFileSize];
    format_into(path, sizeof path, "%spelko_manifest.%lu.json", temp, plat_process_id());

    if (http_get_to_file(url, path) != 0) {
        log_printf("  (manifest unreachable \xE2\x80\x94 launching installed/bundled app without update)\n");
        return nullptr;
    }

    FILE* f = plat_fopen(path, "rb");
    if (!f) return nullptr;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::rewind(f);
    char* text = size >= 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!text) {
        std::fclose(f);
        return nullptr;
    }
    *length = std::fread(text, 1, static_cast<size_t>(size), f);
    text[*length] = 0;
    std::fclose(f);
    return text;
}

void free_manifest_values(manifest_values* values) {
    std::free(values->remote_version);
    std::free(values->bundle_url);
    std::free(values->bundle_sha256);
    std::free(values->launcher_url);
    std::free(values->launcher_sha256);
    *values = manifest_values{};
}

manifest_outcome read_manifest(const char* text, manifest_values* out) {
    *out = manifest_values{};
    char* version = json_get_string(text, "version");
    if (!version) {
        log_printf("  (no version in manifest)\n");
        return manifest_outcome::no_version;
    }
    log_printf("remote version: %s\n", version);

    char platform_key[sizeof kPlatformKey + 2];
    format_into(platform_key, sizeof platform_key, "\"%s\"", kPlatformKey);
    const char* entry = std::strstr(text, platform_key);
    char* url = entry ? json_get_string(entry, "url") : nullptr;
    char* sha256 = entry ? json_get_string(entry, "sha256") : nullptr;
    if (!url || !sha256) {
        // Without both, launcher keys are never used either.
        log_printf("  (no %s build in manifest)\n", kPlatformKey);
        std::free(version);
        std::free(url);
        std::free(sha256);
        return manifest_outcome::no_windows_build;
    }
    out->remote_version = version;
    out->bundle_url = url;
    out->bundle_sha256 = sha256;
    out->launcher_url = json_get_string(entry, "updater_url");
    out->launcher_sha256 = json_get_string(entry, "updater_sha256");
    return manifest_outcome::values;
}
