#include "inflate_support.h"

#include <tuple>

#include "codecs/inflate.h"
#include "tests/reference/inflate_ref.h"

::testing::AssertionResult decodes_like_reference(const std::string& stream, uint64_t capacity, int32_t* result,
                                                  std::string* out) {
    // The input too in a block of exactly its size, so a read past it is caught.
    std::vector<uint8_t> input(stream.begin(), stream.end());
    const uint8_t* in = input.empty() ? nullptr : input.data();
    // The same filling in every block, different from anything a decoder
    // would write at a given place by chance.
    std::vector<uint8_t> fast(capacity);
    for (size_t i = 0; i < fast.size(); ++i) fast[i] = static_cast<uint8_t>(i * 167 + 13);
    std::vector<uint8_t> portable = fast;
    std::vector<uint8_t> slow = fast;
    int32_t got = inflate_raw(in, input.size(), capacity ? fast.data() : nullptr, capacity);
    int32_t got_portable = inflate_raw_portable(in, input.size(), capacity ? portable.data() : nullptr, capacity);
    int32_t expected = inflate_ref_raw(in, input.size(), capacity ? slow.data() : nullptr, capacity);
    if (result) *result = got;
    if (out) out->assign(fast.begin(), fast.begin() + (got > 0 ? got : 0));
    for (const auto& [name, result_of, buffer] :
         {std::tuple{"inflate_raw", got, &fast}, std::tuple{"inflate_raw_portable", got_portable, &portable}}) {
        if (result_of != expected)
            return ::testing::AssertionFailure() << name << " returned " << result_of << ", the reference " << expected
                                                 << " (capacity " << capacity << ", " << input.size()
                                                 << " input bytes)";
        for (size_t i = 0; i < slow.size(); ++i)
            if ((*buffer)[i] != slow[i])
                return ::testing::AssertionFailure() << name << ": the buffers differ first at byte " << i
                                                     << " (result " << result_of << ", capacity " << capacity << ")";
    }
    return ::testing::AssertionSuccess();
}

void fixed_symbol(BitWriter& w, int symbol) {
    if (symbol < 144)
        w.code(0x30 + symbol, 8);
    else if (symbol < 256)
        w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.code(symbol - 256, 7);
    else
        w.code(0xC0 + symbol - 280, 8);
}

void fixed_header(BitWriter& w, bool final) {
    w.bits(final, 1);
    w.bits(1, 2);
}

std::vector<uint32_t> canonical_codes(const std::vector<int>& lengths) {
    int bl_count[16] = {};
    for (int len : lengths) bl_count[len]++;
    bl_count[0] = 0;
    uint32_t next_code[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + bl_count[bits - 1]) << 1;
        next_code[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t n = 0; n < lengths.size(); ++n)
        if (lengths[n]) codes[n] = next_code[lengths[n]]++;
    return codes;
}

std::vector<int> code_length_code_lengths() {
    std::vector<int> lengths(19, 4);
    for (int s = 10; s <= 15; ++s) lengths[s] = 5;
    return lengths;
}

void dynamic_header(BitWriter& w, bool final, int hlit_field, int hdist_field, const std::vector<CodeLengthOp>& ops,
                    std::vector<int> cl_lengths) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.bits(final, 1);
    w.bits(2, 2);
    w.bits(hlit_field, 5);
    w.bits(hdist_field, 5);
    w.bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i) w.bits(cl_lengths[order[i]], 3);
    std::vector<uint32_t> cl_codes = canonical_codes(cl_lengths);
    for (const CodeLengthOp& op : ops) {
        w.code(cl_codes[op.symbol], cl_lengths[op.symbol]);
        if (op.symbol == 16) w.bits(op.extra, 2);
        if (op.symbol == 17) w.bits(op.extra, 3);
        if (op.symbol == 18) w.bits(op.extra, 7);
    }
}

std::vector<CodeLengthOp> plain_ops(const std::vector<int>& lengths) {
    std::vector<CodeLengthOp> ops;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 11) {
            ops.push_back({18, static_cast<int>(run - 11)});
            i += run;
        } else if (run >= 3) {
            ops.push_back({17, static_cast<int>(run - 3)});
            i += run;
        } else {
            ops.push_back({lengths[i], 0});
            ++i;
        }
    }
    return ops;
}

std::string dynamic_stream(const DynamicBlock& block) {
    BitWriter w;
    std::vector<int> all = block.literal_lengths;
    all.insert(all.end(), block.distance_lengths.begin(), block.distance_lengths.end());
    dynamic_header(w, true, static_cast<int>(block.literal_lengths.size()) - 257,
                   static_cast<int>(block.distance_lengths.size()) - 1, plain_ops(all));
    std::vector<uint32_t> lit = canonical_codes(block.literal_lengths);
    std::vector<uint32_t> dist = canonical_codes(block.distance_lengths);
    for (auto [symbol, distance] : block.symbols) {
        w.code(lit[symbol], block.literal_lengths[symbol]);
        if (distance >= 0) w.code(dist[distance], block.distance_lengths[distance]);
    }
    return w.bytes();
}
