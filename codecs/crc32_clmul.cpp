// CRC-32 by carry-less multiplication (PCLMULQDQ), for x86 processors that
// have it. The instruction is used only after cpuid has reported it
// (codecs/cpu_features.h), so the same executable runs everywhere; elsewhere
// crc32_clmul_available() is false.
//
// Format notes: a CRC is the remainder of the message, as a polynomial over
// GF(2), times x^32, divided by the generator P. Remainders add (XOR), so the
// message may be cut into 16-byte blocks and folded: with R the remainder-like
// value of everything up to a block, R * x^128 + block carries it one block
// further, and R * x^128 can be brought back under 128 bits by multiplying
// its two 64-bit halves by x^(128+64) and x^128, each taken modulo P (32-bit
// constants). Four blocks are carried side by side, 64 bytes per step, and
// folded into one at the end. What is left is a 16-byte value with the same
// remainder as the message so far, which the table path finishes along with
// the last few bytes.
//
// In ZIP's bit order (each byte's lowest bit first, which carries the highest
// power of x) a 64 x 64-bit carry-less product comes out shifted by one place:
// in that order it is x * A * B. The fold constants therefore carry one power
// of x less: x^(F+63) and x^(F-1) modulo P to move a value F bits on.
#include "codecs/cpu_features.h"
#include "codecs/crc32.h"
#include "codecs/crc32_internal.h"

#if PELKO_CPU_X86

#include <emmintrin.h>
#include <wmmintrin.h>

namespace {

// x^n modulo P, with P in its usual form (x^32 + x^26 + ... + 1): the
// coefficient of x^d is bit d.
constexpr uint64_t x_to_the_mod_p(int n) {
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r >> 32) r ^= 0x104C11DB7ull;
    }
    return r;
}

// A polynomial of degree below 64 as a multiply operand in ZIP's bit order:
// the coefficient of x^d at bit 63 - d.
constexpr uint64_t in_zip_order(uint64_t polynomial) {
    uint64_t out = 0;
    for (int d = 0; d < 64; ++d)
        if ((polynomial >> d) & 1) out |= uint64_t{1} << (63 - d);
    return out;
}

// The constants that move a 128-bit value on by bits: for its first
// (higher-order) 64-bit half in the low lane, for its second in the high lane.
struct fold_constants {
    uint64_t first_half;
    uint64_t second_half;
};
constexpr fold_constants fold_by(int bits) {
    return {in_zip_order(x_to_the_mod_p(bits + 63)), in_zip_order(x_to_the_mod_p(bits - 1))};
}
constexpr fold_constants kFold512 = fold_by(512);
constexpr fold_constants kFold128 = fold_by(128);

PELKO_TARGET("pclmul") inline __m128i fold(__m128i value, __m128i constants, __m128i next) {
    __m128i first = _mm_clmulepi64_si128(value, constants, 0x00);
    __m128i second = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(first, second), next);
}

}  // namespace

PELKO_TARGET("pclmul") uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t size) {
    const __m128i* blocks = reinterpret_cast<const __m128i*>(data);
    // The register goes into the first four message bytes: starting from
    // crc is the same as starting from 0 with those bytes changed by it.
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128(blocks), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = _mm_loadu_si128(blocks + 1);
    __m128i x2 = _mm_loadu_si128(blocks + 2);
    __m128i x3 = _mm_loadu_si128(blocks + 3);
    blocks += 4;
    size -= 64;

    const __m128i by512 =
        _mm_set_epi64x(static_cast<long long>(kFold512.second_half), static_cast<long long>(kFold512.first_half));
    for (; size >= 64; size -= 64, blocks += 4) {
        x0 = fold(x0, by512, _mm_loadu_si128(blocks));
        x1 = fold(x1, by512, _mm_loadu_si128(blocks + 1));
        x2 = fold(x2, by512, _mm_loadu_si128(blocks + 2));
        x3 = fold(x3, by512, _mm_loadu_si128(blocks + 3));
    }

    const __m128i by128 =
        _mm_set_epi64x(static_cast<long long>(kFold128.second_half), static_cast<long long>(kFold128.first_half));
    __m128i x = fold(x0, by128, x1);
    x = fold(x, by128, x2);
    x = fold(x, by128, x3);
    for (; size >= 16; size -= 16, ++blocks) x = fold(x, by128, _mm_loadu_si128(blocks));

    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
    crc = crc32_update_portable(0, rest, sizeof rest);
    return crc32_update_portable(crc, reinterpret_cast<const uint8_t*>(blocks), size);
}

bool crc32_clmul_available() { return cpu_features_in_use().pclmul; }

#else

bool crc32_clmul_available() { return false; }

uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t size) {
    return crc32_update_portable(crc, data, size);
}

#endif

uint32_t crc32_clmul(const uint8_t* data, uint64_t size) {
    if (size < kCrc32ClmulMinimum) return crc32_portable(data, size);
    return ~crc32_update_clmul(0xFFFFFFFFu, data, static_cast<size_t>(size));
}
