// The simple inflate decoder the launcher shipped first, kept beside the tests
// as the reference the fast decoder in codecs/ is checked against. Compiled
// into the unit tests and fuzz targets only, never into the product.
#pragma once

#include <cstdint>

// Decodes the raw deflate stream in[0 .. in_len) into out[0 .. out_cap).
// Returns the number of bytes written (0 or more), or -1 when the stream is
// malformed, ends before its final block is complete, or does not fit in
// out_cap bytes (output is never truncated). Bytes after the final block are
// ignored. After a failure, out holds what was written before it was found.
// It writes out[0], out[1], ... in order and nothing else; when written is
// not null, *written receives how many, on success (the result) and on
// failure alike. Allocates nothing; both buffers belong to the caller.
int32_t inflate_ref_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap,
                        uint64_t* written = nullptr);

// The pieces inflate_ref_raw is made of, declared for tests.

constexpr int kMaxCodeBits = 15;
constexpr int kMaxLiteralLengthSymbols = 288;
constexpr int kMaxDistanceSymbols = 30;
constexpr int kCodeLengthSymbols = 19;

// Everything one call needs; inflate_ref_raw keeps it in its own stack frame.
struct inflate_ref_state {
    const uint8_t* in;
    uint64_t in_len;
    uint64_t in_pos;     // next input byte to fetch
    uint32_t bit_buf;    // unused bits of the last fetched byte, lowest bit next
    uint32_t bits_left;  // 0 to 7
    uint8_t* out;
    uint64_t out_cap;
    uint64_t out_pos;    // bytes written so far
    int32_t error;       // a bit was asked for past the input, or a code matched no symbol
};

// A canonical Huffman code as counts per code length and the symbols sorted by
// (length, value). symbol points to room for every symbol of the alphabet.
struct huffman_ref_table {
    uint16_t count[kMaxCodeBits + 1];
    uint16_t* symbol;
};

// Builds table from the code lengths (0 to 15; 0: the symbol is unused) of
// symbols 0 .. symbol_count-1; table->symbol needs room for symbol_count. Incomplete and over-subscribed sets are not rejected;
// decoding stays within the symbols placed.
void huffman_ref_build(huffman_ref_table* table, const uint8_t* lengths, int symbol_count);

// Reads one code and returns its symbol, or -1 (error flag set, or no symbol
// within 15 bits).
int huffman_ref_decode(inflate_ref_state* s, const huffman_ref_table* table);

// Decodes the symbols of one compressed block through its end-of-block code.
// 0 at the end of the block, -1 on failure.
int inflate_ref_block(inflate_ref_state* s, const huffman_ref_table* literal_length,
                      const huffman_ref_table* distance);

