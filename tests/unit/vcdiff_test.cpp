// The VCDIFF decoder on patches of Debian's xdelta3, which must rebuild their targets, and on patches written by hand
// with the bytes each must give or its failure; and the stand-in ROM patch in assets/, rebuilt from its generator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "codecs/vcdiff.h"
#include "peer_tools.h"
#include "support.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::nullopt_t kFails = std::nullopt;

// vcdiff_apply on copies of exactly their size, for AddressSanitizer; a failure must leave the output length alone.
// The plan must agree on whether the patch applies, and in place, in a block of exactly the planned size, it must give
// the same bytes.
std::optional<std::string> decode(const std::string& patch, const std::string& source) {
    const Bytes p(patch.begin(), patch.end()), s(source.begin(), source.end());
    size_t length = 77;
    uint8_t* out = vcdiff_apply(p.data(), p.size(), s.data(), s.size(), &length);
    EXPECT_TRUE(out || length == 77) << "a failed call changed the output length";
    std::optional<std::string> result = out ? std::optional<std::string>(std::string(out, out + length)) : kFails;
    std::free(out);

    vcdiff_layout layout{};
    EXPECT_EQ(vcdiff_plan_in_place(p.data(), p.size(), s.size(), &layout), result.has_value()) << "the plan disagrees";
    if (result) {
        Bytes block(layout.block_size);
        std::copy(s.begin(), s.end(), block.begin() + static_cast<ptrdiff_t>(layout.source_at));
        length = 0;
        EXPECT_TRUE(vcdiff_apply_in_place(p.data(), p.size(), block.data(), layout, s.size(), &length) &&
                    std::string(block.begin(), block.begin() + static_cast<ptrdiff_t>(length)) == *result)
            << "in place";
    }
    return result;
}

