// The inflate decoder against zlib and real encoders, and on streams written by hand with their own expected bytes.
// Both paths decode every stream and must agree, with the input and the output each ending against an unreadable page,
// into a whole buffer and streamed through a window.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <optional>
#include <random>

#include "codecs/cpu_features.h"
#include "codecs/inflate.h"
#include "peer_tools.h"
#include "support.h"

namespace {

using Decoded = std::optional<std::string>;  // nothing: the stream fails
const std::nullopt_t kFails = std::nullopt;

// size bytes that end where a page with no access begins.
struct Guarded {
    explicit Guarded(size_t size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length = (size + page - 1) / page * page + page;
        map = static_cast<uint8_t*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (map == MAP_FAILED || mprotect(map + length - page, page, PROT_NONE) != 0) std::abort();
        data = map + length - page - size;
    }
    ~Guarded() { munmap(map, length); }
    size_t length;
    uint8_t *map, *data;
};

bool append(void* to, const uint8_t* bytes, uint64_t count) {
    static_cast<std::string*>(to)->append(bytes, bytes + count);
    return true;
}

// Decodes stream into capacity bytes on inflate_raw (the BMI loop where the processor has it) and the portable path,
// and streamed through the smallest window on both paths, which has no capacity: it decodes what fits and what not.
Decoded inflate_both(const std::string& stream, uint64_t capacity) {
    Guarded in(stream.size());
    std::copy(stream.begin(), stream.end(), in.data);
    Decoded decoded[2];
    for (int path : {0, 1}) {
        Guarded out(capacity);
        const int32_t result = (path ? inflate_raw_portable : inflate_raw)(in.data, stream.size(), out.data, capacity);
        if (result >= 0) decoded[path] = std::string(out.data, out.data + result);
    }
    EXPECT_TRUE(decoded[0] == decoded[1]) << "the paths disagree, capacity " << capacity;
    const cpu_features none = {};
    for (const cpu_features* limit : {static_cast<const cpu_features*>(nullptr), &none}) {
        cpu_features_limit(limit);
        Guarded window(kInflateMinWindow);
        std::string streamed;
        const int64_t result =
            inflate_raw_stream(in.data, stream.size(), window.data, kInflateMinWindow, append, &streamed);
        cpu_features_limit(nullptr);
        const bool streamed_whole = result == int64_t(streamed.size());
        EXPECT_TRUE(decoded[0] ? streamed_whole && streamed == decoded[0]
                               : result == -1 || (streamed_whole && uint64_t(result) > capacity))
            << "streamed, " << (limit ? "portable" : "processor's path") << ", capacity " << capacity;
    }
    return decoded[0];
}

// A stream stops where its writer refuses, and does not start in a window too small for the history.
TEST(InflateStream, AWriterThatRefusesOrAWindowTooSmallFailsTheStream) {
    const std::string data = mixed_content(300 << 10, 5), stream = zlib_raw_deflate(data, 6);
    std::vector<uint8_t> window(kInflateMinWindow);
    const auto* in = reinterpret_cast<const uint8_t*>(stream.data());
    int calls = 0;
    auto refuse_second = [](void* calls, const uint8_t*, uint64_t) { return ++*static_cast<int*>(calls) < 2; };
    EXPECT_EQ(inflate_raw_stream(in, stream.size(), window.data(), window.size(), refuse_second, &calls), -1);
    EXPECT_EQ(calls, 2);
    std::string out;
    EXPECT_EQ(inflate_raw_stream(in, stream.size(), window.data(), window.size() - 1, append, &out), -1);
    EXPECT_EQ(inflate_raw_stream(in, stream.size(), window.data(), window.size(), append, &out), int64_t(data.size()));
    EXPECT_EQ(out, data);
}

// zlib at every level and strategy and with sync flushes, and the other encoders. The streams of the smaller inputs
// fail at every capacity below their size and decode above it (the fast loop stops 265 bytes before the end).
TEST(InflatePeers, StreamsOfRealEncodersDecodeToTheOriginal) {
    TempDir tmp;
    for (const std::string& data : {std::string(), mixed_content(300 << 10, 1), mixed_content(24 << 10, 31),
                                    random_bytes(70 << 10, 2)}) {  // the last in stored blocks
        std::vector<std::string> streams = {zlib_raw_deflate(data, 6, Z_DEFAULT_STRATEGY, 3000)};
        for (int level = 0; level <= 9; ++level) streams.push_back(zlib_raw_deflate(data, level));
        for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED})
            streams.push_back(zlib_raw_deflate(data, 6, strategy));
        write_file(tmp.at("in"), data);
        for (std::string tool : {"gzip -1 -c", "gzip -9 -c", "libdeflate-gzip -1 -c", "libdeflate-gzip -12 -c",
                                 "pigz -11 -c", "7zz a -tgzip -mx9 -bso0 -bsp0 -so x.gz"}) {
            if (tool[0] == 'p' && data.size() > 50000) continue;  // pigz -11 is zopfli: slow
            std::string gzip;  // header, the name if FNAME is set, the stream, then the trailer
            ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.path()) + " && " + tool + " in", &gzip));
            streams.push_back(gzip.substr(gzip[3] ? gzip.find('\0', 10) + 1 : 10));
        }
        for (size_t i = 0; i < streams.size(); ++i) {
            EXPECT_TRUE(inflate_both(streams[i], data.size()) == data) << "stream " << i << " of " << data.size();
            for (size_t c = 0; data.size() < 30000 && c <= data.size() + 2; c = c == 40 ? data.size() - 300 : c + 1)
                ASSERT_EQ(inflate_both(streams[i], c).has_value(), c >= data.size()) << "stream " << i << ", " << c;
        }
    }
}

