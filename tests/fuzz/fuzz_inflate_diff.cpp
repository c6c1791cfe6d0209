// Differential check against the reference decoder: on every input, at every
// capacity tried, inflate_raw (which takes the BMI2 path where the processor
// has it), inflate_raw_portable and the reference return the same result and
// leave the same bytes in buffers that started out the same. Capacities: a
// large one, then the exact size of the output and sizes below it, around
// where the fast loop hands over to the careful one.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/inflate.h"
#include "tests/reference/inflate_ref.h"

namespace {

constexpr uint64_t kLargeCapacity = 1 << 16;

int32_t decode_alike(const uint8_t* data, size_t size, uint64_t capacity) {
    std::vector<uint8_t> fast(capacity);
    for (size_t i = 0; i < fast.size(); ++i) fast[i] = static_cast<uint8_t>(i * 167 + 13);
    std::vector<uint8_t> portable = fast;
    std::vector<uint8_t> reference = fast;
    int32_t expected = inflate_ref_raw(data, size, capacity ? reference.data() : nullptr, capacity);
    if (inflate_raw(data, size, capacity ? fast.data() : nullptr, capacity) != expected) __builtin_trap();
    if (inflate_raw_portable(data, size, capacity ? portable.data() : nullptr, capacity) != expected) __builtin_trap();
    if (fast != reference || portable != reference) __builtin_trap();
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
    for (uint64_t capacity : {n, n - 1, n / 2, n - 259, n - 260, n - 261}) {
        if (capacity > n) continue;  // wrapped below zero
        decode_alike(data, size, capacity);
    }
    return 0;
}
