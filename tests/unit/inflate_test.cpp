// The inflate decoder against streams from real encoders (zlib, gzip, pigz's
// zopfli mode, libdeflate, 7-Zip) and against hand-built streams for every
// acceptance and failure rule. Hand-built streams that are valid deflate are
// also run through zlib, so the expectations do not rest on this decoder.
// Every decode also runs the reference decoder, which must agree on the
// result and on the bytes produced, and checks that nothing is written past
// the buffer or read past the input (decodes_like_reference).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/inflate.h"
#include "inflate_support.h"
#include "peer_tools.h"
#include "tests/reference/inflate_ref.h"
#include "support.h"

namespace {

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Decodes stream with exactly capacity bytes of room, checking that the
// reference decoder does exactly the same. Returns the result and leaves the
// bytes written in *out.
int32_t inflate_string(const std::string& stream, uint64_t capacity, std::string* out = nullptr) {
    int32_t result = -2;
    EXPECT_TRUE(decodes_like_reference(stream, capacity, &result, out));
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

struct ZlibSettings {
    int level;
    int strategy;
    const char* name;
};

// ---------------------------------------------------------------------------
// Streams from real encoders

std::vector<std::pair<std::string, std::string>> sample_inputs() {
    return {
        {"empty", ""},
        {"one byte", "a"},
        {"mixed 300 KB", mixed_content(300 * 1024, 1)},
        {"random 70 KB", random_bytes(70 * 1024, 2)},
        {"one byte repeated 200 KB", std::string(200 * 1024, '\x7f')},
    };
}

TEST(InflatePeers, ZlibStreamsOfEveryLevelAndStrategyDecodeToTheOriginal) {
    std::vector<ZlibSettings> settings;
    static const char* const level_names[] = {"level 0", "level 1", "level 2", "level 3", "level 4",
                                              "level 5", "level 6", "level 7", "level 8", "level 9"};
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY, level_names[level]});
    settings.push_back({6, Z_FIXED, "fixed codes only"});
    settings.push_back({6, Z_HUFFMAN_ONLY, "Huffman only"});
    settings.push_back({6, Z_RLE, "run-length"});
    settings.push_back({6, Z_FILTERED, "filtered"});

    for (const auto& [input_name, data] : sample_inputs()) {
        for (const ZlibSettings& s : settings) {
            std::string stream = zlib_raw_deflate(data, s.level, s.strategy);
            std::string decoded;
            EXPECT_EQ(inflate_string(stream, data.size(), &decoded), static_cast<int32_t>(data.size()))
                << input_name << ", " << s.name;
            EXPECT_TRUE(decoded == data) << input_name << ", " << s.name;
        }
    }
}

// Sync flushes put empty stored blocks between compressed ones, and the blocks
// before the final one all end without the final bit.
TEST(InflatePeers, AZlibStreamWithFlushesBetweenBlocksDecodesToTheOriginal) {
    std::string data = mixed_content(150 * 1024, 3);
    for (int level : {0, 1, 9}) {
        std::string stream = zlib_raw_deflate(data, level, Z_DEFAULT_STRATEGY, 10000);
        std::string decoded;
        EXPECT_EQ(inflate_string(stream, data.size(), &decoded), static_cast<int32_t>(data.size())) << level;
        EXPECT_TRUE(decoded == data) << level;
    }
}

