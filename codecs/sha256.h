// SHA-256 (FIPS 180-4) and the file digests the launcher trusts.
#pragma once

#include <cstddef>
#include <cstdint>

// A digest as text: 64 lowercase hexadecimal digits and a NUL.
constexpr int kDigestTextSize = 65;

// Reads the file at path and writes its digest text into out. Returns 0 on
// success, 1 when the file cannot be opened, measured (a size beyond a signed
// 32-bit position included), given a read buffer or read in full; out is then
// left as it was. The file is read in pieces of at most kSha256ReadChunk
// bytes, so memory use does not grow with its size. Callers compare texts byte
// for byte.
int sha256_file_hex(const char* path, char out[kDigestTextSize]);
constexpr size_t kSha256ReadChunk = 128 * 1024;

// Hashing a message that arrives in pieces of any size.
struct sha256_stream {
    uint32_t state[8];
    uint64_t length;      // bytes taken so far
    uint8_t pending[64];  // the start of a block not yet complete
    uint32_t pending_size;
};
void sha256_begin(sha256_stream* stream);
// data may be null when size is 0.
void sha256_update(sha256_stream* stream, const uint8_t* data, size_t size);
// Pads, writes the 32-byte digest; the stream is then spent.
void sha256_end(sha256_stream* stream, uint8_t digest[32]);

// The 32-byte digest of a buffer in memory. data may be null when size is 0.
void sha256_digest(const uint8_t* data, uint64_t size, uint8_t digest[32]);

// The same digest as text, as sha256_file_hex writes it.
void sha256_hex(const uint8_t* data, uint64_t size, char out[kDigestTextSize]);

// Which block function hashing uses now, chosen by the processor's features
// (cpu_features_in_use): "sha-extensions" or "portable".
const char* sha256_implementation();

// The two block functions, for tests that check them against each other:
// count blocks of 64 bytes from data, compressed in order. The SHA-extensions
// one may be called only when cpu_features_in_use() reports sha, ssse3 and
// sse41.
void sha256_blocks_portable(uint32_t state[8], const uint8_t* data, size_t count);
void sha256_blocks_sha_extensions(uint32_t state[8], const uint8_t* data, size_t count);
