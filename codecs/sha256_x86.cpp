// SHA-256 blocks with the processor's SHA instructions (Intel SDM vol. 1,
// "Intel SHA Extensions"), built for any x86-64 target and called only when
// cpuid reports them (codecs/cpu_features.h).
//
// Format notes:
// - sha256rnds2 runs two rounds on a state split across two registers in the
//   order the instruction wants: one holds A, B, E, F and the other C, D, G, H
//   (highest lane first). The eight state words are shuffled into that order
//   once per call and back at the end.
// - Its third operand carries W[t] + K[t] for the two rounds in its low two
//   lanes; four words at a time are prepared, so every group of four rounds
//   runs sha256rnds2 twice, the second time on the upper pair moved down.
// - sha256msg1 and sha256msg2 compute the message schedule four words at a
//   time: msg1 adds sigma0 of the next words to W[t-16..t-13]; the caller adds
//   W[t-7..t-4]; msg2 adds sigma1 of W[t-2], W[t-1] and of the two words it
//   has just produced.
#include "codecs/cpu_features.h"
#include "codecs/sha256.h"
#include "codecs/sha256_constants.h"

#if PELKO_CPU_X86

#include <immintrin.h>

namespace {

#define PELKO_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
// The helpers pass the state by reference; only when inlined does it stay in
// registers (a build optimised for size would otherwise call them).
#define PELKO_SHA_INLINE PELKO_SHA_TARGET inline __attribute__((always_inline))

// Four rounds: t is the first, wk holds W[t..t+3] + K[t..t+3].
PELKO_SHA_INLINE void four_rounds(__m128i& abef, __m128i& cdgh, __m128i wk) {
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

PELKO_SHA_INLINE __m128i round_constants(int t) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + t));
}

// Rounds t..t+3 with the schedule words in current (W[t..t+3]), while the
// schedule moves on: next (which holds W[t+4-16..] after msg1) becomes
// W[t+4..t+7], and previous (W[t-4..t-1]) gets msg1 for the group after next.
// The last groups pass want_next / want_msg1 false where no word is needed.
PELKO_SHA_INLINE void scheduled_rounds(__m128i& abef, __m128i& cdgh, int t, __m128i current, __m128i& next,
                                       __m128i& previous, bool want_next, bool want_msg1) {
    __m128i wk = _mm_add_epi32(current, round_constants(t));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    if (want_next) {
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4));
        next = _mm_sha256msg2_epu32(next, current);
    }
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
    if (want_msg1) previous = _mm_sha256msg1_epu32(previous, current);
}

}  // namespace

PELKO_SHA_TARGET void sha256_blocks_sha_extensions(uint32_t state[8], const uint8_t* data, size_t count) {
    // Each 32-bit word of a block is big-endian.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // From a, b, c, d / e, f, g, h (lowest lane first) to the instruction's
    // A, B, E, F / C, D, G, H.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, data += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        const __m128i* words = reinterpret_cast<const __m128i*>(data);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(words + 0), byte_swap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byte_swap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byte_swap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byte_swap);

        four_rounds(abef, cdgh, _mm_add_epi32(m0, round_constants(0)));
        four_rounds(abef, cdgh, _mm_add_epi32(m1, round_constants(4)));
        m0 = _mm_sha256msg1_epu32(m0, m1);
        four_rounds(abef, cdgh, _mm_add_epi32(m2, round_constants(8)));
        m1 = _mm_sha256msg1_epu32(m1, m2);

        // From round 12 on, each group also extends the schedule. The four
        // registers take turns: m0 holds W[16..19] after round 15, m1
        // W[20..23], and so on around.
        scheduled_rounds(abef, cdgh, 12, m3, m0, m2, true, true);
        scheduled_rounds(abef, cdgh, 16, m0, m1, m3, true, true);
        scheduled_rounds(abef, cdgh, 20, m1, m2, m0, true, true);
        scheduled_rounds(abef, cdgh, 24, m2, m3, m1, true, true);
        scheduled_rounds(abef, cdgh, 28, m3, m0, m2, true, true);
        scheduled_rounds(abef, cdgh, 32, m0, m1, m3, true, true);
        scheduled_rounds(abef, cdgh, 36, m1, m2, m0, true, true);
        scheduled_rounds(abef, cdgh, 40, m2, m3, m1, true, true);
        scheduled_rounds(abef, cdgh, 44, m3, m0, m2, true, true);
        scheduled_rounds(abef, cdgh, 48, m0, m1, m3, true, true);
        scheduled_rounds(abef, cdgh, 52, m1, m2, m0, true, false);
        scheduled_rounds(abef, cdgh, 56, m2, m3, m1, true, false);
        four_rounds(abef, cdgh, _mm_add_epi32(m3, round_constants(60)));

        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#else

// Never chosen: without x86 no processor reports the SHA instructions.
void sha256_blocks_sha_extensions(uint32_t state[8], const uint8_t* data, size_t count) {
    sha256_blocks_portable(state, data, count);
}

#endif
