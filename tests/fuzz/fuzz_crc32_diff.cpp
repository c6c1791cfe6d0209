// Differential check of the CRC-32 paths: on every input, at each of the first
// sixteen starting offsets (so the vector path meets every alignment), the
// chosen path, the portable one, the carry-less multiplication one (where the
// processor has it) and the reference agree.
#include <cstddef>
#include <cstdint>

#include "codecs/crc32.h"
#include "tests/reference/crc32_ref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool clmul = crc32_clmul_available();
    for (size_t offset = 0; offset < 16 && offset <= size; ++offset) {
        const uint8_t* p = data + offset;
        size_t n = size - offset;
        uint32_t expected = crc32_ref_buffer(p, n);
        if (crc32_buffer(p, n) != expected) __builtin_trap();
        if (crc32_portable(p, n) != expected) __builtin_trap();
        if (clmul && crc32_clmul(p, n) != expected) __builtin_trap();
    }
    return 0;
}
