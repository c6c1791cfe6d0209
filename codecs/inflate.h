// Raw deflate (RFC 1951) decoding from one buffer in memory into another.
#pragma once

#include <cstdint>

// Decodes the raw deflate stream in[0 .. in_len) into out[0 .. out_cap).
// Returns the number of bytes it decoded (0 or more), which are out[0 ..
// count), or -1 when the stream is malformed, ends before its final block is
// complete, or does not fit in out_cap bytes (output is never truncated).
// Bytes after the final block are ignored. After a failure, out begins with
// what was decoded before the failure was found. The contents past the
// returned count (past what was decoded, after a failure) are unspecified:
// the decoder may use the room up to out_cap as scratch, but never writes at
// or past out_cap, and never reads a byte of out that it has not written in
// the same call. Allocates nothing; both buffers belong to the caller.
int32_t inflate_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap);

// The same decoder for output of any length, streamed instead of held whole:
// the bytes are decoded into window[0 .. window_size), and each time it
// fills, and once at the end, what was decoded since the last time is handed
// to write(context, bytes, count), in order; the last 32 KiB stay in the
// window for the back-references that follow. A larger window means fewer,
// longer hand-overs. Returns the total count, or -1 when the stream fails as
// for inflate_raw, when window_size is below kInflateMinWindow, or when write
// returns false (decoding stops there). What was handed over before a failure
// stays handed over: a caller that must not keep a bad stream's bytes undoes
// them itself. Allocates nothing.
using inflate_writer = bool (*)(void* context, const uint8_t* bytes, uint64_t count);
constexpr uint64_t kInflateMinWindow = 64 * 1024;
int64_t inflate_raw_stream(const uint8_t* in, uint64_t in_len, uint8_t* window, uint64_t window_size,
                           inflate_writer write, void* context);

// Which copy of the block loop inflate_raw takes now, chosen by the
// processor's features (cpu_features_in_use): "bmi" (with BMI1 and BMI2) or
// "portable".
const char* inflate_implementation();

// The same decoder on the portable path whatever the processor has; it
// returns the same as inflate_raw for every input. For tests.
int32_t inflate_raw_portable(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap);