// An integer as VCDIFF writes it: base 128, most significant group first.
Bytes varint(uint64_t value) {
    Bytes out = {static_cast<uint8_t>(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A window; with indicator bit 4 its checksum field holds no checksum.
Bytes window(uint8_t indicator, uint64_t size, uint64_t position, const std::string& data, Bytes instructions,
             Bytes addresses = {}, uint64_t target_length = 64, uint8_t delta_indicator = 0) {
    // clang-format off
    const Bytes delta = cat({varint(target_length), {delta_indicator}, varint(data.size()), varint(instructions.size()),
                             varint(addresses.size()), indicator & 4 ? Bytes{0xDE, 0xAD, 0xBE, 0xEF} : Bytes(),
                             Bytes(data.begin(), data.end()), instructions, addresses});
    // clang-format on
    const Bytes segment = indicator & 3 ? cat({varint(size), varint(position)}) : Bytes();
    return cat({{indicator}, segment, varint(delta.size()), delta});
}
// A file header with a short application header, then the windows.
const Bytes kMagic = {0xD6, 0xC3, 0xC4, 0x00, 0x04};
Bytes patch(std::initializer_list<Bytes> windows) { return cat({kMagic, {4, 't', 'e', 's', 't'}, cat(windows)}); }

// Code table indexes (RFC 3284, 5.6) of the entries whose size follows them.
constexpr uint8_t kRun = 0, kAdd = 1;
constexpr uint8_t copy(int mode) { return static_cast<uint8_t>(19 + 16 * mode); }
constexpr int kSelf = 0, kNear0 = 2, kSame0 = 6;
const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

Bytes on_alphabet(const std::string& data, Bytes instructions, Bytes addresses = {}) {
    return window(1, kAlphabet.size(), 0, data, instructions, addresses);
}

// Each patch, decoded against kAlphabet, gives the bytes its row names (kFails: nothing).
void expect_cases(const std::vector<std::tuple<const char*, Bytes, std::optional<std::string>>>& cases) {
    for (const auto& [what, p, expected] : cases)
        EXPECT_EQ(decode(std::string(p.begin(), p.end()), kAlphabet), expected) << what;
}

// Data bytes are lower case, source bytes upper case and digits. The caches are empty at the start of each window, so
// a cached address is 0 plus what the addresses section adds.
TEST(VcdiffInstructions, CodeTableEdgesAndAddressModesDecodeAsRfc3284SaysWithCachesEmptyInEachWindow) {
    auto entry = [](uint8_t index, Bytes at) { return patch({on_alphabet("abcdefghijklmnopq", {index}, at)}); };
    expect_cases({
        // clang-format off
        {"ADD 17", entry(18, {}), "abcdefghijklmnopq"}, {"COPY 18 self", entry(34, {0}), "ABCDEFGHIJKLMNOPQR"},
        {"COPY 4 here", entry(36, {36 - 10}), "KLMN"}, {"COPY 18 same 2", entry(162, {0x99}), "ABCDEFGHIJKLMNOPQR"},
        {"ADD 1, COPY 5 self", entry(164, {1}), "aBCDEF"}, {"ADD 1, COPY 4 here", entry(175, {37 - 30}), "a4567"},
        {"ADD 4, COPY 6 near 3", entry(234, {5}), "abcdFGHIJK"}, {"ADD 1, COPY 4 same 0", entry(235, {0}), "aABCD"},
        {"ADD 4, COPY 4 same 2", entry(246, {0xFF}), "abcdABCD"}, {"COPY 4 self, ADD 1", entry(247, {9}), "JKLMa"},
        {"COPY 4 same 2, ADD 1", entry(255, {0x80}), "ABCDa"},
        // clang-format on
        {"caches start empty in every window",  // the first window leaves 7 in near slot 0 and same entry 7
         patch({on_alphabet("", {copy(kSelf), 1}, {7}), on_alphabet("", {copy(kNear0), 1, copy(kSame0), 1}, {1, 7})}),
         "HBA"},
    });
}

// Every field at its limit decodes, and one step beyond it fails the patch.
TEST(VcdiffFrame, HeadersSegmentsSectionsAndInstructionsDecodeUpToTheirLimitsAndFailPastThem) {
    auto abc = [](Bytes instructions, Bytes at = {}) { return patch({on_alphabet("abc", instructions, at)}); };
    const Bytes hello = window(0, 0, 0, "hello world", {kAdd, 11}), copy3 = {copy(kSelf), 3};
    auto from_target = [&](uint64_t size, uint64_t at, Bytes instructions, Bytes addresses, uint64_t length = 64) {
        return patch({hello, window(2, size, at, "", instructions, addresses, length)});
    };
    const Bytes run_100k = cat({{kRun}, varint(100000)});
    expect_cases({
        {"an application header ending at the end of the patch", cat({kMagic, {3, 'a', 'b', 'c'}}), ""},
        {"an application header running past it", cat({kMagic, {4, 'a', 'b', 'c'}}), kFails},
        {"the checksum field is skipped, not checked", patch({window(5, 36, 0, "", copy3, {0})}), "ABC"},
        {"a secondary compressor", patch({window(1, 36, 0, "", copy3, {0}, 64, 1)}), kFails},
        {"the target length and leftover section bytes are not enforced",
         patch({on_alphabet("abcdef", {kAdd, 2, copy(kSelf), 1}, {0, 9, 9, 9})}), "abA"},
        {"a window cut short", cat({kMagic, {4, 't', 'e', 's', 't', 0, 4, 3, 0, 1, 0, 0}}), kFails},
        {"a source segment may end where the source does", patch({window(1, 6, 30, "", {copy(kSelf), 1}, {5})}), "9"},
        {"but not one byte beyond", patch({window(1, 6, 31, "", {copy(kSelf), 1}, {5})}), kFails},
        {"a target segment is output of earlier windows", from_target(5, 6, {copy(kSelf), 5, copy(kSelf), 5}, {0, 5}),
         "hello worldworldworld"},
        {"a copy past it runs on into this window", from_target(5, 6, {copy(kSelf), 8}, {0}), "hello worldworldwor"},
        {"a target segment past the output", from_target(2, 10, {copy(kSelf), 1}, {1}), kFails},
        {"a target segment is read where the output is after it grew",
         from_target(11, 0, {copy(kSelf), 11}, {0}, 1 << 20), "hello worldhello world"},
        {"with both segment bits, the source", patch({hello, window(3, 3, 0, "", copy3, {0})}), "hello worldABC"},
        {"a ten-byte integer (0, as long as one may be)", abc(cat({{copy(kSelf)}, Bytes(9, 128), {0}}), {0}), ""},
        {"an 11-byte integer", abc(cat({{copy(kSelf)}, Bytes(10, 128), {0}}), {0}), kFails},
        {"a same-mode COPY with no address byte", abc({copy(kSame0), 1}), kFails},
        {"sizes and addresses are cut to 32 bits",
         abc(cat({{kAdd}, varint(0x100000002), {copy(kSelf)}, varint(0x100000003)}), varint(0x100000001)), "abBCD"},
        {"ADD past the data section", abc({kAdd, 2, kAdd, 2}), kFails},
        {"RUN of the last data byte", abc({kAdd, 2, kRun, 5}), "abccccc"},
        {"RUN without a data byte", abc({kAdd, 3, kRun, 5}), kFails},
        // Address 36 is the first byte this window produced: a copy from d bytes back repeats them.
        {"COPY of the last byte, over what it writes", abc({kAdd, 2, copy(kSelf), 5}, {37}), "abbbbbb"},
        {"COPY of the last two, over what it writes", abc({kAdd, 2, copy(kSelf), 7}, {36}), "ababababa"},
        {"COPY of a byte not yet produced", abc({kAdd, 2, copy(kSelf), 2}, {38}), kFails},
        {"COPY of earlier output, no segment", patch({hello, window(0, 0, 0, "", {copy(kSelf), 1}, {0})}), kFails},
        // Room is made for the declared length; a window writing far more fails.
        {"a RUN of the declared length", patch({window(0, 0, 0, "r", run_100k, {}, 100000)}), std::string(100000, 'r')},
        {"a RUN far past it", patch({window(0, 0, 0, "r", run_100k, {}, 0)}), kFails},
        {"a COPY far past it", patch({window(1, 36, 0, "", cat({{copy(kSelf)}, varint(100000)}), {0}, 0)}), kFails},
    });
}

// Targets of the source's stretches moved, repeated, dropped and overwritten, with fresh bytes, runs and text, encoded
// with and without the source, in one window and in windows of 16 KB: the instructions, modes and caches it uses.
TEST(XdeltaPatches, PatchesWithAndWithoutASourceRebuildTheTarget) {
    TempDir tmp;
    const std::string source = random_bytes(150000, 1) + mixed_content(60000, 2);
    write_file(tmp.at("source"), source);
    auto part = [&](size_t from, size_t to) { return source.substr(from, to - from); };
    for (const std::string& target :
         {source, std::string(), source + random_bytes(12345, 3), part(0, 1234), mixed_content(100000, 4),
          part(56000, 64000) + part(24000, 32000) + part(24000, 32000) + part(0, 8000) + part(100, 40100),
          part(0, 5000) + "B" + part(5001, 70000) + random_bytes(2000, 5) + part(70000, 90000) + std::string(3000, 0) +
              part(95000, 150000) + part(30000, 33000) + part(150000, 210000) + "tail"}) {
        write_file(tmp.at("target"), target);
        for (const std::string flags : {" -s source", "", " -s source -W 16384", " -W 16384"}) {
            std::string vcdiff;
            ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.path()) + " && " + shell_quote(XDELTA3_PATH) +
                                     " -e -c -S none -A=unit-test" + flags + " target",
                                 &vcdiff));
            EXPECT_TRUE(decode(vcdiff, flags.rfind(" -s", 0) == 0 ? source : "") == target) << target.size() << flags;
        }
    }
}

// make_rom_patch.sh, with the generator built here and Debian's xdelta3, rebuilds the committed patch and digest.
TEST(StandinRomPatch, TheCommittedPatchAndDigestRebuildFromTheGenerator) {
    TempDir tmp;
    const std::string script = shell_quote(PELKO_SOURCE_DIR "/tools/make_rom_patch.sh");
    ASSERT_TRUE(run_tool("XDELTA3=" + shell_quote(XDELTA3_PATH) + " " + script + " " + shell_quote(tmp.path()) + " " +
                         shell_quote(ROM_STANDIN_PATH)));
    for (const char* name : {"/rom_patch.vcdiff", "/patched_rom.sha256"})
        EXPECT_TRUE(read_file(tmp.path() + name) == read_file(PELKO_SOURCE_DIR "/assets" + std::string(name))) << name;
}

}  // namespace
