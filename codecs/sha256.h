// SHA-256 (FIPS 180-4) and the file digests the launcher trusts.
#pragma once

#include <cstdint>

// A digest as text: 64 lowercase hexadecimal digits and a NUL.
constexpr int kDigestTextSize = 65;

// Reads the whole file at path and writes its digest text into out. Returns 0
// on success, 1 when the file cannot be opened, measured (a size beyond a
// signed 32-bit position included), held in memory or read in full; out is
// then left as it was. Callers compare texts byte for byte.
int sha256_file_hex(const char* path, char out[kDigestTextSize]);

// One compression of a 64-byte block into the eight-word chaining state.
void sha256_compress(uint32_t state[8], const uint8_t block[64]);

// The 32-byte digest of a buffer in memory: the same hashing that
// sha256_file_hex applies to a file's contents, for callers that check
// another implementation against this one. data may be null when size is 0.
void sha256_digest(const uint8_t* data, uint64_t size, uint8_t digest[32]);