TEST(InflatePeers, GzipPigzLibdeflateAnd7ZipStreamsDecodeToTheOriginal) {
    TempDir tmp;
    write_file(tmp.at("mixed"), mixed_content(256 * 1024, 4));
    write_file(tmp.at("random"), random_bytes(40 * 1024, 5));
    write_file(tmp.at("small"), mixed_content(48 * 1024, 6));
    write_file(tmp.at("empty"), "");

    struct Encoder {
        const char* name;
        std::string command;  // {in} and {out} are replaced by paths
    };
    const std::vector<Encoder> encoders = {
        {"gzip -1", "gzip -c -1 {in} > {out}"},
        {"gzip -9", "gzip -c -9 {in} > {out}"},
        {"libdeflate -1", "libdeflate-gzip -c -1 {in} > {out}"},
        {"libdeflate -6", "libdeflate-gzip -c -6 {in} > {out}"},
        {"libdeflate -12", "libdeflate-gzip -c -12 {in} > {out}"},
        {"7-Zip -mx1", "7zz a -tgzip -mx1 -bso0 -bsp0 {out} {in}"},
        {"7-Zip -mx9", "7zz a -tgzip -mx9 -bso0 -bsp0 {out} {in}"},
    };
    auto fill = [](std::string command, const std::string& in, const std::string& out) {
        command.replace(command.find("{in}"), 4, shell_quote(in));
        command.replace(command.find("{out}"), 5, shell_quote(out));
        return command;
    };

    int n = 0;
    auto check = [&](const std::string& encoder, const std::string& command_template, const std::string& input) {
        std::string out = tmp.at("stream" + std::to_string(n++) + ".gz");
        ASSERT_TRUE(run_tool(fill(command_template, tmp.at(input), out)));
        std::string original = read_file(tmp.at(input));
        std::string stream = gzip_payload(read_file(out));
        ASSERT_FALSE(stream.empty()) << encoder << " did not write gzip";
        std::string decoded;
        EXPECT_EQ(inflate_string(stream, original.size(), &decoded), static_cast<int32_t>(original.size()))
            << encoder << " on " << input;
        EXPECT_TRUE(decoded == original) << encoder << " on " << input;
    };
    for (const Encoder& e : encoders)
        for (const char* input : {"mixed", "random", "empty"}) check(e.name, e.command, input);
    // pigz -11 is zopfli: very different block splitting, slow, so smaller.
    check("pigz -11", "pigz -c -11 {in} > {out}", "small");
}

