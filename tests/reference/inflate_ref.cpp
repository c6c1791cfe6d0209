// A small raw deflate decoder (RFC 1951): simple and direct, not fast.
//
// What it is: the decoder the ZIP reader uses for deflated entries, taking one
// whole compressed entry in memory and writing into one buffer that the caller
// sized to the entry's declared length. Back-references copy from that output
// buffer itself, so there is no window of its own, no streaming and no heap
// use. Huffman codes are decoded one bit at a time from tables of counts and
// sorted symbols, with nothing precomputed.
//
// What it is not: fast. The product decodes with the table-driven decoder in
// codecs/inflate.cpp, which must return the same result (count or -1) for
// every input, the same bytes up to the count, and after a failure the bytes
// this one had written when it failed; this one is the reference it is
// checked against, and lives with the tests.
//
// Limits: one call writes less than 2 GiB (the result is a signed 32-bit
// count). Both buffers are the caller's.
#include "tests/reference/inflate_ref.h"

#include <cstring>

namespace {

// Format notes: every table below is copied from RFC 1951, 3.2.5 and 3.2.7.
// Length symbols 257..285 carry a base length and a number of extra bits;
// 285 means 258 with no extra bits (not 227 + 5 bits, which would also reach
// 258). Distance symbols 0..29 likewise.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint16_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint16_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic header sends the code-length code's lengths:
// the ones most likely to be zero come last, so HCLEN can leave them out.
constexpr uint16_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

constexpr int kEndOfBlock = 256;
constexpr int kFirstLengthSymbol = 257;
// HLIT and HDIST as sent can name up to 288 and 32 codes; only 286 and 30 have
// a meaning.
constexpr int kMaxDynamicLiteralLengthCodes = 286;
constexpr int kMaxDynamicDistanceCodes = 30;

// Format notes: a deflate stream is a sequence of bits packed into bytes
// starting at each byte's least significant bit. Multi-bit fields other than
// Huffman codes are sent least significant bit first.
//
// Running out of input is not an immediate failure: the missing bit counts as
// 0 and the error flag is set, and every caller that looks at the flag fails.
// This keeps the end-of-input test in one place.
uint32_t get_bit(inflate_ref_state* s) {
    if (s->bits_left == 0) {
        if (s->in_pos >= s->in_len) {
            s->error = 1;
            return 0;
        }
        s->bit_buf = s->in[s->in_pos++];
        s->bits_left = 8;
    }
    uint32_t bit = s->bit_buf & 1;
    s->bit_buf >>= 1;
    s->bits_left--;
    return bit;
}

// n from 0 to 13; the first bit read is the least significant.
uint32_t get_bits(inflate_ref_state* s, int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value |= get_bit(s) << i;
    return value;
}

// Format notes: a stored block starts at the next byte boundary with LEN and
// its ones' complement NLEN, both 16-bit little-endian, then LEN raw bytes.
// NLEN is redundant and is not compared: a stream whose NLEN is wrong decodes
// all the same.
int stored_block(inflate_ref_state* s) {
    s->bits_left = 0;
    if (s->in_len - s->in_pos < 4) return -1;
    uint64_t len = s->in[s->in_pos] | (uint32_t{s->in[s->in_pos + 1]} << 8);
    s->in_pos += 4;
    if (s->in_len - s->in_pos < len) return -1;
    if (s->out_cap - s->out_pos < len) return -1;
    if (len > 0) std::memcpy(s->out + s->out_pos, s->in + s->in_pos, static_cast<size_t>(len));
    s->in_pos += len;
    s->out_pos += len;
    return 0;
}

// Format notes: the fixed code of block type 1 gives literals 0..143 eight
// bits, 144..255 nine, 256..279 seven and 280..287 eight; every distance code
// has five bits. Symbols 286, 287 and distances 30, 31 have codes but no
// meaning, so decoding them fails later, where any bad symbol fails.
int fixed_block(inflate_ref_state* s) {
    uint8_t lengths[kMaxLiteralLengthSymbols];
    uint16_t literal_length_symbols[kMaxLiteralLengthSymbols];
    uint16_t distance_symbols[kMaxDistanceSymbols];
    huffman_ref_table literal_length = {{}, literal_length_symbols};
    huffman_ref_table distance = {{}, distance_symbols};

    int symbol = 0;
    for (; symbol < 144; ++symbol) lengths[symbol] = 8;
    for (; symbol < 256; ++symbol) lengths[symbol] = 9;
    for (; symbol < 280; ++symbol) lengths[symbol] = 7;
    for (; symbol < 288; ++symbol) lengths[symbol] = 8;
    huffman_ref_build(&literal_length, lengths, kMaxLiteralLengthSymbols);
    for (symbol = 0; symbol < kMaxDistanceSymbols; ++symbol) lengths[symbol] = 5;
    huffman_ref_build(&distance, lengths, kMaxDistanceSymbols);

    return inflate_ref_block(s, &literal_length, &distance);
}

// Format notes: a dynamic block sends its two codes as code lengths, which are
// themselves Huffman-coded with a small code-length code:
// - HLIT + 257 literal/length lengths, then HDIST + 1 distance lengths, read as
//   one sequence, so a run may cross from one into the other;
// - symbols 0..15 are a length; 16 repeats the previous length 3..6 times,
//   17 writes 3..10 zeros and 18 writes 11..138 zeros;
// - a run that would pass the end of the sequence stops at its end. Other
//   decoders reject such a stream; this one decodes it.
// Incomplete and over-subscribed codes are not rejected here either: a code
// that was never assigned fails when it is met in the data, not before.
int dynamic_block(inflate_ref_state* s) {
    int literal_length_count = static_cast<int>(get_bits(s, 5)) + 257;
    int distance_count = static_cast<int>(get_bits(s, 5)) + 1;
    int code_length_count = static_cast<int>(get_bits(s, 4)) + 4;
    if (s->error) return -1;
    if (literal_length_count > kMaxDynamicLiteralLengthCodes) return -1;
    if (distance_count > kMaxDynamicDistanceCodes) return -1;

    uint8_t lengths[kMaxDynamicLiteralLengthCodes + kMaxDynamicDistanceCodes];
    uint16_t code_length_symbols[kCodeLengthSymbols];
    huffman_ref_table code_length = {{}, code_length_symbols};
    for (int i = 0; i < kCodeLengthSymbols; ++i)
        lengths[kCodeLengthOrder[i]] = i < code_length_count ? static_cast<uint8_t>(get_bits(s, 3)) : 0;
    if (s->error) return -1;
    huffman_ref_build(&code_length, lengths, kCodeLengthSymbols);

    int total = literal_length_count + distance_count;
    int index = 0;
    while (index < total) {
        int symbol = huffman_ref_decode(s, &code_length);
        if (symbol < 0) return -1;
        if (symbol < 16) {
            lengths[index++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int run;
        if (symbol == 16) {
            if (index == 0) return -1;
            repeated = lengths[index - 1];
            run = 3 + static_cast<int>(get_bits(s, 2));
        } else if (symbol == 17) {
            run = 3 + static_cast<int>(get_bits(s, 3));
        } else {
            run = 11 + static_cast<int>(get_bits(s, 7));
        }
        if (s->error) return -1;
        while (run-- > 0 && index < total) lengths[index++] = repeated;
    }

    uint16_t literal_length_symbols[kMaxLiteralLengthSymbols];
    uint16_t distance_symbols[kMaxDistanceSymbols];
    huffman_ref_table literal_length = {{}, literal_length_symbols};
    huffman_ref_table distance = {{}, distance_symbols};
    huffman_ref_build(&literal_length, lengths, literal_length_count);
    huffman_ref_build(&distance, lengths + literal_length_count, distance_count);

    return inflate_ref_block(s, &literal_length, &distance);
}

}  // namespace

// Format notes: a canonical Huffman code is fully described by its code
// lengths. Codes of one length are consecutive numbers assigned to the symbols
// of that length in increasing symbol order, and the first code of each length
// follows the last code of the length before, doubled (RFC 1951, 3.2.2). So a
// table needs only how many codes each length has and the symbols in that
// order.
void huffman_ref_build(huffman_ref_table* table, const uint8_t* lengths, int symbol_count) {
    for (int len = 0; len <= kMaxCodeBits; ++len) table->count[len] = 0;
    for (int symbol = 0; symbol < symbol_count; ++symbol) table->count[lengths[symbol]]++;
    table->count[0] = 0;

    // Where the symbols of each length begin in the sorted list.
    uint16_t offset[kMaxCodeBits + 1];
    offset[1] = 0;
    for (int len = 1; len < kMaxCodeBits; ++len) offset[len + 1] = offset[len] + table->count[len];

    for (int symbol = 0; symbol < symbol_count; ++symbol)
        if (lengths[symbol] != 0) table->symbol[offset[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
}

// Format notes: Huffman codes are sent most significant bit first, the reverse
// of every other field, so the code grows by appending each new bit at the
// bottom. At each length, the codes of that length are the numbers first ..
// first + count - 1; anything at or above is a longer code. code never drops
// below first (a longer code starts where the shorter ones end, doubled), so
// code - first is never negative, and index + (code - first) stays below the
// number of symbols placed even for an over-subscribed set.
int huffman_ref_decode(inflate_ref_state* s, const huffman_ref_table* table) {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        code |= static_cast<int>(get_bit(s));
        if (s->error) return -1;
        int count = table->count[len];
        if (code - first < count) return table->symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    s->error = 1;
    return -1;
}

// Format notes: a compressed block is literals (0..255), the end-of-block
// symbol (256) and length/distance pairs (257..285, then a distance symbol).
// A pair copies length bytes starting distance bytes back in the output; the
// copy may overlap what it is writing (distance 1 repeats the last byte), so
// it goes one byte at a time. A distance reaching before the first output byte
// is an error: there is no preset dictionary.
int inflate_ref_block(inflate_ref_state* s, const huffman_ref_table* literal_length, const huffman_ref_table* distance) {
    for (;;) {
        int symbol = huffman_ref_decode(s, literal_length);
        if (symbol < 0 || s->error) return -1;

        if (symbol < 256) {
            if (s->out_pos == s->out_cap) return -1;
            s->out[s->out_pos++] = static_cast<uint8_t>(symbol);
            continue;
        }
        if (symbol == kEndOfBlock) return 0;

        symbol -= kFirstLengthSymbol;
        if (symbol >= 29) return -1;
        uint64_t length = kLengthBase[symbol] + get_bits(s, kLengthExtra[symbol]);

        int distance_symbol = huffman_ref_decode(s, distance);
        if (distance_symbol < 0 || distance_symbol > 29) return -1;
        uint64_t dist = kDistanceBase[distance_symbol] + get_bits(s, kDistanceExtra[distance_symbol]);
        if (s->error) return -1;

        if (dist > s->out_pos) return -1;
        if (length > s->out_cap - s->out_pos) return -1;
        for (uint64_t i = 0; i < length; ++i, ++s->out_pos) s->out[s->out_pos] = s->out[s->out_pos - dist];
    }
}

namespace {

// The blocks of a stream, up to the final one.
int32_t decode_stream(inflate_ref_state* s) {
    // Format notes: each block starts with a final-block bit and a 2-bit type:
    // 0 stored, 1 fixed codes, 2 dynamic codes, 3 reserved (an error).
    // Decoding ends after the block marked final, wherever that is in the
    // input; the caller decides whether the count is the one it expected.
    for (;;) {
        uint32_t final_block = get_bit(s);
        uint32_t type = get_bits(s, 2);
        if (s->error) return -1;

        int result;
        if (type == 0)
            result = stored_block(s);
        else if (type == 1)
            result = fixed_block(s);
        else if (type == 2)
            result = dynamic_block(s);
        else
            result = -1;
        if (result != 0) return -1;
        if (final_block) return static_cast<int32_t>(s->out_pos);
    }
}

}  // namespace

int32_t inflate_ref_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap, uint64_t* written) {
    inflate_ref_state s = {};
    s.in = in;
    s.in_len = in_len;
    s.out = out;
    // The count must fit the signed 32-bit result; a stream that would write
    // more fails as one that overflows its buffer.
    s.out_cap = out_cap > INT32_MAX ? INT32_MAX : out_cap;
    int32_t result = decode_stream(&s);
    if (written) *written = s.out_pos;
    return result;
}
