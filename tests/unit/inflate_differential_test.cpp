// The table-driven inflate decoder against the reference decoder, on streams
// chosen to reach every path of the fast one: bit flips, generated incomplete
// and over-subscribed codes, long codes that need second-level tables, the
// longest codes cut where the fast loop reads furthest ahead, and random
// bytes (real encoders' streams at every capacity around their size, and
// every truncation, are in inflate_test.cpp). On each, both must return the
// same result and produce the same bytes (after a failure, those the
// reference had written), write nothing past the buffer and read nothing past
// the input (decodes_like_reference).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codecs/cpu_features.h"
#include "codecs/crc32.h"
#include "codecs/inflate.h"
#include "inflate_support.h"
#include "peer_tools.h"
#include "support.h"

namespace {

// Damage anywhere: in block headers, code lengths, codes, extra bits, stored
// lengths. Whatever either decoder makes of it, the other makes the same.
TEST(InflateDifferential, BitFlipsAndDamagedBytesDecodeAlike) {
    std::string data = mixed_content(1500, 34);
    std::vector<std::string> streams = {zlib_raw_deflate(data, 9), zlib_raw_deflate(data, 6, Z_FIXED),
                                        zlib_raw_deflate(data, 0), zlib_raw_deflate(data, 6, Z_HUFFMAN_ONLY)};
    std::mt19937 engine(35);
    for (const std::string& stream : streams) {
        for (size_t bit = 0; bit < stream.size() * 8; ++bit) {
            std::string flipped = stream;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
            ASSERT_TRUE(decodes_like_reference(flipped, data.size())) << "bit " << bit;
            ASSERT_TRUE(decodes_like_reference(flipped, data.size() + 300)) << "bit " << bit;
        }
        for (int round = 0; round < 300; ++round) {
            std::string damaged = stream;
            for (int i = 0; i < 3; ++i) damaged[engine() % damaged.size()] = static_cast<char>(engine());
            ASSERT_TRUE(decodes_like_reference(damaged, data.size() + 300)) << "round " << round;
        }
    }
}

// A final dynamic block with the given code lengths, then symbols drawn at
// random from those that have a code, ending with the end-of-block code when
// it has one, then random bits, written after what w holds, which decodes to
// produced bytes. Extra bits are random; a match's distance code is one whose
// distance cannot reach before the output when it has one, so that most
// blocks decode to the end.
void write_coded_block(BitWriter& w, const std::vector<int>& literal_lengths, const std::vector<int>& distance_lengths,
                       std::mt19937& engine, int symbol_count, int produced) {
    static const int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                          33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    dynamic_header(w, literal_lengths, distance_lengths);
    std::vector<WalkedCode> lit = walk_codes(literal_lengths);
    std::vector<WalkedCode> dist = walk_codes(distance_lengths);
    std::vector<int> coded_literals;
    for (size_t s = 0; s < lit.size(); ++s)
        if (lit[s].length && s != 256) coded_literals.push_back(static_cast<int>(s));
    for (int i = 0; i < symbol_count && !coded_literals.empty(); ++i) {
        int symbol = coded_literals[engine() % coded_literals.size()];
        int d = -1;
        if (symbol >= 257 && symbol <= 285) {
            std::vector<int> reachable;
            for (size_t s = 0; s < dist.size() && s < 30; ++s)
                if (dist[s].length && kDistanceBase[s] <= produced) reachable.push_back(static_cast<int>(s));
            if (reachable.empty()) continue;
            d = reachable[engine() % reachable.size()];
        }
        w.code(lit[symbol].code, lit[symbol].length);
        if (symbol < 256) ++produced;
        if (d < 0) continue;
        int extra = static_cast<int>(engine() % (1u << kLengthExtra[symbol - 257]));
        w.bits(extra, kLengthExtra[symbol - 257]);
        w.code(dist[d].code, dist[d].length);
        uint32_t reach = static_cast<uint32_t>(produced - kDistanceBase[d]) + 1;
        w.bits(engine() % std::min(1u << kDistanceExtra[d], reach), kDistanceExtra[d]);
        produced += kLengthBase[symbol - 257] + extra;
    }
    if (lit.size() > 256 && lit[256].length) w.code(lit[256].code, lit[256].length);
    for (int i = 0; i < 4; ++i) w.bits(engine(), 32);
}

void expect_alike_with_some_capacities(const std::string& name, const std::string& stream) {
    int32_t result;
    ASSERT_TRUE(decodes_like_reference(stream, 1 << 16, &result)) << name;
    if (result <= 0) return;
    for (uint64_t capacity : {uint64_t{0}, uint64_t(result) / 2, uint64_t(result) - 1, uint64_t(result)})
        ASSERT_TRUE(decodes_like_reference(stream, capacity)) << name << ", capacity " << capacity;
}

// Code sets no encoder writes: incomplete ones (bit strings that reach no
// symbol), over-subscribed ones (symbols that get no code), single codes,
// empty distance codes, and long ones: codes of 12 to 15 bits live in
// second-level tables. The reference's canonical walk decides what each bit
// string means; the tables must say the same.
TEST(InflateDifferential, IncompleteOverSubscribedAndLongCodeSetsDecodeAlike) {
    std::mt19937 engine(36);
    for (int round = 0; round < 2000; ++round) {
        int style = round % 5;
        int symbol_count = 40;
        std::vector<int> literal_lengths, distance_lengths;
        if (style < 4) {
            literal_lengths.assign(257 + engine() % 32, 0);  // up to 288: HLIT 287 and 288 fail too
            distance_lengths.assign(1 + engine() % 32, 0);
            for (int& len : literal_lengths) {
                if (style == 0)  // sparse: mostly incomplete
                    len = engine() % 6 == 0 ? 1 + engine() % 15 : 0;
                else if (style == 1)  // dense and short: over-subscribed
                    len = 1 + engine() % 9;
                else if (style == 2)  // long codes, around the first-level width
                    len = 9 + engine() % 7;
                else
                    len = engine() % 16;
            }
            for (int& len : distance_lengths) len = engine() % 3 == 0 ? 0 : 1 + engine() % 15;
            literal_lengths[256] = engine() % 4 == 0 ? 0 : literal_lengths[256];
        } else {
            // Complete, incomplete and cut-off sets whose long codes step
            // through every length, in prefixes of every shape, decoded as
            // valid streams so that every symbol is reached: a few short
            // codes, then as many long ones as there is room for, their
            // lengths growing in random steps; the end of block among the
            // first long ones.
            literal_lengths.assign(286, 0);
            distance_lengths.assign(30, 0);
            symbol_count = 400;
            std::vector<int> order;
            for (int i = 0; i < 286; ++i)
                if (i != 256) order.push_back(i);
            std::shuffle(order.begin(), order.end(), engine);
            int shorts = static_cast<int>(engine() % 6);
            order.insert(order.begin() + shorts + engine() % 8, 256);
            double room = 1.0;
            size_t next = 0;
            for (; next < static_cast<size_t>(shorts); ++next) {
                int len = 2 + static_cast<int>(engine() % 8);
                literal_lengths[order[next]] = len;
                room -= 1.0 / (1 << len);
            }
            int len = 10 + static_cast<int>(engine() % 3);
            for (; next < order.size() && room > 0; ++next) {
                if (engine() % 5 == 0 && len < 15) ++len;
                literal_lengths[order[next]] = len;
                room -= 1.0 / (1 << len);
            }
            if (round % 3 == 0) literal_lengths[order[0]] = 1;  // over-subscribed: the last codes are cut
            for (int& d : distance_lengths) d = 5 + static_cast<int>(engine() % 11);
        }
        BitWriter w;
        write_coded_block(w, literal_lengths, distance_lengths, engine, symbol_count, 0);
        expect_alike_with_some_capacities("round " + std::to_string(round), w.bytes());
    }
}

// The fast loop tops its bit buffer up 8 bytes at a time, ahead of the bits
// it takes, and counts on its margin from the end of the input to stay inside
// it. It reads furthest ahead in rounds of the longest codes with the most
// extra bits: literals of 11 bits (the longest in the first level), lengths
// with 5 extra bits, in the first level and past it, and distances of 15
// bits with 13 extra bits; and in its first round, when it starts with
// whatever the block header left in the buffer. A stored block first gives
// those distances output to reach back into; then such a block, its header
// made longer or shorter by a few more literals, is cut at every length
// around the end of its header, and for some at every length, so that every
// round in turn meets the end of the input where it reads furthest. The
// input ends against a page that may not be read.
TEST(InflateDifferential, TheLongestCodesNeverMakeTheFastLoopReadPastTheInput) {
    std::mt19937 engine(41);
    std::vector<int> literal_lengths(286, 0);
    for (int c = 'a'; c <= 'h'; ++c) literal_lengths[c] = 11;
    literal_lengths[256] = 11;
    literal_lengths[281] = literal_lengths[282] = 11;
    literal_lengths[283] = literal_lengths[284] = 15;
    std::vector<int> distance_lengths(30, 0);
    distance_lengths[28] = distance_lengths[29] = 15;
    const std::string history = random_bytes(32768, 42);
    std::string stored = {static_cast<char>(history.size() & 0xFF), static_cast<char>(history.size() >> 8)};
    stored += {static_cast<char>(~stored[0]), static_cast<char>(~stored[1])};
    stored += history;
    for (int round = 0; round < 40; ++round) {
        for (int c = 'i'; c <= 'z'; ++c) literal_lengths[c] = engine() % 3 == 0 ? 11 : 0;
        BitWriter w;
        w.bits(0, 1);
        w.bits(0, 2);
        w.raw(stored);
        size_t block_start = w.bytes().size();
        write_coded_block(w, literal_lengths, distance_lengths, engine, 120, static_cast<int>(history.size()));
        std::string stream = w.bytes();
        int32_t result;
        ASSERT_TRUE(decodes_like_reference(stream, 1 << 17, &result)) << "round " << round;
        ASSERT_GT(result, static_cast<int32_t>(history.size())) << "round " << round;
        size_t last_cut = round < 3 ? stream.size() : std::min(stream.size(), block_start + 120);
        for (size_t cut = block_start; cut < last_cut; ++cut)
            ASSERT_TRUE(decodes_like_reference(stream.substr(0, cut), static_cast<uint64_t>(result) + 300))
                << "round " << round << ", cut at " << cut;
    }
}

// Random input: random code-length codes (any 3-bit lengths, any HCLEN),
// which may themselves be incomplete or over-subscribed and whose runs may
// cross into the distance lengths or past the end, then random bits; and
// short random bytes, mostly failing in the block header, decoded entirely by
// the careful path, which must fail in the same places.
TEST(InflateDifferential, RandomCodeLengthCodesAndRandomBytesDecodeAlike) {
    std::mt19937 engine(37);
    for (int round = 0; round < 3000; ++round) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(2, 2);
        w.bits(engine() % 32, 5);
        w.bits(engine() % 32, 5);
        int hclen = static_cast<int>(engine() % 16);
        w.bits(hclen, 4);
        for (int i = 0; i < hclen + 4; ++i) w.bits(engine() % 8, 3);
        for (int i = 0; i < 40; ++i) w.bits(engine(), 32);
        expect_alike_with_some_capacities("round " + std::to_string(round), w.bytes());
    }
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = random_bytes(1 + engine() % 64, static_cast<uint32_t>(round));
        bytes[0] = static_cast<char>((bytes[0] & ~6) | ((round % 3) << 1));  // block types 0 to 2, half final
        ASSERT_TRUE(decodes_like_reference(bytes, 1 + engine() % 300)) << "bytes, round " << round;
    }
}

// With the processor's features hidden (as on a processor without them),
// inflate_raw and crc32_buffer take their portable paths, and still give the
// reference's results; lifting the limit brings the fast paths back where the
// processor has them.
TEST(InflateDifferential, HidingTheProcessorsFeaturesTakesThePortablePaths) {
    std::string data = mixed_content(20000, 40);
    std::string stream = zlib_raw_deflate(data, 9);
    cpu_features none{};
    cpu_features_limit(&none);
    EXPECT_STREQ(inflate_implementation(), "portable");
    EXPECT_STREQ(crc32_implementation(), "portable");
    std::string decoded;
    EXPECT_TRUE(decodes_like_reference(stream, data.size(), nullptr, &decoded));
    EXPECT_TRUE(decoded == data);
    EXPECT_EQ(crc32_buffer(reinterpret_cast<const uint8_t*>(data.data()), data.size()), zlib_crc32(data));
    cpu_features_limit(nullptr);

    cpu_features detected = cpu_features_detected();
    EXPECT_STREQ(inflate_implementation(), detected.bmi1 && detected.bmi2 ? "bmi" : "portable");
    EXPECT_STREQ(crc32_implementation(), detected.pclmul ? "pclmul" : "portable");
}

}  // namespace
