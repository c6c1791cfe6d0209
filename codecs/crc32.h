// The CRC-32 that ZIP stores for every entry.
#pragma once

#include <cstdint>

// CRC-32 of data[0 .. size): reflected polynomial 0xEDB88320, initial value all
// ones, final complement. 0 for an empty buffer; data may then be null. Uses
// carry-less multiplication when the processor has it, the portable path
// otherwise; both give the same value.
uint32_t crc32_buffer(const uint8_t* data, uint64_t size);

// The CRC-32 of some bytes followed by data[0 .. size), from crc, the CRC-32
// of those bytes (0 for none): crc32_continue(crc32_buffer(a), b) is the
// CRC-32 of a and b together. For data that comes in pieces.
uint32_t crc32_continue(uint32_t crc, const uint8_t* data, uint64_t size);

// Which path crc32_buffer takes now for buffers long enough to use it,
// chosen by the processor's features (cpu_features_in_use): "pclmul" or
// "portable".
const char* crc32_implementation();

// The two paths crc32_buffer chooses between, each complete on its own, so
// that tests can check both on any machine that has the instruction.
uint32_t crc32_portable(const uint8_t* data, uint64_t size);
// Only when crc32_clmul_available() says so: the processor has PCLMULQDQ and
// no test has hidden it (cpu_features_limit).
uint32_t crc32_clmul(const uint8_t* data, uint64_t size);
bool crc32_clmul_available();
