// The VCDIFF decoder on patches written by hand, on patches from Debian's
// xdelta3 and on damaged ones. decode() runs the byte-at-a-time reference
// decoder beside it, so every case is also a differential one.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "codecs/vcdiff.h"
#include "peer_tools.h"
#include "vcdiff_support.h"

namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Code table indexes from RFC 3284 section 5.6 (the ones that carry their
// size in the instructions section).
constexpr uint8_t kRun = 0, kAdd = 1;
constexpr uint8_t copy_op(int mode) { return static_cast<uint8_t>(19 + 16 * mode); }
constexpr int kSelf = 0, kHere = 1, kNear0 = 2, kNear1 = 3, kSame0 = 6, kSame1 = 7;

const Bytes kMagic = {0xD6, 0xC3, 0xC4, 0x00, 0x04};
const Bytes kElevenByteZero = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
const Bytes kAlphabet = text("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");

// A window declaring 64 bytes of target, with a segment unless indicator is 0.
WindowPlan segment(uint8_t indicator, uint64_t size, uint64_t position, Bytes instructions, Bytes addresses = {},
                   Bytes data = {}) {
    return {indicator, size, position, 64, 0, std::move(data), std::move(instructions), std::move(addresses)};
}
WindowPlan over_alphabet(Bytes data, Bytes instructions, Bytes addresses = {}) {
    return segment(0x01, kAlphabet.size(), 0, std::move(instructions), std::move(addresses), std::move(data));
}
WindowPlan own(Bytes data, Bytes instructions, Bytes addresses = {}) {
    return segment(0, 0, 0, std::move(instructions), std::move(addresses), std::move(data));
}

// A patch, what it decodes to (nothing: it must fail), and its source.
struct Case {
    const char* what;
    Bytes patch;
    std::optional<std::string> expected;
    Bytes source = kAlphabet;
};
constexpr std::nullopt_t kFails = std::nullopt;

void expect_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Applied a = decode(c.patch, c.source);
        EXPECT_EQ(a.ok, c.expected.has_value());
        EXPECT_EQ(std::string(a.out.begin(), a.out.end()), c.expected.value_or(""));
    }
}

