// Format notes: ZIP's CRC-32 works on the bits of each byte least significant
// first, which is why the polynomial appears bit-reversed (0xEDB88320) and the
// register shifts right. The register starts at all ones, so leading zero bytes
// still change it, and is complemented at the end.
//
// One table lookup per byte, from a table of the CRCs of the 256 byte values
// computed on first use and kept for the rest of the process: simple, and the
// reference the faster paths are checked against.
#include "tests/reference/crc32_ref.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

uint32_t g_table[256];
bool g_table_ready = false;

void fill_table() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        g_table[n] = c;
    }
    g_table_ready = true;
}

}  // namespace

uint32_t crc32_ref_buffer(const uint8_t* data, uint64_t size) {
    if (!g_table_ready) fill_table();
    uint32_t crc = 0xFFFFFFFFu;
    for (uint64_t i = 0; i < size; ++i) crc = g_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

