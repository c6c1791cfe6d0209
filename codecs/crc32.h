// The CRC-32 that ZIP stores for every entry.
#pragma once

#include <cstdint>

// CRC-32 of data[0 .. size): reflected polynomial 0xEDB88320, initial value all
// ones, final complement. 0 for an empty buffer; data may then be null.
uint32_t crc32_buffer(const uint8_t* data, uint64_t size);