TEST(VcdiffInteger, ReadsBase128MostSignificantGroupFirstInAtMostTenBytes) {
    const std::tuple<Bytes, uint64_t, bool> rows[] = {
        {{0x00}, 0, false}, {{0x7F}, 127, false}, {{0x81, 0x00}, 128, false}, {{0x81, 0x80, 0x00}, 16384, false},
        {{0xBA, 0xEF, 0x9A, 0x15}, 123456789, false},
        {{0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, UINT64_MAX, false},
        {kElevenByteZero, 0, true}, {{0x83}, 0, true}, {{}, 0, true},
    };
    for (const auto& [bytes, value, error] : rows) {
        vcdiff_cursor c{bytes.data(), 0, bytes.size(), false};
        EXPECT_EQ(vcdiff_read_varint(&c), value);
        EXPECT_EQ(c.error, error) << value;
        EXPECT_TRUE(error || c.position == bytes.size()) << value;
        // Once in error, every read gives 0, even over valid bytes.
        const uint8_t seven = 7;
        c = {&seven, 0, 1, c.error};
        EXPECT_EQ(vcdiff_read_varint(&c), error ? 0u : 7u) << value;
        EXPECT_EQ(c.error, error) << value;
    }
}

TEST(VcdiffInstructions, CodeTableEdgesAndEveryAddressModeDecodeAsRfc3284SaysWithCachesEmptyInEachWindow) {
    // Data bytes are lower case, source bytes upper case and digits. Near and
    // same caches are empty at the start of the window, so every cached
    // address is 0 plus what the addresses section adds.
    auto entry = [](uint8_t opcode, Bytes addresses) {
        return build_patch({over_alphabet(text("abcdefghijklmnopq"), {opcode}, addresses)});
    };
    Bytes letters(1000);
    for (size_t i = 0; i < letters.size(); ++i) letters[i] = static_cast<uint8_t>('A' + i % 26);
    Bytes near_turns;
    for (int i = 0; i < 5; ++i) near_turns.insert(near_turns.end(), {copy_op(kSelf), 1});
    near_turns.insert(near_turns.end(), {copy_op(kNear1), 1, copy_op(kNear0), 1});
    expect_cases({
        {"ADD 1", entry(2, {}), "a"}, {"ADD 17", entry(18, {}), "abcdefghijklmnopq"},
        {"COPY 4 self", entry(20, {2}), "CDEF"}, {"COPY 5 self", entry(21, {2}), "CDEFG"},
        {"COPY 18 self", entry(34, {0}), "ABCDEFGHIJKLMNOPQR"}, {"COPY 4 here", entry(36, {36 - 10}), "KLMN"},
        {"COPY 4 near 0", entry(52, {3}), "DEFG"}, {"COPY 18 same 2", entry(162, {0x99}), "ABCDEFGHIJKLMNOPQR"},
        {"ADD 1, COPY 4 self", entry(163, {1}), "aBCDE"}, {"ADD 1, COPY 5 self", entry(164, {1}), "aBCDEF"},
        {"ADD 2, COPY 4 self", entry(166, {1}), "abBCDE"}, {"ADD 1, COPY 4 here", entry(175, {37 - 30}), "a4567"},
        {"ADD 4, COPY 6 near 3", entry(234, {5}), "abcdFGHIJK"}, {"ADD 1, COPY 4 same 0", entry(235, {0}), "aABCD"},
        {"ADD 4, COPY 4 same 2", entry(246, {0xFF}), "abcdABCD"}, {"COPY 4 self, ADD 1", entry(247, {9}), "JKLMa"},
        {"COPY 4 same 2, ADD 1", entry(255, {0x80}), "ABCDa"},
        // Addresses 1, 2, 3, 4 fill the four near slots and 20 goes back to
        // slot 0; slot 1 still holds 2, slot 0 holds 20, plus 1.
        {"near slots fill in turn", build_patch({over_alphabet({}, near_turns, {1, 2, 3, 4, 20, 0, 1})}), "BCDEUCV"},
        // 200 lands in same entry 200 (block 0, byte 0xC8), 300 in entry 300
        // (block 1, byte 44). As an integer 0xC8 would swallow the byte after it.
        {"same modes take one raw byte",
         build_patch({segment(0x01, 1000, 0,
                              {copy_op(kSelf), 2, copy_op(kSelf), 2, copy_op(kSame0), 2, copy_op(kSame1), 2},
                              cat({varint(200), varint(300), {0xC8, 44}}))}),
         "STOPSTOP", letters},
        // The first window leaves 7 in near slot 0 and in same entry 7.
        {"caches start empty in every window",
         build_patch({over_alphabet({}, {copy_op(kSelf), 1}, {7}),
                      over_alphabet({}, {copy_op(kNear0), 1, copy_op(kSame0), 1}, {1, 7})}),
         "HBA"},
        // here = 36 (segment) + 2 (this window) = 38; 38 - 38 = address 0.
        {"here counts the segment and only this window's output",
         build_patch({own(text("vwxyz"), {kAdd, 5}),
                      over_alphabet(text("ab"), {kAdd, 2, copy_op(kHere), 3}, varint(38))}),
         "vwxyzabABC"},
    });
}

TEST(VcdiffSegments, CopiesReadTheSegmentThenThisWindowsOwnOutput) {
    auto from_source = [](uint64_t size, uint64_t position) {
        return build_patch({segment(0x01, size, position, {copy_op(kSelf), 1}, varint(size - 1))});
    };
    const WindowPlan hello = own(text("hello world"), {kAdd, 11});
    auto from_target = [&](uint64_t size, uint64_t position, Bytes instructions, Bytes addresses) {
        return build_patch({hello, segment(0x02, size, position, instructions, addresses)});
    };
    WindowPlan grown = segment(0x02, 11, 0, {copy_op(kSelf), 11}, {0});
    grown.target_length = 1 << 20;  // more than the first allocation
    expect_cases({
        {"a target segment is output of earlier windows",
         from_target(5, 6, {copy_op(kSelf), 5, copy_op(kSelf), 5}, {0, 5}), "hello worldworldworld"},
        {"a target segment is read where the output lives after it grew", build_patch({hello, grown}),
         "hello worldhello world"},
        {"a copy past a target segment runs on into this window's output",
         from_target(5, 6, {copy_op(kSelf), 8}, {0}), "hello worldworldwor"},
        {"with both segment bits the source is used",
         build_patch({own(text("xyz"), {kAdd, 3}), segment(0x03, 3, 0, {copy_op(kSelf), 3}, {0})}),
         "xyzABC"},
        {"a source segment may end at the end of the source", from_source(6, 30), "9"},
        {"but not one byte beyond", from_source(6, 31), kFails},
        {"nor be longer than the source", from_source(37, 0), kFails},
        {"a size that would wrap", from_source(UINT64_MAX, 1), kFails},
        {"a position that would wrap", from_source(1, UINT64_MAX), kFails},
        {"a target segment may end at the end of the output", from_target(2, 9, {copy_op(kSelf), 1}, {1}),
         "hello worldd"},
        {"but not one byte beyond", from_target(2, 10, {copy_op(kSelf), 1}, {1}), kFails},
        {"a target size that would wrap", from_target(UINT64_MAX, 1, {copy_op(kSelf), 1}, {0}), kFails},
    });
}

// Every field at its limit decodes, and one step beyond it fails the patch.
TEST(VcdiffFrame, HeadersSectionsAndInstructionsDecodeUpToTheirLimitsAndFailPastThem) {
    const Bytes ten_byte_zero(kElevenByteZero.begin() + 1, kElevenByteZero.end());
    auto with = [](uint8_t indicator, uint8_t delta, WindowPlan w) {
        w.indicator = indicator;  // 0x04: build_patch writes DE AD BE EF in the checksum field
        w.delta_indicator = delta;
        return build_patch({w});
    };
    auto cut_short = [](Bytes patch) {
        patch.pop_back();
        return patch;
    };
    auto abc = [](Bytes instructions, Bytes addresses = {}) {
        return build_patch({over_alphabet(text("abc"), instructions, addresses)});
    };
    const WindowPlan copy3 = over_alphabet({}, {copy_op(kSelf), 3}, {0});
    expect_cases({
        {"an application header ending at the end of the patch", cat({kMagic, {3, 'a', 'b', 'c'}}), ""},
        {"an application header running past the patch", cat({kMagic, {4, 'a', 'b', 'c'}}), kFails},
        {"an application header of any length", cat({kMagic, varint(UINT64_MAX), {'a'}}), kFails},
        {"the checksum field is skipped, not checked", with(0x05, 0, copy3), "ABC"},
        {"a checksum field cut short", cut_short(with(0x04, 0, own({}, {}))), kFails},
        {"a secondary compressor", with(0x01, 0x01, copy3), kFails},
        {"any delta indicator bit", with(0x01, 0x80, copy3), kFails},
        {"the declared target length and leftover section bytes are not enforced",
         build_patch({over_alphabet(text("abcdef"), {kAdd, 2, copy_op(kSelf), 1}, {0, 9, 9, 9})}), "abA"},
        {"a window cut short", cut_short(abc({kAdd, 3})), kFails},
        {"section lengths whose sum wraps",
         cat({kMagic, {0x00, 0x00, 0x20, 0x00, 0x00}, varint(UINT64_MAX), {1, 1, kAdd}}), kFails},
        // Integers take up to ten bytes, in every place they occur.
        {"a ten-byte integer", build_patch({over_alphabet({}, cat({{copy_op(kSelf)}, ten_byte_zero}), {0})}), ""},
        {"an 11-byte integer in the file header", cat({kMagic, kElevenByteZero}), kFails},
        {"an 11-byte segment size",
         cat({kMagic, {0x00, 0x01}, kElevenByteZero, {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}), kFails},
        {"an 11-byte instruction size", abc(cat({{copy_op(kSelf)}, kElevenByteZero}), {0}), kFails},
        {"an 11-byte address", abc({copy_op(kSelf), 1}, kElevenByteZero), kFails},
        {"a same-mode COPY with no address byte", abc({copy_op(kSame0), 1}), kFails},
        {"sizes and addresses are cut to 32 bits",
         build_patch({over_alphabet(text("xy"), cat({{kAdd}, varint((1ull << 32) + 2), {copy_op(kSelf)},
                                                     varint((1ull << 32) + 3)}),
                                    varint((1ull << 32) + 1))}),
         "xyBCD"},
        {"ADD past the data section", abc({kAdd, 4}), kFails},
        {"two ADDs past it", abc({kAdd, 2, kAdd, 2}), kFails},
        {"RUN of the last data byte", abc({kAdd, 2, kRun, 5}), "abccccc"},
        {"RUN without a data byte", abc({kAdd, 3, kRun, 5}), kFails},
        // Address 36 is the first byte this window produced, 38 the next to come.
        {"COPY of this window's first byte", abc({kAdd, 2, copy_op(kSelf), 2}, {36}), "abab"},
        {"COPY of its last byte", abc({kAdd, 2, copy_op(kSelf), 2}, {37}), "abbb"},
        {"COPY of a byte not yet produced", abc({kAdd, 2, copy_op(kSelf), 2}, {38}), kFails},
        {"COPY with no segment and no output yet", build_patch({own({}, {copy_op(kSelf), 1}, {0})}), kFails},
        {"COPY of an earlier window's output without a segment",
         build_patch({own(text("abc"), {kAdd, 3}), own({}, {copy_op(kSelf), 1}, {0})}), kFails},
    });
}

WindowPlan run_window(uint64_t declared, uint64_t run) {
    WindowPlan w = own({'r'}, cat({{kRun}, varint(run)}));
    w.target_length = declared;
    return w;
}

TEST(VcdiffOutput, StartsWithRoomForSourcePatchAndFourKilobytesAndGrowsOnlyWhenAWindowDoesNotFit) {
    Bytes whole = build_patch({over_alphabet({}, {copy_op(kSelf), 36}, {0})});
    Applied a = decode(whole, kAlphabet);
    EXPECT_EQ(a.stats.initial_capacity, kAlphabet.size() + whole.size() + 4096);
    EXPECT_EQ(a.stats.growths, 0u);

    // A window grows the output when it and eight bytes no longer fit, to
    // twice what the output will then hold plus 4,096. Two-byte integers
    // for both sizes, so the patch has one length.
    const size_t capacity = build_patch({run_window(4000, 4000)}).size() + 4096;
    for (size_t n : {capacity - 8, capacity - 7}) {
        Applied one = decode(build_patch({run_window(n, n)}), {});
        EXPECT_TRUE(one.out == Bytes(n, 'r')) << n;
        EXPECT_EQ(one.stats.growths, n == capacity - 7 ? 1u : 0u);
        EXPECT_EQ(one.stats.final_capacity, n == capacity - 7 ? 2 * n + 4096 : capacity);
    }
    // 100,000 -> 204,096; 300,000 -> 604,096; the rest fit.
    Applied doubling = decode(build_patch(std::vector<WindowPlan>(5, run_window(100000, 100000))), {});
    EXPECT_TRUE(doubling.out == Bytes(500000, 'r'));
    EXPECT_EQ(doubling.stats.growths, 2u);
    EXPECT_EQ(doubling.stats.final_capacity, 604096u);

    // A window writing past its room fails instead of growing, and sizes that
    // would wrap fail before any allocation.
    for (const WindowPlan& w : {run_window(0, 100000), run_window(UINT64_MAX, 0), run_window(UINT64_MAX - 8, 0),
                                run_window(uint64_t{1} << 63, 0)}) {
        Applied failed = decode(build_patch({w}), {});
        EXPECT_FALSE(failed.ok) << w.target_length;
        EXPECT_EQ(failed.stats.growths, 0u);
    }
}

const Bytes kSegment = text("0123456789abcdef");

// A window over kSegment that adds `written` fresh bytes, then copies `size`
// bytes from `address` (counted from the start of the segment) in mode self
// or here.
Bytes add_then_copy(uint64_t written, uint64_t address, uint64_t size, int mode) {
    uint64_t here = kSegment.size() + written;
    return build_patch({segment(0x01, kSegment.size(), 0, cat({{kAdd}, varint(written), {copy_op(mode)}, varint(size)}),
                                varint(mode == kHere ? here - address : address),
                                text(random_bytes(written, static_cast<uint32_t>(written * 131 + address))))});
}

// Copies that overlap what they produce, or cross the end of the segment and
// read on from the window start (perhaps the bytes their segment part has
// just written): where block copies differ most from copying byte by byte.
TEST(VcdiffCopies, CopiesOverlappingTheirOutputOrCrossingTheSegmentEndGiveTheBytesOfAByteByByteCopy) {
    for (uint64_t d = 1; d <= 40; ++d)
        for (uint64_t size : {uint64_t{0}, uint64_t{1}, d - 1, d, d + 1, 2 * d + 3, 7 * d, uint64_t{100},
                              uint64_t{4099}})
            for (int mode : {kSelf, kHere}) {
                SCOPED_TRACE("distance " + std::to_string(d) + ", size " + std::to_string(size));
                EXPECT_TRUE(decode(add_then_copy(50, kSegment.size() + 50 - d, size, mode), kSegment).ok);
            }
    for (uint64_t written : {0, 1, 3, 20})
        for (uint64_t in_segment = 1; in_segment <= kSegment.size(); in_segment += 3)
            for (uint64_t beyond : {0, 1, 2, 5, 19, 64}) {
                SCOPED_TRACE(std::to_string(written) + " written, " + std::to_string(in_segment) +
                             " in the segment, " + std::to_string(beyond) + " beyond");
                uint64_t address = kSegment.size() - in_segment;
                EXPECT_TRUE(decode(add_then_copy(written, address, in_segment + beyond, kSelf), kSegment).ok);
            }
}

// Room for a window is checked before it runs; inside it, a COPY or RUN may
// fill the room to its last byte and fails one byte further, however much
// further.
TEST(VcdiffCopies, CopiesAndRunsFillTheRoomToTheLastByteAndFailPastIt) {
    // The first window declares 100,000 bytes, so the output grows to twice
    // that plus 4,096 and holds 1 byte; the second fits without growing.
    constexpr uint64_t kRoom = 2 * 100000 + 4096 - 1;
    WindowPlan grow = own({'x'}, {kAdd, 1});
    grow.target_length = 100000;
    for (uint64_t size : {uint64_t{100}, kRoom - 1, kRoom, kRoom + 1, kRoom + 4096, uint64_t{1} << 31})
        for (uint8_t op : {copy_op(kSelf), kRun}) {
            SCOPED_TRACE((op == kRun ? "RUN of " : "COPY of ") + std::to_string(size));
            WindowPlan w = segment(0x02, 1, 0, cat({{op}, varint(size)}), {0}, {'r'});
            EXPECT_EQ(decode(build_patch({grow, w}), {}).ok, size <= kRoom);
        }
}

class XdeltaPatches : public ::testing::Test {
protected:
    TempDir tmp;
};

// Random bytes, and text of few words with runs and repeated records: the
// encoder finds many short matches in the latter, which brings out the
// combined ADD+COPY entries and the address caches.
Bytes noise(std::mt19937& rng, size_t n) { return text(random_bytes(n, rng())); }
Bytes mixed(std::mt19937& rng, size_t n) { return text(mixed_content(n, rng())); }

// count edits at random places, taking turns: overwrites, insertions of fresh
// bytes, deletions, insertions of a run, and repeats of earlier stretches.
Bytes edited(std::mt19937& rng, Bytes t, int count) {
    for (int e = 0; e < count; ++e) {
        size_t at = rng() % t.size(), n = 1 + rng() % 3000, end = std::min(t.size(), at + n);
        auto where = t.begin() + static_cast<long>(at);
        Bytes fresh = noise(rng, n);
        switch (e % 5) {
            case 0: std::copy(fresh.begin(), fresh.begin() + static_cast<long>(end - at), where); break;
            case 1: t.insert(where, fresh.begin(), fresh.end()); break;
            case 2: t.erase(where, t.begin() + static_cast<long>(end)); break;
            case 3: t.insert(where, n, fresh[0]); break;
            default: {
                size_t from = rng() % t.size();
                Bytes again(t.begin() + from, t.begin() + std::min(t.size(), from + n));
                t.insert(t.begin() + static_cast<long>(at), again.begin(), again.end());
            }
        }
    }
    return t;
}

TEST_F(XdeltaPatches, PatchesOfEditedSourcesAndOfTargetsAloneRebuildTheTarget) {
    std::mt19937 rng(1);
    const Bytes source = cat({noise(rng, 150000), mixed(rng, 60000)});
    Bytes moved;  // blocks of the source in another order, some twice
    for (size_t block : {7, 3, 3, 0, 12, 5, 7, 1})
        moved.insert(moved.end(), source.begin() + block * 8000, source.begin() + (block + 1) * 8000);
    std::vector<std::pair<std::string, Bytes>> targets = {
        {"the source", source},
        {"empty", {}},
        {"appended", cat({source, noise(rng, 12345)})},
        {"a prefix", Bytes(source.begin(), source.begin() + 1234)},
        {"blocks moved", moved},
        {"unrelated", noise(rng, 5000)},
        {"mixed", mixed(rng, 100000)},
    };
    for (int count : {5, 8, 10, 15, 20, 23})
        targets.push_back({std::to_string(count) + " edits", edited(rng, source, count)});

    for (const auto& [what, target] : targets)
        for (bool with_source : {true, false})
            for (std::string flags : {"", "-W 16384"}) {
                SCOPED_TRACE(what + (with_source ? ", with the source " : ", alone ") + flags);
                Applied a = decode(xdelta3_encode(tmp, with_source ? &source : nullptr, target, flags),
                                   with_source ? source : Bytes());
                EXPECT_TRUE(a.ok && a.out == target);
                EXPECT_GE(a.stats.windows, flags.empty() ? 0 : target.size() / 16384);
            }
}

TEST_F(XdeltaPatches, ACutAnywhereFailsExceptBetweenWindows) {
    std::mt19937 rng(9);
    Bytes source = mixed(rng, 40000);
    Bytes target = source;
    target.insert(target.begin() + 100, 50, 0x00);
    for (size_t i = 500; i < target.size(); i += 3001) target[i] = static_cast<uint8_t>(rng());
    Bytes patch = xdelta3_encode(tmp, &source, target, "-W 16384");
    PatchLayout layout = read_layout(patch);
    ASSERT_TRUE(layout.complete);
    ASSERT_EQ(layout.windows.size(), 3u);
    std::set<size_t> window_starts;
    for (const WindowHeader& w : layout.windows) window_starts.insert(w.offset);

    std::set<size_t> decoded_at;
    for (size_t cut = 0; cut < patch.size(); ++cut) {
        Applied a = decode(Bytes(patch.begin(), patch.begin() + cut), source);
        if (!a.ok) continue;
        decoded_at.insert(cut);
        ASSERT_LE(a.out.size(), target.size());
        EXPECT_TRUE(std::equal(a.out.begin(), a.out.end(), target.begin())) << "cut at " << cut;
    }
    EXPECT_EQ(decoded_at, window_starts);
}

TEST_F(XdeltaPatches, DamagedPatchesFailOrSucceedAlikeInBothDecoders) {
    std::mt19937 rng(33);
    Bytes source = noise(rng, 3000);
    Bytes target = source;
    target.insert(target.begin() + 100, source.begin() + 2000, source.begin() + 2600);
    for (int i = 0; i < 400; ++i) target.push_back(static_cast<uint8_t>("abcab"[i % 5]));
    const std::vector<Bytes> originals = {
        xdelta3_encode(tmp, &source, target), xdelta3_encode(tmp, &source, target, "-W 16384"),
        xdelta3_encode(tmp, nullptr, target), add_then_copy(30, 39, 200, kHere)};

    int decoded = 0, compared = 0;
    for (int i = 0; i < 4000; ++i) {
        Bytes patch = originals[rng() % originals.size()];
        for (uint32_t e = 0, edits = 1 + rng() % 4; e < edits && !patch.empty(); ++e) {
            size_t at = rng() % patch.size();
            switch (rng() % 5) {
                case 0: patch[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                case 1: patch[at] = static_cast<uint8_t>(rng()); break;
                case 2: patch.resize(at); break;
                case 3: patch.insert(patch.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
                default: patch.erase(patch.begin() + static_cast<long>(at)); break;
            }
        }
        // A damaged length may ask for any size; keep the allocations small.
        uint64_t declared = 0;
        for (const WindowHeader& w : read_layout(patch).windows) declared += w.target_length;
        if (declared > (64u << 20)) continue;
        ++compared;
        SCOPED_TRACE("damaged patch " + std::to_string(i));
        if (decode(patch, source).ok) ++decoded;
        if (HasFailure()) return;
    }
    // Damage leaves some patches decodable and breaks others; both kinds
    // must have been compared.
    EXPECT_GT(decoded, 100);
    EXPECT_LT(decoded, compared - 100);
}

}  // namespace
