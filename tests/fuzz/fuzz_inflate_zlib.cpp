// Differential check against zlib: whenever zlib's raw inflate reaches the end
// of the final block, inflate_raw must return the same count and the same
// bytes. (The reverse does not hold: this decoder also accepts incomplete and
// over-subscribed codes and code-length runs past the total, which zlib
// rejects.)
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/inflate.h"

namespace {
constexpr size_t kCapacity = 1 << 17;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> expected(kCapacity);
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK) return 0;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = expected.data();
    z.avail_out = static_cast<uInt>(expected.size());
    int status = inflate(&z, Z_FINISH);
    uint64_t expected_size = z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END) return 0;

    std::vector<uint8_t> out(expected_size > 0 ? expected_size : 1);
    int32_t result = inflate_raw(data, size, out.data(), expected_size);
    if (result != static_cast<int64_t>(expected_size)) __builtin_trap();
    if (expected_size > 0 && std::memcmp(out.data(), expected.data(), expected_size) != 0) __builtin_trap();
    return 0;
}
