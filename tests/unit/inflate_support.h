// Helpers of the inflate tests: running the product's decoder beside the
// reference, and writing deflate streams bit by bit for streams no encoder
// would produce (every block type by hand, any code lengths, incomplete and
// over-subscribed ones too, any HLIT and HDIST, code-length runs past the end).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes stream with inflate_raw (which takes the BMI path where the
// processor has it), with inflate_raw_portable and with the reference
// decoder, and holds both fast ones to what inflate_raw promises, with the
// reference as the measure:
// - the same result;
// - after a success the same bytes up to the count, after a failure the
//   bytes the reference had written when it failed (what follows them in the
//   buffer is unspecified);
// - nothing written at or past the capacity: the buffer is followed by guard
//   bytes that must come back unchanged, and that AddressSanitizer builds
//   mark unaddressable, so that any access to them is reported at once;
// - nothing read past the input, which ends where a page that may not be
//   read begins;
// - the same result and bytes whatever the buffer held before: each fast one
//   decodes twice, into two buffers filled differently, so a byte it read
//   from output it had not written itself would show.
// *result and *out (the bytes written, when the result is a count) receive
// inflate_raw's.
::testing::AssertionResult decodes_like_reference(const std::string& stream, uint64_t capacity,
                                                  int32_t* result = nullptr, std::string* out = nullptr);

// Writes a deflate bit stream: fields least significant bit first, Huffman
// codes most significant bit first (RFC 1951, 3.1.1).
class BitWriter {
public:
    void bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) put((value >> i) & 1);
    }
    void code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) put((code >> i) & 1);
    }
    // Pads to a byte boundary with zero bits, then writes bytes.
    void raw(const std::string& bytes) {
        while (bit_count_ % 8) put(0);
        for (char c : bytes) bits(static_cast<uint8_t>(c), 8);
    }
    size_t bit_count() const { return bit_count_; }
    std::string bytes() const { return bytes_; }

private:
    void put(uint32_t bit) {
        if (bit_count_ % 8 == 0) bytes_.push_back('\0');
        if (bit) bytes_.back() = static_cast<char>(bytes_.back() | (1 << (bit_count_ % 8)));
        ++bit_count_;
    }
    std::string bytes_;
    size_t bit_count_ = 0;
};

// The fixed literal/length code of RFC 1951, 3.2.6.
void fixed_symbol(BitWriter& w, int symbol);

// Codes from code lengths (RFC 1951, 3.2.2) as the reference's canonical
// walk assigns them, as (code, length) per symbol: codes of one length follow
// each other, an over-subscribed set stops where a length runs out of room,
// and symbols past that have no code (length 0 here).
struct WalkedCode {
    uint32_t code;
    int length;
};
std::vector<WalkedCode> walk_codes(const std::vector<int>& lengths);

// One code-length symbol (0..18) and the value of its extra bits.
struct CodeLengthOp {
    int symbol;
    int extra;
};

// Writes the header of a final dynamic block with the given HLIT and HDIST
// fields and code-length sequence. The code-length code is complete (13 codes
// of 4 bits, 6 of 5) and sent with all 19 lengths, so every code-length
// symbol is available.
void dynamic_header(BitWriter& w, int hlit_field, int hdist_field, const std::vector<CodeLengthOp>& ops);

// The same for these code lengths (any count, so out-of-range HLIT and HDIST
// can be sent too), with runs of zeros as symbols 17 and 18.
void dynamic_header(BitWriter& w, const std::vector<int>& literal_lengths, const std::vector<int>& distance_lengths);