// A stream that ends early is an error, wherever it is cut.
TEST(InflatePeers, EveryStrictPrefixOfAStreamFails) {
    std::string data = mixed_content(1000, 7) + std::string(300, 'q');
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        for (int level : {0, 9}) {
            std::string stream = zlib_raw_deflate(data, level, strategy);
            ASSERT_EQ(inflate_string(stream, data.size()), static_cast<int32_t>(data.size()));
            for (size_t cut = 0; cut < stream.size(); ++cut)
                ASSERT_EQ(inflate_string(stream.substr(0, cut), data.size()), -1) << "cut at " << cut;
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-built streams

// The final stored block with LEN 0 and a correct NLEN.
const std::string kEmptyStored("\x01\x00\x00\xff\xff", 5);

TEST(InflateEdges, AnEmptyInputFails) {
    uint8_t out[16];
    EXPECT_EQ(inflate_raw(nullptr, 0, out, sizeof out), -1);
    EXPECT_EQ(inflate_raw(bytes_of("x"), 0, out, sizeof out), -1);
}

TEST(InflateEdges, AFinalStoredBlockOfLengthZeroGivesZeroBytes) {
    std::string zlib_out;
    ASSERT_TRUE(zlib_inflate(kEmptyStored, &zlib_out));
    ASSERT_EQ(zlib_out, "");
    EXPECT_EQ(inflate_string(kEmptyStored, 0), 0);
    EXPECT_EQ(inflate_string(kEmptyStored, 100), 0);
}

TEST(InflateEdges, AStoredBlockWhoseNlenIsNotTheComplementStillDecodes) {
    std::string stream("\x01\x03\x00\x12\x34" "abc", 8);
    std::string decoded;
    EXPECT_EQ(inflate_string(stream, 3, &decoded), 3);
    EXPECT_EQ(decoded, "abc");
}

TEST(InflateEdges, AStoredBlockFailsWhenItsHeaderOrDataRunsPastTheInput) {
    EXPECT_EQ(inflate_string(std::string("\x01\x03\x00\xfc", 4), 16), -1);        // NLEN cut short
    EXPECT_EQ(inflate_string(std::string("\x01\x03\x00\xfc\xff" "ab", 7), 16), -1);  // 2 of 3 data bytes
}

TEST(InflateEdges, BytesAfterTheFinalBlockAreIgnored) {
    std::string decoded;
    EXPECT_EQ(inflate_string(kEmptyStored + "trailing junk", 64), 0);

    std::string data = mixed_content(5000, 8);
    std::string stream = zlib_raw_deflate(data, 6, Z_DEFAULT_STRATEGY) + random_bytes(100, 9);
    EXPECT_EQ(inflate_string(stream, data.size(), &decoded), static_cast<int32_t>(data.size()));
    EXPECT_TRUE(decoded == data);

    // A non-final block followed by the final one: both are decoded, then the
    // rest is ignored even though it is a valid block too.
    std::string two_blocks = std::string("\x00\x02\x00\xfd\xff" "ab", 7) + std::string("\x01\x01\x00\xfe\xff" "c", 6);
    EXPECT_EQ(inflate_string(two_blocks + std::string("\x01\x01\x00\xfe\xff" "d", 6), 16, &decoded), 3);
    EXPECT_EQ(decoded, "abc");
}

// Output is never truncated: a stream must fit whole. Checked for each way the
// last byte can be written: a stored copy, a literal, a match.
TEST(InflateEdges, ExactCapacitySucceedsAndOneByteLessFails) {
    std::string stored("\x01\x05\x00\xfa\xff" "hello", 10);

    BitWriter literal_last;
    fixed_header(literal_last, true);
    for (char c : std::string("xyz")) fixed_symbol(literal_last, c);
    fixed_symbol(literal_last, 256);

    BitWriter match_last;  // "ab" then a match of 10 at distance 2
    fixed_header(match_last, true);
    fixed_symbol(match_last, 'a');
    fixed_symbol(match_last, 'b');
    fixed_symbol(match_last, 264);  // length 10
    match_last.code(1, 5);          // distance 2
    fixed_symbol(match_last, 256);

    struct Case {
        const char* name;
        std::string stream;
        std::string expected;
    };
    for (const Case& c : {Case{"stored", stored, "hello"}, Case{"literal", literal_last.bytes(), "xyz"},
                          Case{"match", match_last.bytes(), "abababababab"}}) {
        std::string zlib_out;
        ASSERT_TRUE(zlib_inflate(c.stream, &zlib_out)) << c.name;
        ASSERT_EQ(zlib_out, c.expected) << c.name;
        std::string decoded;
        EXPECT_EQ(inflate_string(c.stream, c.expected.size(), &decoded), static_cast<int32_t>(c.expected.size()))
            << c.name;
        EXPECT_EQ(decoded, c.expected) << c.name;
        EXPECT_EQ(inflate_string(c.stream, c.expected.size() - 1), -1) << c.name;
    }
}

TEST(InflateEdges, ADistanceOneMatchOfLength258AfterOneLiteralGives259EqualBytes) {
    BitWriter w;
    fixed_header(w, true);
    fixed_symbol(w, 'x');
    fixed_symbol(w, 285);  // length 258, no extra bits
    w.code(0, 5);          // distance 1
    fixed_symbol(w, 256);
    std::string expected(259, 'x');
    std::string zlib_out;
    ASSERT_TRUE(zlib_inflate(w.bytes(), &zlib_out));
    ASSERT_EQ(zlib_out, expected);
    std::string decoded;
    EXPECT_EQ(inflate_string(w.bytes(), 259, &decoded), 259);
    EXPECT_EQ(decoded, expected);
}

TEST(InflateEdges, ADistanceOneGreaterThanTheBytesProducedFails) {
    auto stream = [](int distance_code) {
        BitWriter w;
        fixed_header(w, true);
        fixed_symbol(w, 'a');
        fixed_symbol(w, 'b');
        fixed_symbol(w, 257);       // length 3
        w.code(distance_code, 5);   // codes 1 and 2: distances 2 and 3
        fixed_symbol(w, 256);
        return w.bytes();
    };
    std::string zlib_out;
    ASSERT_TRUE(zlib_inflate(stream(1), &zlib_out));
    ASSERT_FALSE(zlib_inflate(stream(2), &zlib_out));

    std::string decoded;
    EXPECT_EQ(inflate_string(stream(1), 5, &decoded), 5);
    EXPECT_EQ(decoded, "ababa");
    EXPECT_EQ(inflate_string(stream(2), 64), -1);
}

// A block with every literal/length and distance code the header allows at
// most, decoding "hi"; then the same with one code too many.
DynamicBlock widest_block(int literal_count, int distance_count) {
    DynamicBlock block;
    block.literal_lengths.assign(literal_count, 0);
    block.literal_lengths['h'] = 2;
    block.literal_lengths['i'] = 2;
    block.literal_lengths[256] = 2;
    block.literal_lengths[285] = 2;
    block.distance_lengths.assign(distance_count, 0);
    block.distance_lengths[0] = 1;
    block.distance_lengths[29] = 1;
    block.symbols = {{'h', -1}, {'i', -1}, {256, -1}};
    return block;
}

TEST(InflateEdges, HlitAbove286AndHdistAbove30AreRejected) {
    std::string zlib_out;
    std::string widest = dynamic_stream(widest_block(286, 30));
    ASSERT_TRUE(zlib_inflate(widest, &zlib_out));
    ASSERT_EQ(zlib_out, "hi");
    std::string decoded;
    EXPECT_EQ(inflate_string(widest, 2, &decoded), 2);
    EXPECT_EQ(decoded, "hi");

    std::string hlit_287 = dynamic_stream(widest_block(287, 30));
    std::string hdist_31 = dynamic_stream(widest_block(286, 31));
    ASSERT_FALSE(zlib_inflate(hlit_287, &zlib_out));
    ASSERT_FALSE(zlib_inflate(hdist_31, &zlib_out));
    EXPECT_EQ(inflate_string(hlit_287, 64), -1);
    EXPECT_EQ(inflate_string(hdist_31, 64), -1);
}

// A block decoding "aaaa": 'a' (code 10), end of block (11), length symbol
// 257 (0, length 3) and distance code 0 (0, distance 1). HLIT 258 and HDIST 1
// make 259 code lengths; first_run and last_run are the code-length ops that
// produce the first three zeros and the one distance length.
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
    dynamic_header(w, true, 1, 0, ops);
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

TEST(InflateEdges, ACodeLengthRepeatPastTheTotalIsCutAndDecodingGoesOn) {
    // Sent exactly, the stream is valid deflate.
    std::string exact = aaaa_stream({17, 0}, {1, 0});
    std::string zlib_out;
    ASSERT_TRUE(zlib_inflate(exact, &zlib_out));
    ASSERT_EQ(zlib_out, "aaaa");
    std::string decoded;
    EXPECT_EQ(inflate_string(exact, 4, &decoded), 4);
    EXPECT_EQ(decoded, "aaaa");

    // Symbol 16 repeating the previous length (1) six times: the distance
    // code gets its length and the other five are dropped. zlib rejects this.
    std::string repeat_past = aaaa_stream({17, 0}, {16, 3});
    ASSERT_FALSE(zlib_inflate(repeat_past, &zlib_out));
    EXPECT_EQ(inflate_string(repeat_past, 4, &decoded), 4);
    EXPECT_EQ(decoded, "aaaa");

    // Runs of zeros past the total: the distance code stays unassigned, the
    // header is accepted and the literals decode.
    for (CodeLengthOp run : {CodeLengthOp{17, 7}, CodeLengthOp{18, 127}}) {
        std::string zeros_past = aaaa_stream({17, 0}, run, false);
        EXPECT_EQ(inflate_string(zeros_past, 2, &decoded), 2) << run.symbol;
        EXPECT_EQ(decoded, "aa") << run.symbol;
    }
}

TEST(InflateEdges, ARepeatOfThePreviousLengthBeforeAnyLengthFails) {
    // Three zeros sent as symbol 17 are fine; the same three as "repeat the
    // previous length" have no previous length to repeat.
    std::string decoded;
    ASSERT_EQ(inflate_string(aaaa_stream({17, 0}, {1, 0}), 4, &decoded), 4);
    EXPECT_EQ(inflate_string(aaaa_stream({16, 0}, {1, 0}), 4), -1);
}

// 3 header bits, six 9-bit literals and the 7-bit end of block: 64 bits, so
// the last code ends on the last bit of the eighth byte.
TEST(InflateEdges, AFinalCodeEndingExactlyOnTheLastInputBitSucceeds) {
    BitWriter w;
    fixed_header(w, true);
    std::string expected;
    for (int i = 0; i < 6; ++i) {
        fixed_symbol(w, 200 + i);
        expected += static_cast<char>(200 + i);
    }
    fixed_symbol(w, 256);
    ASSERT_EQ(w.bit_count(), 64u);
    std::string stream = w.bytes();
    ASSERT_EQ(stream.size(), 8u);

    std::string zlib_out;
    ASSERT_TRUE(zlib_inflate(stream, &zlib_out));
    ASSERT_EQ(zlib_out, expected);
    std::string decoded;
    EXPECT_EQ(inflate_string(stream, 6, &decoded), 6);
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(inflate_string(stream.substr(0, 7), 6), -1);
}

TEST(InflateEdges, TheReservedBlockTypeFails) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(3, 2);
    w.raw(std::string(16, '\0'));
    EXPECT_EQ(inflate_string(w.bytes(), 64), -1);
}

TEST(InflateEdges, FixedCodeSymbolsWithoutAMeaningFail) {
    for (int symbol : {286, 287}) {
        BitWriter w;
        fixed_header(w, true);
        fixed_symbol(w, 'a');
        fixed_symbol(w, symbol);
        w.code(0, 5);
        fixed_symbol(w, 256);
        EXPECT_EQ(inflate_string(w.bytes(), 64), -1) << symbol;
    }
    for (int distance_code : {30, 31}) {
        BitWriter w;
        fixed_header(w, true);
        fixed_symbol(w, 'a');
        fixed_symbol(w, 257);
        w.code(distance_code, 5);
        fixed_symbol(w, 256);
        w.raw(std::string(4, '\0'));
        EXPECT_EQ(inflate_string(w.bytes(), 64), -1) << distance_code;
    }
}

// Incomplete and over-subscribed codes are not rejected when the header is
// read (zlib rejects both): the symbols they place decode, and a code that
// was never assigned fails when it is met.
TEST(InflateEdges, IncompleteAndOverSubscribedCodesDecodeTheSymbolsTheyPlace) {
    DynamicBlock incomplete;  // 'a' = 0, end = 10; 11 is unassigned
    incomplete.literal_lengths.assign(257, 0);
    incomplete.literal_lengths['a'] = 1;
    incomplete.literal_lengths[256] = 2;
    incomplete.distance_lengths = {0};
    incomplete.symbols = {{'a', -1}, {'a', -1}, {256, -1}};
    std::string stream = dynamic_stream(incomplete);
    std::string zlib_out;
    ASSERT_FALSE(zlib_inflate(stream, &zlib_out));
    std::string decoded;
    EXPECT_EQ(inflate_string(stream, 2, &decoded), 2);
    EXPECT_EQ(decoded, "aa");

    // The unassigned code 11 followed by ones fails after 15 bits.
    BitWriter unassigned;
    dynamic_header(unassigned, true, 0, 0, plain_ops([] {
                       std::vector<int> l(258, 0);
                       l['a'] = 1;
                       l[256] = 2;
                       return l;
                   }()));
    unassigned.code(0, 1);  // 'a'
    unassigned.bits(0xFFFF, 16);
    EXPECT_EQ(inflate_string(unassigned.bytes(), 64), -1);

    // 'a' = 0, end = 1, and 'c' has a length but no code left for it.
    std::vector<int> over(258, 0);
    over['a'] = 1;
    over['c'] = 2;
    over[256] = 1;
    BitWriter w;
    dynamic_header(w, true, 0, 0, plain_ops(over));
    w.code(0, 1);
    w.code(0, 1);
    w.code(1, 1);
    ASSERT_FALSE(zlib_inflate(w.bytes(), &zlib_out));
    EXPECT_EQ(inflate_string(w.bytes(), 2, &decoded), 2);
    EXPECT_EQ(decoded, "aa");
}

// The reference decoder's canonical walk, on which every other expectation
// rests.

// The example of RFC 1951, 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) for A..H
// give the codes 010 011 100 101 110 00 1110 1111.
TEST(HuffmanTables, TheRfcExampleLengthsDecodeToTheRfcCodes) {
    const uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint16_t symbols[8];
    huffman_ref_table table = {{}, symbols};
    huffman_ref_build(&table, lengths, 8);
    EXPECT_EQ(table.count[2], 1);
    EXPECT_EQ(table.count[3], 5);
    EXPECT_EQ(table.count[4], 2);

    const struct {
        uint32_t code;
        int length;
    } codes[8] = {{0b010, 3}, {0b011, 3}, {0b100, 3}, {0b101, 3}, {0b110, 3}, {0b00, 2}, {0b1110, 4}, {0b1111, 4}};
    BitWriter w;
    for (int symbol : {7, 5, 0, 6, 4, 1, 3, 2}) w.code(codes[symbol].code, codes[symbol].length);
    std::string input = w.bytes();
    inflate_ref_state s = {};
    s.in = bytes_of(input);
    s.in_len = input.size();
    for (int symbol : {7, 5, 0, 6, 4, 1, 3, 2}) EXPECT_EQ(huffman_ref_decode(&s, &table), symbol);
    EXPECT_EQ(s.error, 0);
}

TEST(HuffmanTables, DecodingPastTheInputSetsTheErrorFlagAndFails) {
    const uint8_t lengths[2] = {1, 1};
    uint16_t symbols[2];
    huffman_ref_table table = {{}, symbols};
    huffman_ref_build(&table, lengths, 2);
    uint8_t one_byte = 0b10110100;
    inflate_ref_state s = {};
    s.in = &one_byte;
    s.in_len = 1;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(huffman_ref_decode(&s, &table), (one_byte >> i) & 1);
    EXPECT_EQ(huffman_ref_decode(&s, &table), -1);
    EXPECT_NE(s.error, 0);
}

}  // namespace
