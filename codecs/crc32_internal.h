// What the two CRC-32 paths share; not for use outside crc32*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// Buffers shorter than this go through the portable path: the vector path
// starts from four 16-byte blocks.
constexpr uint64_t kCrc32ClmulMinimum = 64;

// Runs size bytes through the register crc (not complemented at either end)
// eight bytes per step.
uint32_t crc32_update_portable(uint32_t crc, const uint8_t* data, size_t size);

// The same with carry-less multiplication, for at least kCrc32ClmulMinimum
// bytes, and only when crc32_clmul_available() says so (elsewhere it is the
// portable update).
uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t size);