// Fields least significant bit first, Huffman codes most significant bit first.
struct BitWriter {
    std::string bytes;
    size_t count = 0;
    void bits(uint32_t value, int n) {
        for (int i = 0; i < n; ++i, ++count) {
            if (count % 8 == 0) bytes += '\0';
            bytes.back() = static_cast<char>(bytes.back() | ((value >> i) & 1) << (count % 8));
        }
    }
    void code(std::pair<uint32_t, int> c) {
        for (int i = c.second - 1; i >= 0; --i) bits(c.first >> i, 1);
    }
};

// The canonical codes (RFC 1951, 3.2.2) of lengths; a set that runs out of room leaves the rest without one ({0, 0}).
std::vector<std::pair<uint32_t, int>> walk_codes(const std::vector<int>& lengths) {
    std::vector<std::pair<uint32_t, int>> codes(lengths.size(), {0, 0});
    uint32_t next = 0;  // counts on past the room a length has
    for (int len = 1; len <= 15; ++len, next <<= 1)
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len && next++ < (1u << len)) codes[s] = {next - 1, len};
    return codes;
}

// A final dynamic block's header: HLIT, HDIST, a complete code-length code (of 4 and 5 bits), then ops {symbol, extra}.
void dynamic_header(BitWriter& w, int hlit, int hdist, const std::vector<std::pair<int, int>>& ops) {
    std::vector<int> code_lengths(19, 4);
    std::fill(code_lengths.begin() + 10, code_lengths.begin() + 16, 5);
    w.bits(0b101 | hlit << 3 | hdist << 8 | 15 << 13, 17);
    for (int s : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) w.bits(code_lengths[s], 3);
    for (auto [symbol, extra] : ops) {
        w.code(walk_codes(code_lengths)[symbol]);
        w.bits(extra, symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0);
    }
}

// The same for these literal/length and distance code lengths, each sent as itself.
void dynamic_header(BitWriter& w, const std::vector<int>& literal, const std::vector<int>& distance) {
    std::vector<std::pair<int, int>> ops;
    for (const std::vector<int>* lengths : {&literal, &distance})
        for (int length : *lengths) ops.push_back({length, 0});
    dynamic_header(w, int(literal.size()) - 257, int(distance.size()) - 1, ops);
}

