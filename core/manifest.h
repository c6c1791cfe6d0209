// The update check: fetch the site's manifest and read what it names.
#pragma once

#include <cstddef>

// What the manifest names, each a separate heap text (null when absent). The
// run keeps them until the process ends.
struct manifest_values {
    char* remote_version;
    char* bundle_url;
    char* bundle_sha256;
    char* launcher_url;     // may be absent
    char* launcher_sha256;  // may be absent
};

// Frees the values and clears them.
void free_manifest_values(manifest_values* values);

enum class manifest_outcome { values, no_version, no_windows_build };

// Downloads {update_base}/manifest.json into the temporary folder and reads it
// whole: its bytes, NUL-terminated, and their count in *length. The text
// (heap, caller frees), or null when unreachable or unreadable.
char* fetch_manifest(const char* update_base, size_t* length);

// Looks the values up in the manifest text.
manifest_outcome read_manifest(const char* text, manifest_values* out);
