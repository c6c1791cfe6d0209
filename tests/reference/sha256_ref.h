// The first SHA-256 of the launcher, kept as the reference that the fast one
// is checked against: one readable compression function, the whole file read
// into one heap block and hashed in place.
#pragma once

#include <cstdint>

// As sha256_file_hex: 0 with the digest text (64 lowercase hex digits and a
// NUL) in out, or 1 with out untouched when the file cannot be opened,
// measured, held or read in full.
int sha256_ref_file_hex(const char* path, char out[65]);

// One compression of a 64-byte block into the eight-word chaining state.
void sha256_ref_compress(uint32_t state[8], const uint8_t block[64]);

// The 32-byte digest of a buffer; data may be null when size is 0.
void sha256_ref_digest(const uint8_t* data, uint64_t size, uint8_t digest[32]);
