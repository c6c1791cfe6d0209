// inflate_raw on arbitrary bytes: every read stays inside the input, every write inside the output (both are
// exact-size heap blocks here), and the result is -1 or a count that fits. A stream that decodes must decode the same
// into a buffer of exactly its size, and fail with one byte less, since output is never truncated. Whenever zlib's raw
// inflate reaches the end of the final block, inflate_raw gives the same bytes (not the reverse: it also accepts
// incomplete and over-subscribed codes and code-length runs past the total, which zlib rejects). Streamed through the
// smallest window, it gives the same bytes again.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kCapacity = 1 << 17;
    std::vector<uint8_t> out(kCapacity), expected(kCapacity);
    z_stream z = {};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = expected.data();
    z.avail_out = static_cast<uInt>(kCapacity);
    const bool zlib_decodes = inflateInit2(&z, -15) == Z_OK && inflate(&z, Z_FINISH) == Z_STREAM_END;
    inflateEnd(&z);

    const int32_t result = inflate_raw(data, size, out.data(), kCapacity);
    if (result < -1 || result > static_cast<int64_t>(kCapacity)) __builtin_trap();
    if (zlib_decodes && result != static_cast<int64_t>(z.total_out)) __builtin_trap();
    if (zlib_decodes && std::memcmp(out.data(), expected.data(), z.total_out) != 0) __builtin_trap();
    if (result < 0) return 0;
    std::vector<uint8_t> window(kInflateMinWindow), streamed;
    auto append = [](void* to, const uint8_t* bytes, uint64_t count) {
        auto* streamed = static_cast<std::vector<uint8_t>*>(to);
        streamed->insert(streamed->end(), bytes, bytes + count);
        return true;
    };
    if (inflate_raw_stream(data, size, window.data(), window.size(), append, &streamed) != result ||
        (result > 0 && std::memcmp(streamed.data(), out.data(), static_cast<size_t>(result)) != 0))
        __builtin_trap();
    std::vector<uint8_t> exact(result > 0 ? result : 1), short_by_one(result > 1 ? result - 1 : 1);
    if (inflate_raw(data, size, exact.data(), static_cast<uint64_t>(result)) != result) __builtin_trap();
    if (std::memcmp(exact.data(), out.data(), static_cast<size_t>(result)) != 0) __builtin_trap();
    if (result > 0 && inflate_raw(data, size, short_by_one.data(), static_cast<uint64_t>(result - 1)) != -1)
        __builtin_trap();
    return 0;
}
