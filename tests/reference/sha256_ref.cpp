// SHA-256 as published in FIPS 180-4, without deviation, and the file digest
// as the launcher first computed it.
//
// Written to be read, not to be fast: one compression function with the
// standard's own names, no unrolling, no processor-specific instructions. The
// launcher's own version must give the same digest for every input and is
// checked against this one; change neither the hashing nor the file handling
// here.
//
// Format notes:
// - The message is processed in 64-byte blocks, each read as sixteen
//   big-endian 32-bit words; the digest is the final state written big-endian.
// - Padding appends the byte 0x80, zeros up to 8 bytes short of a block
//   boundary and the message length in bits as a 64-bit big-endian number. A
//   tail of 56 bytes or more has no room for the length and spills into a
//   second block.
#include "tests/reference/sha256_ref.h"

#include <cstring>

#include "codecs/file_buffer.h"
#include "services/format.h"

namespace {

// First 32 bits of the fractional parts of the square roots of the first eight
// primes (FIPS 180-4, 5.3.3).
constexpr uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// First 32 bits of the fractional parts of the cube roots of the first 64
// primes (FIPS 180-4, 4.2.2).
constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr int kBlockSize = 64;
constexpr int kDigestSize = 32;
// Where the 64-bit length starts within the last padded block.
constexpr int kLengthOffset = kBlockSize - 8;

uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t load_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void store_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void sha256_ref_compress(uint32_t state[8], const uint8_t block[64]) {
    // Message schedule (FIPS 180-4, 6.2.2 step 1).
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        uint32_t sigma0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t sigma1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = sigma1 + w[t - 7] + sigma0 + w[t - 16];
    }

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        uint32_t big_sigma1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
        uint32_t choose = (e & f) ^ (~e & g);
        uint32_t t1 = h + big_sigma1 + choose + kRoundConstants[t] + w[t];
        uint32_t big_sigma0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
        uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = big_sigma0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void sha256_ref_digest(const uint8_t* data, uint64_t size, uint8_t digest[32]) {
    uint32_t state[8];
    std::memcpy(state, kInitialState, sizeof state);

    // Whole blocks are hashed where they lie; only the tail is copied.
    uint64_t offset = 0;
    while (size - offset >= kBlockSize) {
        sha256_ref_compress(state, data + offset);
        offset += kBlockSize;
    }

    uint8_t tail[2 * kBlockSize] = {};
    uint64_t left = size - offset;
    if (left > 0) std::memcpy(tail, data + offset, static_cast<size_t>(left));
    tail[left] = 0x80;
    int tail_blocks = left < kLengthOffset ? 1 : 2;
    uint64_t bits = size * 8;
    uint8_t* length_field = tail + tail_blocks * kBlockSize - 8;
    for (int i = 0; i < 8; ++i) length_field[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    for (int i = 0; i < tail_blocks; ++i) sha256_ref_compress(state, tail + i * kBlockSize);

    for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, state[i]);
}

int sha256_ref_file_hex(const char* path, char out[65]) {
    file_buffer file;
    if (!file_buffer_read(path, &file)) return 1;

    uint8_t digest[kDigestSize];
    sha256_ref_digest(file.data, file.size, digest);
    file_buffer_free(&file);

    for (int i = 0; i < kDigestSize; ++i) format_into(out + 2 * i, 3, "%02x", static_cast<unsigned>(digest[i]));
    out[2 * kDigestSize] = 0;
    return 0;
}