// The longest codes with the most extra bits, where the fast loop reads furthest ahead: after 32 KB of stored
// history, literals of 11 bits and matches whose length codes (of 11 and 15 bits, linked) take 5 extra bits and
// whose distance codes (of 15 bits) take 13. Each block decodes to what was written, and cut at any length it fails.
TEST(InflateEdges, TheLongestCodesNeverMakeTheFastLoopReadPastTheInput) {
    std::mt19937 engine(41);
    for (int round = 0; round < 40; ++round) {
        std::vector<int> literal(286, 0), distance(30, 0);
        for (int c = 'a'; c <= 'z'; ++c) literal[c] = c <= 'h' || engine() % 3 == 0 ? 11 : 0;
        literal[256] = literal[281] = literal[282] = 11;
        literal[283] = literal[284] = distance[28] = distance[29] = 15;
        std::string out = random_bytes(32768, 42);
        BitWriter w{std::string("\0\0\x80\xff\x7f", 5) + out, 8 * (5 + out.size())};  // a stored block
        dynamic_header(w, literal, distance);
        for (int i = 0; i < 120; ++i) {
            const int s = engine() % 2 ? 'a' + engine() % 8 : 281 + engine() % 4, d = 28 + engine() % 2;
            w.code(walk_codes(literal)[s]);
            if (s < 256) out += static_cast<char>(s);
            if (s < 256) continue;
            const uint32_t extra = engine() % 32, base = d == 28 ? 16385 : 24577, back = base + engine() % 8192;
            w.bits(extra, 5);
            w.code(walk_codes(distance)[d]);
            w.bits(back - base, 13);
            for (uint32_t k = 0; k < 131 + 32 * (s - 281) + extra; ++k) out += out[out.size() - back];
        }
        w.code(walk_codes(literal)[256]);
        ASSERT_EQ(inflate_both(w.bytes, out.size() + 300), out) << "round " << round;
        for (size_t cut = 5 + 32768 + round % 4; cut < w.bytes.size(); cut += round < 4 ? 1 : 4)
            ASSERT_EQ(inflate_both(w.bytes.substr(0, cut), out.size()), kFails) << "round " << round << ", cut " << cut;
    }
}

// A final fixed-code block: literals, maybe a length symbol (no extra bits) and a distance code with its extra bits.
std::string fixed_block(const std::string& literals, int length_symbol = -1, uint32_t distance = 0, int extra = 0) {
    std::vector<int> lengths(288, 8);
    for (int s = 144; s < 280; ++s) lengths[s] = s < 256 ? 9 : 7;
    const auto code = walk_codes(lengths);
    BitWriter w;
    w.bits(0b011, 3);
    for (char c : literals) w.code(code[static_cast<uint8_t>(c)]);
    if (length_symbol >= 0) {
        w.code(code[length_symbol]);
        w.code({distance, 5});
        w.bits(extra, distance < 4 ? 0 : distance / 2 - 1);
    }
    w.code(code[256]);
    return w.bytes;
}

// A final dynamic block of `literals` literal/length codes, those named given a length, and `distances` without one.
std::string dynamic_block(const std::vector<std::pair<int, int>>& lengths, const std::vector<int>& symbols,
                          int literals = 257, int distances = 1) {
    std::vector<int> literal(literals, 0);
    for (auto [symbol, length] : lengths) literal[symbol] = length;
    BitWriter w;
    dynamic_header(w, literal, std::vector<int>(distances, 0));
    for (int symbol : symbols) w.code(walk_codes(literal)[symbol]);
    return w.bytes;
}

// "aaaa" from 'a' (code 10), end of block (11), length 257 (0) and distance 0 (0), in 259 code lengths (HLIT 258,
// HDIST 1): first_run sends the first three, last_run the distance code's.
std::string aaaa_stream(std::pair<int, int> first_run, std::pair<int, int> last_run) {
    BitWriter w;
    dynamic_header(w, 1, 0, {first_run, {18, 83}, {2, 0}, {18, 127}, {18, 9}, {2, 0}, {1, 0}, last_run});
    w.bits(0b110001, 6);  // the codes 10, 0, 0, 11, the first bit lowest
    return w.bytes;
}

