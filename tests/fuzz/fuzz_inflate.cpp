// inflate_raw on arbitrary bytes: every read stays inside the input, every
// write inside the output (both are exact-size heap blocks here), and the
// result is -1 or a count that fits. A stream that decodes must decode the
// same into a buffer of exactly its size, and fail with one byte less, since
// output is never truncated.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/inflate.h"

namespace {
constexpr uint64_t kCapacity = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(kCapacity);
    int32_t result = inflate_raw(data, size, out.data(), kCapacity);
    if (result < -1 || result > static_cast<int64_t>(kCapacity)) __builtin_trap();
    if (result < 0) return 0;

    std::vector<uint8_t> exact(result > 0 ? result : 1);
    if (inflate_raw(data, size, exact.data(), static_cast<uint64_t>(result)) != result) __builtin_trap();
    if (result > 0 && std::memcmp(exact.data(), out.data(), static_cast<size_t>(result)) != 0) __builtin_trap();
    if (result > 0) {
        std::vector<uint8_t> short_by_one(static_cast<size_t>(result - 1) + 1);
        if (inflate_raw(data, size, short_by_one.data(), static_cast<uint64_t>(result - 1)) != -1) __builtin_trap();
    }
    return 0;
}
