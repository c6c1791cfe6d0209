// The inflate decoder against streams from real encoders (zlib, gzip, pigz's
// zopfli mode, libdeflate, 7-Zip) and against hand-built streams for every
// acceptance and failure rule. Hand-built streams are also run through zlib,
// so the expectations do not rest on this decoder. Every decode also runs the
// reference decoder, which must agree on the result and on the bytes
// produced, and checks that nothing is written past the buffer or read past
// the input (decodes_like_reference).
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "codecs/inflate.h"
#include "inflate_support.h"
#include "peer_tools.h"
#include "support.h"
#include "tests/reference/inflate_ref.h"

namespace {

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Decodes stream with exactly capacity bytes of room, checking that the
// reference decoder does exactly the same. Returns the result and leaves the
// bytes written in *out.
int32_t inflate_string(const std::string& stream, uint64_t capacity, std::string* out = nullptr) {
    int32_t result = -2;
    EXPECT_TRUE(decodes_like_reference(stream, capacity, &result, out)) << "capacity " << capacity;
    return result;
}

// zlib's raw inflate: true when it reaches the end of the final block, with
// the output in *out.
bool zlib_inflate(const std::string& stream, std::string* out) {
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    std::vector<uint8_t> buffer(1 << 20);
    z.next_in = const_cast<Bytef*>(bytes_of(stream));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    int result = inflate(&z, Z_FINISH);
    out->assign(buffer.begin(), buffer.begin() + z.total_out);
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

// ---------------------------------------------------------------------------
// Streams from real encoders

// Every capacity from 0 to a little past the first few symbols, a few in the
// middle, and every one from 300 below the size to 2 above it: the fast loop
// stops 265 bytes before the end of the output. Only the size itself and
// above may succeed: output is never truncated.
void expect_alike_at_every_capacity(const std::string& stream, uint64_t size) {
    std::vector<uint64_t> capacities;
    for (uint64_t c = 0; c <= 40 && c < size; ++c) capacities.push_back(c);
    for (uint64_t c : {size / 3, size / 2, size - size / 5})
        if (c > 40 && c + 300 < size) capacities.push_back(c);
    for (uint64_t c = size > 300 ? size - 300 : 41; c <= size + 2; ++c) capacities.push_back(c);
    for (uint64_t capacity : capacities)
        ASSERT_EQ(inflate_string(stream, capacity), capacity >= size ? static_cast<int32_t>(size) : -1)
            << "capacity " << capacity;
}

// zlib at every level and strategy, with sync flushes too (empty stored blocks
// between compressed ones, the blocks before the last without the final bit),
// and the other encoders on the inputs marked for them. Each stream decodes
// to its original; those of the small inputs at every capacity around it.
TEST(InflatePeers, StreamsOfRealEncodersDecodeToTheOriginal) {
    struct Input {
        const char* name;
        std::string data;
        bool tools;  // also encoded by gzip, libdeflate, pigz and 7-Zip
        bool every_capacity;
    };
    const Input inputs[] = {
        {"empty", "", true, false},
        {"one byte", "a", false, false},
        {"mixed 300 KB", mixed_content(300 * 1024, 1), true, false},  // far distances
        {"random 70 KB", random_bytes(70 * 1024, 2), true, false},    // more than one stored block
        {"one byte repeated 200 KB", std::string(200 * 1024, '\x7f'), false, false},
        {"mixed 24 KB", mixed_content(24 * 1024, 31), true, true},
        {"random 6 KB", random_bytes(6000, 32), false, true},
        {"runs", std::string(3000, 'a') + std::string(700, '\0') + "abcabcabcabc" + std::string(900, 'z'), false, true},
    };
    const std::string tools[] = {"gzip -c -1",        "gzip -c -9",          "libdeflate-gzip -c -1",
                                 "libdeflate-gzip -c -6", "libdeflate-gzip -c -12", "pigz -c -11",
                                 "7zz a -tgzip -mx1 -bso0 -bsp0", "7zz a -tgzip -mx9 -bso0 -bsp0"};
    TempDir tmp;
    int n = 0;
    for (const Input& input : inputs) {
        std::vector<std::pair<std::string, std::string>> streams;
        for (int level = 0; level <= 9; ++level)
            streams.push_back({"zlib level " + std::to_string(level), zlib_raw_deflate(input.data, level)});
        for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED})
            streams.push_back({"zlib strategy " + std::to_string(strategy), zlib_raw_deflate(input.data, 6, strategy)});
        for (int level : {0, 1, 9})
            streams.push_back({"zlib flushing, level " + std::to_string(level),
                               zlib_raw_deflate(input.data, level, Z_DEFAULT_STRATEGY, 3000)});
        std::string in = tmp.at("in" + std::to_string(n++));
        write_file(in, input.data);
        for (const std::string& command : tools) {
            // pigz -11 is zopfli: slow, so only on the smaller inputs.
            if (!input.tools || (command == "pigz -c -11" && input.data.size() > 50000)) continue;
            std::string out = tmp.at("out" + std::to_string(n++) + ".gz");
            bool archiver = command.rfind("7zz", 0) == 0;
            ASSERT_TRUE(run_tool(command + " " + (archiver ? shell_quote(out) + " " + shell_quote(in)
                                                           : shell_quote(in) + " > " + shell_quote(out))));
            streams.push_back({command, gzip_payload(read_file(out))});
            ASSERT_FALSE(streams.back().second.empty()) << command << " did not write gzip";
        }
        for (const auto& [name, stream] : streams) {
            SCOPED_TRACE(name + " on " + input.name);
            std::string decoded;
            EXPECT_EQ(inflate_string(stream, input.data.size(), &decoded), static_cast<int32_t>(input.data.size()));
            EXPECT_TRUE(decoded == input.data);
            if (input.every_capacity) expect_alike_at_every_capacity(stream, input.data.size());
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-built streams

// A stored block of fewer than 256 bytes, its NLEN the complement of LEN.
std::string stored_block(bool final, const std::string& data) {
    const char len = static_cast<char>(data.size());
    return std::string{static_cast<char>(final), len, '\0', static_cast<char>(~len), '\xff'} + data;
}

// A final fixed-code block: literals, then optionally one match as a length
// symbol without extra bits and a 5-bit distance code with distance_extra
// (extra_count bits), then end of block.
std::string fixed_block(const std::string& literals, int length_symbol = -1, int distance_code = 0,
                        int distance_extra = 0, int extra_count = 0) {
    BitWriter w;
    w.bits(0b011, 3);  // final, fixed codes
    for (char c : literals) fixed_symbol(w, static_cast<uint8_t>(c));
    if (length_symbol >= 0) {
        fixed_symbol(w, length_symbol);
        w.code(distance_code, 5);
        w.bits(distance_extra, extra_count);
    }
    fixed_symbol(w, 256);
    return w.bytes();
}

// A final dynamic block: literal_count literal/length codes, of which those
// listed get a length, the distance code lengths, and the given symbols
// (literals and 256, no matches).
std::string dynamic_block(int literal_count, const std::vector<std::pair<int, int>>& lengths,
                          const std::vector<int>& distance_lengths, const std::vector<int>& symbols) {
    std::vector<int> literal_lengths(literal_count, 0);
    for (auto [symbol, length] : lengths) literal_lengths[symbol] = length;
    BitWriter w;
    dynamic_header(w, literal_lengths, distance_lengths);
    std::vector<WalkedCode> codes = walk_codes(literal_lengths);
    for (int symbol : symbols) w.code(codes[symbol].code, codes[symbol].length);
    return w.bytes();
}

// A block decoding "aaaa": 'a' (code 10), end of block (11), length symbol
// 257 (0, length 3) and distance code 0 (0, distance 1). HLIT 258 and HDIST 1
// make 259 code lengths; first_run and last_run are the code-length ops that
// produce the first three zeros and the one distance length. Without the
// match it decodes "aa".
std::string aaaa_stream(CodeLengthOp first_run, CodeLengthOp last_run, bool with_match = true) {
    BitWriter w;
    std::vector<CodeLengthOp> ops = {
        first_run,  // 3 lengths: symbols 0..2
        {18, 83},   // 94 zeros: 3..96
        {2, 0},     // 'a'
        {18, 127},  // 138 zeros: 98..235
        {18, 9},    // 20 zeros: 236..255
        {2, 0},     // 256
        {1, 0},     // 257; 258 lengths so far, one to go
        last_run,
    };
    dynamic_header(w, 1, 0, ops);
    w.code(0b10, 2);  // 'a'
    if (with_match) {
        w.code(0b0, 1);  // 257: length 3
        w.code(0b0, 1);  // distance 1
    } else {
        w.code(0b10, 2);  // 'a'
    }
    w.code(0b11, 2);  // end of block
    return w.bytes();
}

// What a hand-built stream decodes to, or kFails. zlib agrees, except on the
// streams this decoder accepts and zlib refuses (zlib_refuses).
struct Case {
    const char* name;
    std::string stream;
    std::optional<std::string> expected;
    bool zlib_refuses = false;
};
constexpr std::nullopt_t kFails = std::nullopt;

TEST(InflateEdges, HandBuiltStreamsDecodeWholeOrFail) {
    const std::string high_literals = "\xc8\xc9\xca\xcb\xcc\xcd";
    // 3 header bits, six 9-bit literals and the 7-bit end of block: the last
    // code ends on the last bit of the eighth byte.
    const std::string on_the_last_bit = fixed_block(high_literals);
    ASSERT_EQ(on_the_last_bit.size(), 8u);
    const std::string zlib_then_junk = zlib_raw_deflate(mixed_content(5000, 8), 6) + random_bytes(100, 9);
    const std::string zeros = std::string(4, '\0');  // room for extra bits after the code
    const std::string pad = std::string(32, '\0');   // more input than the fast loop needs
    // "hi" with the given numbers of literal/length and distance codes.
    auto hi = [](int literal_count, int distance_count) {
        std::vector<int> distance_lengths(distance_count, 0);
        distance_lengths[0] = distance_lengths[29] = 1;
        return dynamic_block(literal_count, {{'h', 2}, {'i', 2}, {256, 2}, {285, 2}}, distance_lengths,
                             {'h', 'i', 256});
    };

    const Case cases[] = {
        {"no input", "", kFails},
        {"empty final stored block", stored_block(true, ""), ""},
        {"stored block whose NLEN is not the complement", std::string("\x01\x03\x00\x12\x34" "abc", 8), "abc", true},
        {"stored block cut in NLEN", std::string("\x01\x03\x00\xfc", 4), kFails},
        {"stored block cut in its data", std::string("\x01\x03\x00\xfc\xff" "ab", 7), kFails},
        {"stored block", stored_block(true, "hello"), "hello"},
        {"reserved block type", "\x07" + std::string(16, '\0'), kFails},
        // Bytes after the final block are ignored, even a valid block.
        {"stored block, then junk", stored_block(true, "") + "trailing junk", ""},
        {"zlib stream, then junk", zlib_then_junk, mixed_content(5000, 8)},
        {"non-final, final and one more block",
         stored_block(false, "ab") + stored_block(true, "c") + stored_block(true, "d"), "abc"},
        {"fixed codes, last byte a literal", fixed_block("xyz"), "xyz"},
        {"fixed codes, last bytes a match", fixed_block("ab", 264, 1), "abababababab"},  // length 10, distance 2
        {"length 258 at distance 1 after one literal", fixed_block("x", 285, 0), std::string(259, 'x')},
        {"distance 2 after two bytes", fixed_block("ab", 257, 1), "ababa"},
        {"distance 3 after two bytes", fixed_block("ab", 257, 2), kFails},
        // The same past the first 8 bytes and with room on both sides, where
        // the fast loop takes the match.
        {"distance 8 after eight bytes", fixed_block("abcdefgh", 257, 5, 1, 1) + pad, "abcdefghabc"},
        {"distance 9 after eight bytes", fixed_block("abcdefgh", 257, 6, 0, 2) + pad, kFails},
        // A round of the fast loop that writes the most: a literal and a
        // match of 258, with every room after it.
        {"a literal and a longest match after eight bytes", fixed_block("abcdefghx", 285, 0) + pad,
         "abcdefgh" + std::string(259, 'x')},
        {"fixed literal/length symbol 286", fixed_block("a", 286, 0) + zeros, kFails},
        {"fixed literal/length symbol 287", fixed_block("a", 287, 0) + zeros, kFails},
        {"fixed distance code 30", fixed_block("a", 257, 30) + zeros, kFails},
        {"fixed distance code 31", fixed_block("a", 257, 31) + zeros, kFails},
        {"last code ending on the last input bit", on_the_last_bit, high_literals},
        {"the same one byte short", on_the_last_bit.substr(0, 7), kFails},
        {"HLIT 286 and HDIST 30", hi(286, 30), "hi"},
        {"HLIT 287", hi(287, 30), kFails},
        {"HDIST 31", hi(286, 31), kFails},
        {"code lengths sent exactly", aaaa_stream({17, 0}, {1, 0}), "aaaa"},
        // Repeating the previous length (1) six times: the distance code gets
        // its length and the other five are dropped.
        {"code-length repeat past the total", aaaa_stream({17, 0}, {16, 3}), "aaaa", true},
        // The distance code stays unassigned; the literals decode.
        {"code-length zeros past the total (17)", aaaa_stream({17, 0}, {17, 7}, false), "aa", true},
        {"code-length zeros past the total (18)", aaaa_stream({17, 0}, {18, 127}, false), "aa", true},
        {"repeat before any code length", aaaa_stream({16, 0}, {1, 0}), kFails},
        // Incomplete and over-subscribed codes are not rejected when the
        // header is read: the symbols they place decode, and a code that was
        // never assigned fails when it is met.
        {"incomplete: 'a' 0, end 10", dynamic_block(257, {{'a', 1}, {256, 2}}, {0}, {'a', 'a', 256}), "aa", true},
        {"incomplete, then 11", dynamic_block(257, {{'a', 1}, {256, 2}}, {0}, {'a'}) + "\xff\xff", kFails},
        {"over-subscribed: 'a' 0, end 1, 'c' none",
         dynamic_block(257, {{'a', 1}, {'c', 2}, {256, 1}}, {0}, {'a', 'a', 256}), "aa", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string zlib_out;
        bool zlib_ok = zlib_inflate(c.stream, &zlib_out);
        EXPECT_EQ(zlib_ok, c.expected && !c.zlib_refuses);
        if (zlib_ok) {
            EXPECT_TRUE(zlib_out == c.expected);
        }
        if (!c.expected) {
            EXPECT_EQ(inflate_string(c.stream, 1024), -1);
            continue;
        }
        // Output is never truncated: the stream fits whole or the decode
        // fails, whatever the room after it.
        const std::string& expected = *c.expected;
        const int32_t size = static_cast<int32_t>(expected.size());
        std::string decoded;
        EXPECT_EQ(inflate_string(c.stream, size, &decoded), size);
        EXPECT_TRUE(decoded == expected);
        for (int32_t capacity = size > 0 ? size - 1 : 1; capacity <= size + 300; ++capacity)
            ASSERT_EQ(inflate_string(c.stream, capacity), capacity < size ? -1 : size) << "capacity " << capacity;
    }
    uint8_t out[16];
    EXPECT_EQ(inflate_raw(bytes_of("x"), 0, out, sizeof out), -1);  // the length counts, not the pointer
}

// A stream that ends early fails, wherever it is cut, and both decoders leave
// the same partial output behind.
TEST(InflateEdges, EveryTruncationFails) {
    std::string data = mixed_content(2500, 33) + std::string(400, 'r');
    const std::string fixed_text = "fixed codes after a stored block";

    const std::pair<std::string, std::string> cases[] = {
        {zlib_raw_deflate(data, 9), data},
        {zlib_raw_deflate(data, 0), data},
        {zlib_raw_deflate(data, 1, Z_FIXED), data},
        {zlib_raw_deflate(data, 6, Z_DEFAULT_STRATEGY, 700), data},
        {stored_block(false, "hello") + fixed_block(fixed_text), "hello" + fixed_text},
    };
    for (const auto& [stream, expected] : cases) {
        std::string decoded;
        ASSERT_EQ(inflate_string(stream, expected.size() + 64, &decoded), static_cast<int32_t>(expected.size()));
        ASSERT_TRUE(decoded == expected);
        for (size_t cut = 0; cut < stream.size(); ++cut)
            ASSERT_EQ(inflate_string(stream.substr(0, cut), expected.size() + 64), -1) << "cut at " << cut;
    }
}

// The reference decoder's canonical walk, on which every other expectation
// rests: the example of RFC 1951, 3.2.2, lengths (3, 3, 3, 3, 3, 2, 4, 4) for
// A..H give the codes 010 011 100 101 110 00 1110 1111. 32 bits of codes
// decode to their symbols; a code past them fails and sets the error flag.
TEST(HuffmanTables, TheRfcExampleLengthsGiveTheRfcCodes) {
    const uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint16_t symbols[8];
    huffman_ref_table table = {{}, symbols};
    huffman_ref_build(&table, lengths, 8);
    const uint32_t codes[8] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
    const int order[] = {7, 5, 0, 6, 4, 1, 3, 2, 5, 0, 5};
    BitWriter w;
    for (int symbol : order) w.code(codes[symbol], lengths[symbol]);
    ASSERT_EQ(w.bit_count(), 32u);
    std::string input = w.bytes();
    inflate_ref_state s = {};
    s.in = bytes_of(input);
    s.in_len = input.size();
    for (int symbol : order) EXPECT_EQ(huffman_ref_decode(&s, &table), symbol);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(huffman_ref_decode(&s, &table), -1);
    EXPECT_NE(s.error, 0);
}

}  // namespace