TEST(InflateEdges, HandBuiltStreamsDecodeWholeOrFail) {
    const std::string pad(32, '\0');                      // more input than the fast loop needs
    const std::string high = "\xc8\xc9\xca\xcb\xcc\xcd";  // 3 + 6 * 9 + 7 bits: the end of block ends a byte
    // {what, stream, what it decodes to, lenient: decoded here, refused by zlib}
    const std::tuple<const char*, std::string, Decoded, bool> cases[] = {
        // clang-format off
        {"stored block whose NLEN is not the complement", std::string("\x01\x03\x00\x12\x34" "abc", 8), "abc", true},
        {"stored block cut in NLEN", std::string("\x01\x03\x00\xfc", 4), kFails, false},
        {"stored block cut in its data", std::string("\x01\x03\x00\xfc\xff" "ab", 7), kFails, false},
        {"reserved block type", "\x07" + pad, kFails, false},
        {"a non-final block, a final one, and one more ignored",
         std::string("\x00\x02\x00\xfd\xff" "ab\x01\x01\x00\xfe\xff" "c\x01\x01\x00\xfe\xff" "d", 19), "abc", false},
        // clang-format on
        {"length 258 at distance 1 after one literal", fixed_block("x", 285, 0), std::string(259, 'x'), false},
        {"distance 2 after two bytes", fixed_block("ab", 257, 1), "ababa", false},
        {"distance 3 after two bytes", fixed_block("ab", 257, 2), kFails, false},
        {"distance 8 after eight bytes", fixed_block("abcdefgh", 257, 5, 1) + pad, "abcdefghabc", false},
        {"distance 9 after eight bytes", fixed_block("abcdefgh", 257, 6, 0) + pad, kFails, false},
        {"a literal and a longest match, the most a round writes", fixed_block("abcdefghx", 285, 0) + pad,
         "abcdefgh" + std::string(259, 'x'), false},
        {"fixed literal/length symbol 286", fixed_block("a", 286, 0) + pad, kFails, false},
        {"fixed distance code 30", fixed_block("a", 257, 30) + pad, kFails, false},
        {"last code ending on the last input bit", fixed_block(high), high, false},
        {"the same one byte short", fixed_block(high).substr(0, 7), kFails, false},
        {"HLIT 287 (no stream needs more than 286)", dynamic_block({}, {}, 287), kFails, false},
        {"HDIST 31 (no stream needs more than 30)", dynamic_block({}, {}, 286, 31), kFails, false},
        {"code-length repeat past HLIT + HDIST: 6 times, 5 dropped", aaaa_stream({17, 0}, {16, 3}), "aaaa", true},
        {"repeat before any code length", aaaa_stream({16, 0}, {1, 0}), kFails, false},
        {"incomplete: 'a' 0, end 10", dynamic_block({{'a', 1}, {256, 2}}, {'a', 'a', 256}), "aa", true},
        {"incomplete, then the unassigned 11", dynamic_block({{'a', 1}, {256, 2}}, {'a'}) + "\xff", kFails, false},
        {"over-subscribed: 'a' 0, end 1, 'c' none", dynamic_block({{'a', 1}, {'c', 2}, {256, 1}}, {'a', 'a', 256}),
         "aa", true},
    };
    for (const auto& [name, stream, expected, lenient] : cases) {
        std::string out(1 << 16, '\0');  // zlib's raw inflate, to the end of the final block or it fails
        z_stream z = {};
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = reinterpret_cast<Bytef*>(&out[0]);
        z.avail_out = static_cast<uInt>(out.size());
        const bool whole = inflateInit2(&z, -15) == Z_OK && inflate(&z, Z_FINISH) == Z_STREAM_END;
        inflateEnd(&z);
        EXPECT_EQ(whole ? Decoded(out.substr(0, z.total_out)) : kFails, lenient ? kFails : expected) << name;
        const size_t size = expected.value_or("").size();
        for (size_t room = size ? size - 1 : 0; room <= size + 300; ++room)
            ASSERT_EQ(inflate_both(stream, room), room < size ? kFails : expected) << name << ", room " << room;
    }
}

}  // namespace
