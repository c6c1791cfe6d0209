// The VCDIFF decoder on patches from Debian's xdelta3 and on patches written
// by hand: the default code table, the address caches, source and target
// segments, output growth, and every malformed input failing cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

#include "codecs/vcdiff.h"
#include "vcdiff_support.h"

namespace {

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// Code table indexes from RFC 3284 section 5.6 (the ones that carry their
// size in the instructions section).
constexpr uint8_t kRun = 0;
constexpr uint8_t kAdd = 1;
constexpr uint8_t copy_op(int mode) { return static_cast<uint8_t>(19 + 16 * mode); }
constexpr uint8_t kSelf = 0, kHere = 1, kNear0 = 2, kNear1 = 3, kSame0 = 6, kSame1 = 7;

Bytes varint(uint64_t value) {
    Bytes out;
    put_varint(out, value);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kAlphabet = text("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");

WindowPlan source_window(uint64_t target_length = 64) {
    WindowPlan w;
    w.indicator = 0x01;
    w.segment_size = kAlphabet.size();
    w.target_length = target_length;
    return w;
}

// ---------------------------------------------------------------------------
// Integers

uint64_t read_one(const Bytes& bytes, vcdiff_cursor* cursor) {
    *cursor = {bytes.data(), 0, bytes.size(), false};
    return vcdiff_read_varint(cursor);
}

TEST(VcdiffInteger, ReadsBase128MostSignificantGroupFirst) {
    vcdiff_cursor c;
    EXPECT_EQ(read_one({0x00}, &c), 0u);
    EXPECT_EQ(read_one({0x7F}, &c), 127u);
    EXPECT_EQ(read_one({0x81, 0x00}, &c), 128u);
    EXPECT_EQ(read_one({0x81, 0x80, 0x00}, &c), 16384u);
    EXPECT_EQ(read_one({0xBA, 0xEF, 0x9A, 0x15}, &c), 123456789u);
    EXPECT_EQ(c.position, 4u);
    EXPECT_FALSE(c.error);
}

TEST(VcdiffInteger, TenBytesAreTheLongestAccepted) {
    vcdiff_cursor c;
    Bytes ten = {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(read_one(ten, &c), UINT64_MAX);
    EXPECT_FALSE(c.error);
    Bytes eleven = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
    EXPECT_EQ(read_one(eleven, &c), 0u);
    EXPECT_TRUE(c.error);
}

TEST(VcdiffInteger, RunningPastTheEndSetsTheErrorAndEveryLaterReadGivesZero) {
    Bytes bytes = {0x05, 0x83};
    vcdiff_cursor c{bytes.data(), 0, bytes.size(), false};
    EXPECT_EQ(vcdiff_read_varint(&c), 5u);
    EXPECT_EQ(vcdiff_read_varint(&c), 0u);
    EXPECT_TRUE(c.error);
    c.position = 0;  // valid bytes again, but the flag sticks
    EXPECT_EQ(vcdiff_read_varint(&c), 0u);
    EXPECT_TRUE(c.error);
    vcdiff_cursor empty{bytes.data(), 0, 0, false};
    EXPECT_EQ(vcdiff_read_varint(&empty), 0u);
    EXPECT_TRUE(empty.error);
}

// ---------------------------------------------------------------------------
// Patches from xdelta3

class XdeltaPatches : public ::testing::Test {
protected:
    TempDir tmp;
    // Encodes, decodes and compares; returns the number of windows.
    uint32_t round_trip(const Bytes* source, const Bytes& target, const std::string& flags = "") {
        Bytes patch = xdelta3_encode(tmp, source, target, flags);
        Applied a = decode(patch, source ? *source : Bytes());
        EXPECT_TRUE(a.ok);
        EXPECT_EQ(a.out.size(), target.size());
        EXPECT_TRUE(a.out == target);
        return a.stats.windows;
    }
};

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Low-entropy text: the encoder finds many short matches in it, which brings
// out the combined ADD+COPY entries and the address caches.
Bytes words(std::mt19937& rng, size_t n) {
    static const char* vocabulary[] = {"the ", "rom ", "patch ", "window ", "copy ", "add ", "run ", "\n", "pelko ",
                                       "0x15C ", "source ", "target "};
    Bytes out;
    while (out.size() < n) {
        const char* w = vocabulary[rng() % (sizeof vocabulary / sizeof *vocabulary)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

TEST_F(XdeltaPatches, EditsInsertionsAndDeletionsRebuildTheTarget) {
    std::mt19937 rng(1);
    Bytes source = random_bytes(rng, 200000);

    Bytes edited = source;
    for (size_t at : {0, 17, 5000, 65535, 65536, 123457, 199999}) edited[at] ^= 0x5A;
    round_trip(&source, edited);

    Bytes inserted = source;
    Bytes fresh = random_bytes(rng, 777);
    inserted.insert(inserted.begin() + 100, fresh.begin(), fresh.end());
    inserted.insert(inserted.begin() + 150000, fresh.begin(), fresh.begin() + 3);
    round_trip(&source, inserted);

    Bytes deleted = source;
    deleted.erase(deleted.begin() + 1000, deleted.begin() + 1500);
    deleted.erase(deleted.begin() + 90000, deleted.begin() + 90001);
    round_trip(&source, deleted);

    round_trip(&source, source);

    Bytes moved;  // blocks of the source in another order, some twice
    for (size_t block : {7, 3, 3, 0, 12, 5, 7, 1})
        moved.insert(moved.end(), source.begin() + block * 8000, source.begin() + (block + 1) * 8000);
    round_trip(&source, moved);
}

TEST_F(XdeltaPatches, RunsAppendedDataAndCutTargets) {
    std::mt19937 rng(2);
    Bytes source = words(rng, 60000);

    Bytes runs = source;
    runs.insert(runs.begin() + 3000, 5000, 0x00);
    runs.insert(runs.begin() + 20000, 300, 0xFF);
    runs.insert(runs.begin() + 40000, 4, 'z');
    round_trip(&source, runs);

    Bytes appended = source;
    Bytes tail = random_bytes(rng, 12345);
    appended.insert(appended.end(), tail.begin(), tail.end());
    round_trip(&source, appended);

    Bytes prefix(source.begin(), source.begin() + 1234);
    round_trip(&source, prefix);

    Bytes unrelated = random_bytes(rng, 5000);
    round_trip(&source, unrelated);
}

TEST_F(XdeltaPatches, AnEmptyTargetGivesAnEmptyResult) {
    std::mt19937 rng(3);
    Bytes source = random_bytes(rng, 1000);
    Bytes empty;
    Bytes patch = xdelta3_encode(tmp, &source, empty);
    Applied a = decode(patch, source);
    ASSERT_TRUE(a.ok);
    EXPECT_TRUE(a.out.empty());
}

TEST_F(XdeltaPatches, ATargetAloneIsRebuiltFromItsOwnEarlierBytes) {
    std::mt19937 rng(4);
    Bytes repeated;  // a pattern repeated, so later copies overlap what they produce
    Bytes unit = random_bytes(rng, 3);
    for (int i = 0; i < 4000; ++i) repeated.insert(repeated.end(), unit.begin(), unit.end());
    Bytes chunk = random_bytes(rng, 1500);
    for (int i = 0; i < 10; ++i) {
        repeated.insert(repeated.end(), chunk.begin(), chunk.end());
        repeated.push_back(static_cast<uint8_t>(i));
    }
    round_trip(nullptr, repeated);
    round_trip(nullptr, words(rng, 100000));
}

TEST_F(XdeltaPatches, SmallWindowsGiveManyWindowsEachWithItsOwnSegment) {
    std::mt19937 rng(5);
    Bytes source = random_bytes(rng, 150000);
    Bytes target = source;
    target.insert(target.begin() + 30000, 2000, 0xEE);
    target.erase(target.begin() + 70000, target.begin() + 75000);
    for (size_t i = 0; i < target.size(); i += 9999) target[i] = static_cast<uint8_t>(rng());
    EXPECT_GE(round_trip(&source, target, "-W 16384"), 9u);
    EXPECT_GE(round_trip(nullptr, words(rng, 80000), "-W 16384"), 5u);
}

TEST_F(XdeltaPatches, RandomEditScriptsRebuildTheTarget) {
    for (uint32_t seed = 100; seed < 140; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        size_t length = rng() % 100000;
        Bytes source = (seed % 3 == 0) ? words(rng, length) : random_bytes(rng, length);
        Bytes target = source;
        int edits = 1 + rng() % 20;
        for (int e = 0; e < edits; ++e) {
            size_t at = target.empty() ? 0 : rng() % target.size();
            size_t n = 1 + rng() % 3000;
            switch (rng() % 5) {
                case 0:  // overwrite
                    for (size_t i = at; i < target.size() && i < at + n; ++i) target[i] = static_cast<uint8_t>(rng());
                    break;
                case 1: {  // insert fresh bytes
                    Bytes fresh = random_bytes(rng, n);
                    target.insert(target.begin() + at, fresh.begin(), fresh.end());
                    break;
                }
                case 2:  // delete
                    target.erase(target.begin() + at, target.begin() + std::min(target.size(), at + n));
                    break;
                case 3:  // insert a run
                    target.insert(target.begin() + at, n, static_cast<uint8_t>(rng()));
                    break;
                default: {  // repeat an earlier stretch of the target
                    size_t from = target.empty() ? 0 : rng() % target.size();
                    Bytes again(target.begin() + from, target.begin() + std::min(target.size(), from + n));
                    target.insert(target.begin() + at, again.begin(), again.end());
                    break;
                }
            }
        }
        round_trip(&source, target, seed % 4 == 0 ? "-W 16384" : "");
    }
}

// ---------------------------------------------------------------------------
// The default code table

TEST(VcdiffCodeTable, EntriesAtTheEdgesOfEachRangeDecodeAsRfc3284ListsThem) {
    struct Entry {
        uint8_t opcode;
        const char* meaning;
        Bytes addresses;
        const char* expected;
    };
    // Data bytes are lower case, source bytes upper case and digits. Near and
    // same caches are empty at the start of the window, so every cached
    // address is 0 plus what the addresses section adds.
    const Entry entries[] = {
        {2, "ADD 1", {}, "a"},
        {18, "ADD 17", {}, "abcdefghijklmnopq"},
        {20, "COPY 4 self", {2}, "CDEF"},
        {21, "COPY 5 self", {2}, "CDEFG"},
        {34, "COPY 18 self", {0}, "ABCDEFGHIJKLMNOPQR"},
        {36, "COPY 4 here", {36 - 10}, "KLMN"},
        {52, "COPY 4 near 0", {3}, "DEFG"},
        {162, "COPY 18 same 2", {0x99}, "ABCDEFGHIJKLMNOPQR"},
        {163, "ADD 1, COPY 4 self", {1}, "aBCDE"},
        {164, "ADD 1, COPY 5 self", {1}, "aBCDEF"},
        {166, "ADD 2, COPY 4 self", {1}, "abBCDE"},
        {175, "ADD 1, COPY 4 here", {37 - 30}, "a4567"},
        {234, "ADD 4, COPY 6 near 3", {5}, "abcdFGHIJK"},
        {235, "ADD 1, COPY 4 same 0", {0x00}, "aABCD"},
        {246, "ADD 4, COPY 4 same 2", {0xFF}, "abcdABCD"},
        {247, "COPY 4 self, ADD 1", {9}, "JKLMa"},
        {255, "COPY 4 same 2, ADD 1", {0x80}, "ABCDa"},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.meaning);
        WindowPlan w = source_window();
        w.data = text("abcdefghijklmnopq");
        w.instructions = {e.opcode};
        w.addresses = e.addresses;
        Applied a = decode(build_patch({w}), kAlphabet);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(std::string(a.out.begin(), a.out.end()), e.expected);
    }
}

TEST(VcdiffCodeTable, SizesAndAddressesAreCutTo32Bits) {
    WindowPlan w = source_window();
    w.data = text("xy");
    w.instructions = cat({{kAdd}, varint((1ull << 32) + 2), {copy_op(kSelf)}, varint((1ull << 32) + 3)});
    w.addresses = varint((1ull << 32) + 1);
    Applied a = decode(build_patch({w}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "xyBCD");
}

// ---------------------------------------------------------------------------
// Address caches

TEST(VcdiffAddressCache, NearSlotsFillInTurnAndAnyOfThemCanBeAddedTo) {
    WindowPlan w = source_window();
    for (int i = 0; i < 5; ++i) w.instructions.insert(w.instructions.end(), {copy_op(kSelf), 1});
    w.instructions.insert(w.instructions.end(), {copy_op(kNear1), 1, copy_op(kNear0), 1});
    // Addresses 1, 2, 3, 4 fill the four slots; 20 goes back to slot 0.
    w.addresses = {1, 2, 3, 4, 20, 0, 1};
    Applied a = decode(build_patch({w}), kAlphabet);
    ASSERT_TRUE(a.ok);
    // Slot 1 still holds 2 (then gets 2 again); slot 0 holds 20, plus 1.
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "BCDEUCV");
}

TEST(VcdiffAddressCache, SameModesTakeOneRawByteEvenWithItsHighBitSet) {
    Bytes source(1000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    WindowPlan w;
    w.segment_size = source.size();
    w.target_length = 64;
    w.instructions = {copy_op(kSelf), 2, copy_op(kSelf), 2, copy_op(kSame0), 2, copy_op(kSame1), 2};
    // 200 lands in entry 200 (block 0, byte 0xC8); 300 in entry 300 (block 1,
    // byte 44). As an integer 0xC8 would swallow the byte after it.
    w.addresses = cat({varint(200), varint(300), {0xC8, 44}});
    Applied a = decode(build_patch({w}), source);
    ASSERT_TRUE(a.ok);
    Bytes expected = {source[200], source[201], source[300], source[301],
                      source[200], source[201], source[300], source[301]};
    EXPECT_TRUE(a.out == expected);
}

TEST(VcdiffAddressCache, BothCachesStartEmptyInEveryWindow) {
    WindowPlan first = source_window();
    first.instructions = {copy_op(kSelf), 1};
    first.addresses = {7};  // near slot 0 and same entry 7 now hold 7
    WindowPlan second = source_window();
    second.instructions = {copy_op(kNear0), 1, copy_op(kSame0), 1};
    second.addresses = {1, 7};
    Applied a = decode(build_patch({first, second}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "HBA");
}

TEST(VcdiffAddressCache, HereCountsTheSegmentAndOnlyThisWindowsOutput) {
    WindowPlan first;
    first.indicator = 0;
    first.target_length = 5;
    first.data = text("vwxyz");
    first.instructions = {kAdd, 5};
    WindowPlan second = source_window();
    second.data = text("ab");
    second.instructions = {kAdd, 2, copy_op(kHere), 3};
    // here = 36 (segment) + 2 (this window) = 38; 38 - 38 = address 0.
    second.addresses = varint(38);
    Applied a = decode(build_patch({first, second}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "vwxyzabABC");
}

// ---------------------------------------------------------------------------
// Segments and copies within the target

TEST(VcdiffSegments, ACopyPastTheSegmentRepeatsThisWindowsOwnOutput) {
    WindowPlan w;
    w.indicator = 0;
    w.target_length = 11;
    w.data = text("ab");
    w.instructions = {kAdd, 2, copy_op(kSelf), 9};
    w.addresses = {0};
    Applied a = decode(build_patch({w}), {});
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "abababababa");
}

TEST(VcdiffSegments, ATargetSegmentCopiesOutputOfEarlierWindows) {
    WindowPlan first;
    first.indicator = 0;
    first.target_length = 11;
    first.data = text("hello world");
    first.instructions = {kAdd, 11};
    WindowPlan second;
    second.indicator = 0x02;
    second.segment_size = 5;
    second.segment_position = 6;
    second.target_length = 10;
    second.instructions = {copy_op(kSelf), 5, copy_op(kSelf), 5};
    second.addresses = {0, 5};  // "world", then again from this window's start
    Applied a = decode(build_patch({first, second}), {});
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "hello worldworldworld");
}

TEST(VcdiffSegments, ATargetSegmentIsReadWhereTheOutputLivesAfterItGrew) {
    WindowPlan first;
    first.indicator = 0;
    first.target_length = 11;
    first.data = text("hello world");
    first.instructions = {kAdd, 11};
    WindowPlan second;
    second.indicator = 0x02;
    second.segment_size = 11;
    second.target_length = 1 << 20;  // more than the first allocation
    second.instructions = {copy_op(kSelf), 11};
    second.addresses = {0};
    Applied a = decode(build_patch({first, second}), {});
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.stats.growths, 1u);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "hello worldhello world");
}

TEST(VcdiffSegments, WithBothSegmentBitsTheSourceIsUsed) {
    WindowPlan first;
    first.indicator = 0;
    first.target_length = 3;
    first.data = text("xyz");
    first.instructions = {kAdd, 3};
    WindowPlan second;
    second.indicator = 0x03;
    second.segment_size = 3;
    second.target_length = 3;
    second.instructions = {copy_op(kSelf), 3};
    second.addresses = {0};
    Applied a = decode(build_patch({first, second}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "xyzABC");
}

TEST(VcdiffSegments, ASegmentMayEndExactlyAtTheEndOfWhatItNamesButNotBeyond) {
    auto source_at = [](uint64_t size, uint64_t position) {
        WindowPlan w;
        w.segment_size = size;
        w.segment_position = position;
        w.instructions = {copy_op(kSelf), 1};
        w.addresses = varint(size - 1);
        return decode(build_patch({w}), kAlphabet);
    };
    Applied last = source_at(6, 30);
    ASSERT_TRUE(last.ok);
    EXPECT_EQ(std::string(last.out.begin(), last.out.end()), "9");
    EXPECT_FALSE(source_at(6, 31).ok);
    EXPECT_FALSE(source_at(37, 0).ok);
    // Sums that would wrap around to a small value.
    EXPECT_FALSE(source_at(UINT64_MAX, 1).ok);
    EXPECT_FALSE(source_at(1, UINT64_MAX).ok);

    auto target_at = [](uint64_t size, uint64_t position) {
        WindowPlan first;
        first.indicator = 0;
        first.data = text("hello");
        first.instructions = {kAdd, 5};
        WindowPlan second;
        second.indicator = 0x02;
        second.segment_size = size;
        second.segment_position = position;
        second.instructions = {copy_op(kSelf), 1};
        second.addresses = varint(size - 1);
        return decode(build_patch({first, second}), {});
    };
    Applied end = target_at(2, 3);
    ASSERT_TRUE(end.ok);
    EXPECT_EQ(std::string(end.out.begin(), end.out.end()), "helloo");
    EXPECT_FALSE(target_at(2, 4).ok);
    EXPECT_FALSE(target_at(UINT64_MAX, 1).ok);
}

// ---------------------------------------------------------------------------
// The file and window frame

TEST(VcdiffFrame, AHeaderWithoutWindowsGivesAnEmptyResult) {
    Applied a = decode(build_patch({}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_TRUE(a.out.empty());
    EXPECT_EQ(a.stats.windows, 0u);
}

TEST(VcdiffFrame, TheChecksumFieldIsSkippedNotChecked) {
    for (uint8_t indicator : {0x01, 0x05}) {
        WindowPlan w = source_window();
        w.indicator = indicator;  // build_patch writes DE AD BE EF for 0x04
        w.instructions = {copy_op(kSelf), 3};
        w.addresses = {0};
        Applied a = decode(build_patch({w}), kAlphabet);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "ABC");
    }
}

TEST(VcdiffFrame, TheDeclaredTargetLengthAndLeftoverSectionBytesAreNotEnforced) {
    WindowPlan w = source_window(100);
    w.data = text("abcdef");
    w.instructions = {kAdd, 2, copy_op(kSelf), 1};
    w.addresses = {0, 9, 9, 9};
    Applied a = decode(build_patch({w}), kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(std::string(a.out.begin(), a.out.end()), "abA");
}

TEST(VcdiffFrame, TheApplicationHeaderMayEndAtTheEndOfThePatchButNotRunPastIt) {
    Bytes exact = {0xD6, 0xC3, 0xC4, 0x00, 0x04, 3, 'a', 'b', 'c'};
    EXPECT_TRUE(decode(exact, {}).ok);
    Bytes past = {0xD6, 0xC3, 0xC4, 0x00, 0x04, 4, 'a', 'b', 'c'};
    EXPECT_FALSE(decode(past, {}).ok);
    Bytes huge = cat({{0xD6, 0xC3, 0xC4, 0x00, 0x04}, varint(UINT64_MAX), {'a'}});
    EXPECT_FALSE(decode(huge, {}).ok);
}

// ---------------------------------------------------------------------------
// Output growth

TEST(VcdiffOutput, StartsWithRoomForSourcePatchAndFourKilobytes) {
    WindowPlan w = source_window(kAlphabet.size());
    w.instructions = {copy_op(kSelf), 36};
    w.addresses = {0};
    Bytes patch = build_patch({w});
    Applied a = decode(patch, kAlphabet);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.stats.initial_capacity, kAlphabet.size() + patch.size() + 4096);
    EXPECT_EQ(a.stats.growths, 0u);
}

TEST(VcdiffOutput, GrowsOnlyWhenTheWindowAndEightBytesNoLongerFit) {
    auto run_window = [](uint64_t declared) {
        WindowPlan w;
        w.indicator = 0;
        w.target_length = declared;
        w.data = {'r'};
        w.instructions = cat({{kRun}, varint(declared)});
        return w;
    };
    // Two-byte integers for both candidates, so the patch has one length.
    size_t capacity = build_patch({run_window(4000)}).size() + 4096;
    Applied fits = decode(build_patch({run_window(capacity - 8)}), {});
    ASSERT_TRUE(fits.ok);
    EXPECT_EQ(fits.stats.growths, 0u);
    EXPECT_EQ(fits.out.size(), capacity - 8);

    Applied grows = decode(build_patch({run_window(capacity - 7)}), {});
    ASSERT_TRUE(grows.ok);
    EXPECT_EQ(grows.stats.growths, 1u);
    EXPECT_EQ(grows.stats.final_capacity, 2 * (capacity - 7) + 4096);
    EXPECT_EQ(grows.out, Bytes(capacity - 7, 'r'));
}

TEST(VcdiffOutput, LargeTargetsGrowByDoublingSoFewWindowsReallocate) {
    std::vector<WindowPlan> windows(5);
    for (WindowPlan& w : windows) {
        w.indicator = 0;
        w.target_length = 100000;
        w.data = {'q'};
        w.instructions = cat({{kRun}, varint(100000)});
    }
    Applied a = decode(build_patch(windows), {});
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.out, Bytes(500000, 'q'));
    // 100,000 -> 204,096; 300,000 -> 604,096; the rest fit.
    EXPECT_EQ(a.stats.growths, 2u);
    EXPECT_EQ(a.stats.final_capacity, 604096u);
}

TEST(VcdiffOutput, AWindowWritingPastItsRoomFailsInsteadOfGrowing) {
    WindowPlan w;
    w.indicator = 0;
    w.target_length = 0;
    w.data = {'r'};
    w.instructions = cat({{kRun}, varint(100000)});
    Applied a = decode(build_patch({w}), {});
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.stats.growths, 0u);
}

TEST(VcdiffOutput, GrowthSizesThatWouldWrapFailBeforeAnyAllocation) {
    for (uint64_t declared : {uint64_t{UINT64_MAX}, uint64_t{UINT64_MAX - 8}, uint64_t{1} << 63}) {
        SCOPED_TRACE(declared);
        WindowPlan w;
        w.indicator = 0;
        w.target_length = declared;
        Applied a = decode(build_patch({w}), {});
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.stats.growths, 0u);
    }
}

// ---------------------------------------------------------------------------
// Malformed patches

TEST(VcdiffMalformed, ACutAnywhereFailsExceptBetweenWindows) {
    TempDir tmp;
    std::mt19937 rng(9);
    Bytes source = words(rng, 40000);
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

const Bytes kElevenByteInteger = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01};

TEST(VcdiffMalformed, AnIntegerOfElevenBytesFailsWhereverItStands) {
    Bytes header = cat({{0xD6, 0xC3, 0xC4, 0x00, 0x04}, kElevenByteInteger});
    EXPECT_FALSE(decode(header, {}).ok);

    // A 10-byte integer is still fine, and so is the same window with it.
    Bytes ten_byte_zero = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    WindowPlan w = source_window();
    w.instructions = cat({{copy_op(kSelf)}, ten_byte_zero});
    w.addresses = {0};
    ASSERT_TRUE(decode(build_patch({w}), kAlphabet).ok);

    w.instructions = cat({{copy_op(kSelf)}, kElevenByteInteger});
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);

    w.instructions = {copy_op(kSelf), 1};
    w.addresses = kElevenByteInteger;
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);

    // In the window header: the segment size.
    Bytes patch = {0xD6, 0xC3, 0xC4, 0x00, 0x04, 0x00, 0x01};
    patch.insert(patch.end(), kElevenByteInteger.begin(), kElevenByteInteger.end());
    patch.insert(patch.end(), {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_FALSE(decode(patch, kAlphabet).ok);
}

TEST(VcdiffMalformed, ANonZeroDeltaIndicatorFails) {
    for (uint8_t delta : {0x01, 0x02, 0x04, 0x80}) {
        WindowPlan w = source_window();
        w.delta_indicator = delta;
        w.instructions = {copy_op(kSelf), 1};
        w.addresses = {0};
        EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    }
}

TEST(VcdiffMalformed, AnAddPastTheDataSectionFails) {
    WindowPlan w = source_window();
    w.data = text("abc");
    w.instructions = {kAdd, 3};
    ASSERT_TRUE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {kAdd, 4};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {kAdd, 2, kAdd, 2};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
}

TEST(VcdiffMalformed, ARunWithoutItsDataByteFails) {
    WindowPlan w = source_window();
    w.data = text("a");
    w.instructions = {kRun, 5, kRun, 5};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {kRun, 5};
    ASSERT_TRUE(decode(build_patch({w}), kAlphabet).ok);
}

TEST(VcdiffMalformed, ACopyOfOutputNotYetProducedFails) {
    WindowPlan w = source_window();
    w.data = text("ab");
    // Address 36 is the first byte this window produced, 38 the next to come.
    w.instructions = {kAdd, 2, copy_op(kSelf), 2};
    w.addresses = {36};
    Applied ok = decode(build_patch({w}), kAlphabet);
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(std::string(ok.out.begin(), ok.out.end()), "abab");
    w.addresses = {37};
    EXPECT_TRUE(decode(build_patch({w}), kAlphabet).ok);
    w.addresses = {38};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);

    // With no segment, an address in a window with no output yet.
    WindowPlan bare;
    bare.indicator = 0;
    bare.target_length = 4;
    bare.instructions = {copy_op(kSelf), 1};
    bare.addresses = {0};
    EXPECT_FALSE(decode(build_patch({bare}), {}).ok);
    // Output of an earlier window is not this window's: it needs a segment.
    WindowPlan first;
    first.indicator = 0;
    first.data = text("abc");
    first.instructions = {kAdd, 3};
    EXPECT_FALSE(decode(build_patch({first, bare}), {}).ok);
}

TEST(VcdiffMalformed, ACopyThatExhaustsTheAddressSectionFails) {
    WindowPlan w = source_window();
    w.instructions = {copy_op(kSelf), 1, copy_op(kSelf), 1};
    w.addresses = {0};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {copy_op(kSame0), 1};
    w.addresses = {};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {copy_op(kNear0), 1};
    w.addresses = {0x81};  // an integer cut short
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
    w.instructions = {copy_op(kSelf), 0x81};  // a size cut short
    w.addresses = {0};
    EXPECT_FALSE(decode(build_patch({w}), kAlphabet).ok);
}

TEST(VcdiffMalformed, AWindowRunningPastTheEndOfThePatchFails) {
    WindowPlan w = source_window();
    w.data = text("abc");
    w.instructions = {kAdd, 3};
    Bytes patch = build_patch({w});
    ASSERT_TRUE(decode(patch, kAlphabet).ok);
    for (int section = 0; section < 3; ++section) {
        SCOPED_TRACE(section);
        // One byte more in a section, and the patch cut one byte short: the
        // sections now end past the patch.
        WindowPlan longer = w;
        Bytes& bytes = section == 0 ? longer.data : section == 1 ? longer.instructions : longer.addresses;
        bytes.push_back(0);
        Bytes cut = build_patch({longer});
        cut.pop_back();
        EXPECT_FALSE(decode(cut, kAlphabet).ok);
    }
    // The checksum field cut short.
    WindowPlan checked;
    checked.indicator = 0x05;
    Bytes cut = build_patch({checked});
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(decode(cut, kAlphabet).ok);
    // Section lengths whose sum would wrap around.
    Bytes wrap = cat({{0xD6, 0xC3, 0xC4, 0x00, 0x04, 0x00, 0x00, 0x20, 0x00, 0x00}, varint(UINT64_MAX), {1, 1, kAdd}});
    EXPECT_FALSE(decode(wrap, kAlphabet).ok);
}

}  // namespace
