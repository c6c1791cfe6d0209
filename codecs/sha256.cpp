// SHA-256 as published in FIPS 180-4, without deviation, and the file digest
// the launcher compares against its expected texts.
//
// Two block functions do the work: the processor's SHA instructions where it
// has them (sha256_x86.cpp), and otherwise a portable one, unrolled, with the
// message schedule kept in sixteen words. Both give the same digest for every
// input.
//
// Format notes:
// - The message is processed in 64-byte blocks, each read as sixteen
//   big-endian 32-bit words; the digest is the final state written big-endian.
// - Padding appends the byte 0x80, zeros up to 8 bytes short of a block
//   boundary and the message length in bits as a 64-bit big-endian number. A
//   tail of 56 bytes or more has no room for the length and spills into a
//   second block.
#include "codecs/sha256.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/cpu_features.h"
#include "codecs/file_buffer.h"
#include "codecs/sha256_constants.h"
#include "platform/platform.h"
#include "services/format.h"

namespace {

// First 32 bits of the fractional parts of the square roots of the first eight
// primes (FIPS 180-4, 5.3.3).
constexpr uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr int kBlockSize = 64;
constexpr int kDigestSize = 32;
// Where the 64-bit length starts within the last padded block.
constexpr int kLengthOffset = kBlockSize - 8;

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void store_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t big_sigma0(uint32_t x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
inline uint32_t big_sigma1(uint32_t x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
inline uint32_t small_sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t small_sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }
// Ch and Maj with one operation fewer than the standard's forms.
inline uint32_t choose(uint32_t e, uint32_t f, uint32_t g) { return g ^ (e & (f ^ g)); }
inline uint32_t majority(uint32_t a, uint32_t b, uint32_t c) { return (a & b) | (c & (a | b)); }

// The end of a block (FIPS 180-4, 6.2.2 step 4): the working variables are
// added into the hash value.
inline void add_working_variables(uint32_t state[8], uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e,
                                  uint32_t f, uint32_t g, uint32_t h) {
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

// Picks the block function once per call of the hashing entry points, so a
// test that limits the processor's features sees the change at once.
using block_function = void (*)(uint32_t*, const uint8_t*, size_t);

block_function choose_block_function() {
    cpu_features f = cpu_features_in_use();
    if (f.sha && f.ssse3 && f.sse41) return sha256_blocks_sha_extensions;
    return sha256_blocks_portable;
}

}  // namespace

// The rounds of FIPS 180-4, 6.2.2, unrolled so the working variables never
// move: each round renames them instead (the round that would shift a..h into
// b..a takes its arguments one place along), and every round constant and
// schedule index is a constant. Only sixteen schedule words are live at once;
// word t replaces word t - 16 in place.
void sha256_blocks_portable(uint32_t state[8], const uint8_t* data, size_t count) {
#define PELKO_SHA256_ROUND(a, b, c, d, e, f, g, h, t)                                  \
    do {                                                                               \
        h += big_sigma1(e) + choose(e, f, g) + kSha256RoundConstants[(t)] + w[(t)&15]; \
        d += h;                                                                        \
        h += big_sigma0(a) + majority(a, b, c);                                        \
    } while (0)
#define PELKO_SHA256_EIGHT(t)                                \
    do {                                                     \
        PELKO_SHA256_ROUND(a, b, c, d, e, f, g, h, (t) + 0); \
        PELKO_SHA256_ROUND(h, a, b, c, d, e, f, g, (t) + 1); \
        PELKO_SHA256_ROUND(g, h, a, b, c, d, e, f, (t) + 2); \
        PELKO_SHA256_ROUND(f, g, h, a, b, c, d, e, (t) + 3); \
        PELKO_SHA256_ROUND(e, f, g, h, a, b, c, d, (t) + 4); \
        PELKO_SHA256_ROUND(d, e, f, g, h, a, b, c, (t) + 5); \
        PELKO_SHA256_ROUND(c, d, e, f, g, h, a, b, (t) + 6); \
        PELKO_SHA256_ROUND(b, c, d, e, f, g, h, a, (t) + 7); \
    } while (0)
#define PELKO_SHA256_SCHEDULE(i) \
    (w[(i)] += small_sigma1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + small_sigma0(w[((i) + 1) & 15]))
#define PELKO_SHA256_SCHEDULE_FOUR(i)                                                          \
    (PELKO_SHA256_SCHEDULE(i), PELKO_SHA256_SCHEDULE((i) + 1), PELKO_SHA256_SCHEDULE((i) + 2), \
     PELKO_SHA256_SCHEDULE((i) + 3))
#define PELKO_SHA256_SCHEDULED_SIXTEEN(t)                                                            \
    do {                                                                                             \
        PELKO_SHA256_SCHEDULE_FOUR(0), PELKO_SHA256_SCHEDULE_FOUR(4), PELKO_SHA256_SCHEDULE_FOUR(8), \
            PELKO_SHA256_SCHEDULE_FOUR(12);                                                          \
        PELKO_SHA256_EIGHT(t);                                                                       \
        PELKO_SHA256_EIGHT((t) + 8);                                                                 \
    } while (0)

    for (; count > 0; --count, data += kBlockSize) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

        PELKO_SHA256_EIGHT(0);
        PELKO_SHA256_EIGHT(8);
        PELKO_SHA256_SCHEDULED_SIXTEEN(16);
        PELKO_SHA256_SCHEDULED_SIXTEEN(32);
        PELKO_SHA256_SCHEDULED_SIXTEEN(48);

        add_working_variables(state, a, b, c, d, e, f, g, h);
    }
#undef PELKO_SHA256_SCHEDULED_SIXTEEN
#undef PELKO_SHA256_SCHEDULE_FOUR
#undef PELKO_SHA256_SCHEDULE
#undef PELKO_SHA256_EIGHT
#undef PELKO_SHA256_ROUND
}

const char* sha256_implementation() {
    return choose_block_function() == sha256_blocks_sha_extensions ? "sha-extensions" : "portable";
}

void sha256_begin(sha256_stream* stream) {
    std::memcpy(stream->state, kInitialState, sizeof stream->state);
    stream->length = 0;
    stream->pending_size = 0;
}

void sha256_update(sha256_stream* stream, const uint8_t* data, size_t size) {
    if (size == 0) return;
    block_function blocks = choose_block_function();
    stream->length += size;

    if (stream->pending_size > 0) {
        size_t take = kBlockSize - stream->pending_size;
        if (take > size) take = size;
        std::memcpy(stream->pending + stream->pending_size, data, take);
        stream->pending_size += static_cast<uint32_t>(take);
        data += take;
        size -= take;
        if (stream->pending_size < kBlockSize) return;
        blocks(stream->state, stream->pending, 1);
        stream->pending_size = 0;
    }

    // Whole blocks are hashed where they lie; only a partial block is copied.
    size_t whole = size / kBlockSize;
    if (whole > 0) blocks(stream->state, data, whole);
    size_t left = size - whole * kBlockSize;
    if (left > 0) std::memcpy(stream->pending, data + whole * kBlockSize, left);
    stream->pending_size = static_cast<uint32_t>(left);
}

void sha256_end(sha256_stream* stream, uint8_t digest[32]) {
    uint8_t tail[2 * kBlockSize] = {};
    uint32_t left = stream->pending_size;
    std::memcpy(tail, stream->pending, left);
    tail[left] = 0x80;
    int tail_blocks = left < kLengthOffset ? 1 : 2;
    uint64_t bits = stream->length * 8;
    uint8_t* length_field = tail + tail_blocks * kBlockSize - 8;
    for (int i = 0; i < 8; ++i) length_field[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    choose_block_function()(stream->state, tail, static_cast<size_t>(tail_blocks));

    for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, stream->state[i]);
}

void sha256_digest(const uint8_t* data, uint64_t size, uint8_t digest[32]) {
    sha256_stream stream;
    sha256_begin(&stream);
    // size_t may be narrower than the size on some targets; feed in pieces.
    while (size > 0) {
        size_t piece = size > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(size);
        sha256_update(&stream, data, piece);
        data += piece;
        size -= piece;
    }
    sha256_end(&stream, digest);
}

namespace {

void digest_text(const uint8_t digest[kDigestSize], char out[kDigestTextSize]) {
    for (int i = 0; i < kDigestSize; ++i) format_into(out + 2 * i, 3, "%02x", static_cast<unsigned>(digest[i]));
    out[2 * kDigestSize] = 0;
}

}  // namespace

void sha256_hex(const uint8_t* data, uint64_t size, char out[kDigestTextSize]) {
    uint8_t digest[kDigestSize];
    sha256_digest(data, size, digest);
    digest_text(digest, out);
}

int sha256_file_hex(const char* path, char out[kDigestTextSize]) {
    FILE* file = plat_fopen(path, "rb");
    if (!file) return 1;
    // Unbuffered: the pieces go straight from the file into the read buffer,
    // with no stream buffer in between.
    std::setvbuf(file, nullptr, _IONBF, 0);
    uint64_t size;
    if (!file_measure(file, &size)) {
        std::fclose(file);
        return 1;
    }

    // The file streams through one buffer, small enough to stay in the cache
    // while it is hashed.
    size_t chunk = size < kSha256ReadChunk ? static_cast<size_t>(size) : kSha256ReadChunk;
    uint8_t* buffer = nullptr;
    if (chunk > 0) {
        buffer = static_cast<uint8_t*>(std::malloc(chunk));
        if (!buffer) {
            std::fclose(file);
            return 1;
        }
    }

    sha256_stream stream;
    sha256_begin(&stream);
    uint64_t left = size;
    while (left > 0) {
        size_t want = left < chunk ? static_cast<size_t>(left) : chunk;
        size_t got = std::fread(buffer, 1, want, file);
        // A short read means the file shrank (or failed) after it was
        // measured; a digest of part of it would be wrong.
        if (got != want) break;
        sha256_update(&stream, buffer, got);
        left -= got;
    }
    std::fclose(file);
    std::free(buffer);
    if (left > 0) return 1;

    uint8_t digest[kDigestSize];
    sha256_end(&stream, digest);
    digest_text(digest, out);
    return 0;
}
