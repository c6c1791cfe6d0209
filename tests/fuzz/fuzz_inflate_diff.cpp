// Differential check against the reference decoder: on every input, at every
// capacity tried, inflate_raw (which takes the BMI path where the processor
// has it) and inflate_raw_portable return what the reference returns, with
// the same bytes up to the count, or after a failure the same bytes the
// reference had written when it failed. Each decodes into a heap block of
// exactly the capacity, so that AddressSanitizer reports any write past it,
// and does so twice, into blocks filled differently, which must not change
// what it produces. Capacities: a large one, then the exact size of the
// output and sizes below it, around where the fast loop hands over to the
// careful one.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/inflate.h"
#include "tests/reference/inflate_ref.h"

namespace {

constexpr uint64_t kLargeCapacity = 1 << 16;

std::vector<uint8_t> filled(uint64_t capacity, uint8_t seed) {
    std::vector<uint8_t> block(capacity);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>((i * 167 + 13) ^ seed);
    return block;
}

int32_t decode_alike(const uint8_t* data, size_t size, uint64_t capacity) {
    std::vector<uint8_t> reference = filled(capacity, 0);
    uint64_t written = 0;
    int32_t expected = inflate_ref_raw(data, size, capacity ? reference.data() : nullptr, capacity, &written);
    uint64_t produced = expected >= 0 ? static_cast<uint64_t>(expected) : written;
    for (auto decode : {inflate_raw, inflate_raw_portable}) {
        for (uint8_t seed : {uint8_t{0}, uint8_t{0xFF}}) {
            std::vector<uint8_t> out = filled(capacity, seed);
            if (decode(data, size, capacity ? out.data() : nullptr, capacity) != expected) __builtin_trap();
            if (produced > 0 && std::memcmp(out.data(), reference.data(), produced) != 0) __builtin_trap();
        }
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int32_t result = decode_alike(data, size, kLargeCapacity);
    if (result < 0) {
        decode_alike(data, size, 0);
        decode_alike(data, size, 300);
        return 0;
    }
    uint64_t n = static_cast<uint64_t>(result);
    for (uint64_t capacity : {n, n - 1, n / 2, n - 264, n - 265, n - 266}) {
        if (capacity > n) continue;  // wrapped below zero
        decode_alike(data, size, capacity);
    }
    return 0;
}
