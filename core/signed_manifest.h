// Signed releases. A release manager signs the manifest's bytes offline, with
// a key the update host never sees; a launcher built with the public key reads
// no manifest that the key did not sign, and none older than the newest it
// has read, so that whoever controls the host can neither run code on the
// players' machines nor push them back to an old build.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMaxReleaseKeys = 2;  // two while keys are rotated

struct release_keys {
    int count;                            // 0: manifests are read as they come
    uint8_t points[kMaxReleaseKeys][64];  // each ECDSA P-256 public point, X then Y
    uint64_t serial_floor;                // the lowest serial a fresh install accepts
};

// The keys this build was made with (PELKO_RELEASE_KEY); none by default.
extern const release_keys kBuiltInReleaseKeys;

// Whether the manifest may be read: its bytes (at most 1 MiB) carry a
// signature by one of the keys, fetched from {update_base}/manifest.json.sig,
// and a serial no older than the newest this home has accepted, which is kept
// in {home}\serial.txt. Otherwise logs why, and the manifest counts as not read.
bool verify_manifest(const char* text, size_t length, const release_keys& keys, const char* update_base,
                     const char* home);
