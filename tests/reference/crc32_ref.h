// The byte-at-a-time CRC-32 the launcher shipped first, kept as the reference
// the fast paths in codecs/crc32.cpp are checked against. Tests and fuzz
// targets only.
#pragma once

#include <cstdint>

// CRC-32 of data[0 .. size): reflected polynomial 0xEDB88320, initial value all
// ones, final complement. 0 for an empty buffer; data may then be null.
uint32_t crc32_ref_buffer(const uint8_t* data, uint64_t size);

