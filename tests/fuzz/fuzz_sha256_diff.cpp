// Differential libFuzzer target for SHA-256: the launcher's hashing on each
// path the processor offers (SHA instructions, portable code) against the
// first, simple version in tests/reference.
//
// Input: one byte s, then the message. s seeds the sizes of the pieces the
// message is fed in (from empty to a few blocks), so a block is completed from
// pending bytes, from the data directly or from both. Every digest must be the
// reference's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/cpu_features.h"
#include "codecs/sha256.h"
#include "tests/reference/sha256_ref.h"

namespace {

void digest_in_pieces(const uint8_t* data, size_t size, uint32_t seed, uint8_t out[32]) {
    sha256_stream s;
    sha256_begin(&s);
    size_t at = 0;
    while (at < size) {
        seed = seed * 1103515245u + 12345u;
        size_t piece = (seed >> 16) % 200;
        if (piece > size - at) piece = size - at;
        sha256_update(&s, data + at, piece);
        at += piece;
    }
    sha256_end(&s, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t seed = data[0];
    // An exactly-sized copy, so a read past the message is caught.
    size_t length = size - 1;
    uint8_t* message = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (!message) return 0;
    std::memcpy(message, data + 1, length);

    uint8_t expected[32];
    sha256_ref_digest(message, length, expected);

    cpu_features none{};
    const cpu_features* limits[] = {nullptr, &none};  // what the processor has, then nothing
    for (const cpu_features* limit : limits) {
        cpu_features_limit(limit);
        uint8_t whole[32], pieces[32];
        sha256_digest(message, length, whole);
        digest_in_pieces(message, length, seed, pieces);
        if (std::memcmp(whole, expected, 32) != 0 || std::memcmp(pieces, expected, 32) != 0) std::abort();
    }
    cpu_features_limit(nullptr);
    std::free(message);
    return 0;
}
