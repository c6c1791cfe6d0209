// Format notes: ZIP's CRC-32 works on the bits of each byte least significant
// first, which is why the polynomial appears bit-reversed (0xEDB88320) and the
// register shifts right. The register starts at all ones, so leading zero bytes
// still change it, and is complemented at the end.
//
// The portable path takes eight bytes per step ("slicing by 8"): the register
// is linear in the message, so the effect of eight bytes is the XOR of eight
// lookups, one per byte, in tables that carry a byte's effect across the bytes
// that follow it. The tables are computed by the compiler, so they need no
// first-use fill and no ready flag. The carry-less multiplication path, on
// processors that have it, is in crc32_clmul.cpp.
#include "codecs/crc32.h"

#include <array>
#include <cstring>

#include "codecs/crc32_internal.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

// tables[0][n]: the register after shifting byte n through it.
// tables[k][n]: the same, followed by k zero bytes.
constexpr crc_tables make_tables() {
    crc_tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (size_t k = 1; k < 8; ++k)
        for (uint32_t n = 0; n < 256; ++n) tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
    return tables;
}

constexpr crc_tables kTables = make_tables();

}  // namespace

uint32_t crc32_update_portable(uint32_t crc, const uint8_t* data, size_t size) {
    for (; size >= 8; data += 8, size -= 8) {
        // Little-endian words: the register lines up with the first four bytes.
        uint32_t low = crc ^ (uint32_t{data[0]} | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) |
                              (uint32_t{data[3]} << 24));
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
              kTables[4][low >> 24] ^ kTables[3][data[4]] ^ kTables[2][data[5]] ^ kTables[1][data[6]] ^
              kTables[0][data[7]];
    }
    for (; size > 0; ++data, --size) crc = kTables[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t crc32_portable(const uint8_t* data, uint64_t size) {
    return ~crc32_update_portable(0xFFFFFFFFu, data, static_cast<size_t>(size));
}

uint32_t crc32_continue(uint32_t crc, const uint8_t* data, uint64_t size) {
    // Small buffers are not worth the set-up of the vector path.
    if (size >= kCrc32ClmulMinimum && crc32_clmul_available())
        return ~crc32_update_clmul(~crc, data, static_cast<size_t>(size));
    return ~crc32_update_portable(~crc, data, static_cast<size_t>(size));
}

uint32_t crc32_buffer(const uint8_t* data, uint64_t size) { return crc32_continue(0, data, size); }

const char* crc32_implementation() { return crc32_clmul_available() ? "pclmul" : "portable"; }
