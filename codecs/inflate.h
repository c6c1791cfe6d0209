// Raw deflate (RFC 1951) decoding from one buffer in memory into another.
#pragma once

#include <cstdint>

// Decodes the raw deflate stream in[0 .. in_len) into out[0 .. out_cap).
// Returns the number of bytes written (0 or more), or -1 when the stream is
// malformed, ends before its final block is complete, or does not fit in
// out_cap bytes (output is never truncated). Bytes after the final block are
// ignored. After a failure, out holds what was written before it was found;
// no byte past that is touched. Allocates nothing; both buffers belong to the
// caller.
int32_t inflate_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap);

// The same decoder restricted to the instructions every 64-bit x86 processor
// has. inflate_raw takes a path compiled for BMI2 when the processor has it;
// both return the same for every input. For tests.
int32_t inflate_raw_portable(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap);
