// The fast VCDIFF decoder against the first one (tests/reference), which
// copies one byte at a time: on every patch both give the same null or
// non-null result, the same output length and bytes, and the same record of
// windows and allocations. Copies that overlap what they produce at every
// distance, copies across the end of a segment, target segments, xdelta3's
// patches, the embedded patch on the stand-in dump, and a few thousand
// damaged patches.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "codecs/rom_patch.h"
#include "codecs/vcdiff.h"
#include "tests/reference/vcdiff_ref.h"
#include "tools/rom_standin/rom_standin.h"
#include "vcdiff_support.h"

namespace {

// Code table indexes that take their size from the instructions section.
constexpr uint8_t kAdd = 1;
constexpr uint8_t kRun = 0;
constexpr uint8_t copy_op(int mode) { return static_cast<uint8_t>(19 + 16 * mode); }
constexpr int kSelf = 0, kHere = 1;

Bytes varint(uint64_t value) {
    Bytes out;
    put_varint(out, value);
    return out;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Applied decode_reference(const Bytes& patch, const Bytes& source) {
    Bytes exact_patch(patch);
    Bytes exact_source(source);
    size_t length = 0x5A5A5A5Au;
    Applied result{};
    uint8_t* out = vcdiff_ref_apply(exact_patch.data(), exact_patch.size(), exact_source.data(), exact_source.size(),
                                    &length, &result.stats);
    result.ok = out != nullptr;
    if (out) {
        result.out.assign(out, out + length);
        std::free(out);
    }
    return result;
}

// Both decoders on the same patch and source; returns whether they succeeded.
bool expect_same(const Bytes& patch, const Bytes& source, const std::string& what) {
    Applied fast = decode(patch, source);
    Applied reference = decode_reference(patch, source);
    EXPECT_EQ(fast.ok, reference.ok) << what;
    EXPECT_EQ(fast.out.size(), reference.out.size()) << what;
    EXPECT_TRUE(fast.out == reference.out) << what;
    EXPECT_EQ(fast.stats.windows, reference.stats.windows) << what;
    EXPECT_EQ(fast.stats.growths, reference.stats.growths) << what;
    EXPECT_EQ(fast.stats.initial_capacity, reference.stats.initial_capacity) << what;
    EXPECT_EQ(fast.stats.final_capacity, reference.stats.final_capacity) << what;
    return fast.ok && reference.ok;
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

const Bytes kSegment = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// A window over kSegment that first adds `written` fresh bytes, then copies
// `size` bytes starting `distance` bytes back from the end of what it wrote
// (an address in this window's own output; a negative distance lies ahead).
Bytes overlapping_copy(uint64_t written, int64_t distance, uint64_t size, int mode) {
    std::mt19937 rng(static_cast<uint32_t>(written * 131 + static_cast<uint64_t>(distance)));
    WindowPlan w;
    w.indicator = 0x01;
    w.segment_size = kSegment.size();
    w.target_length = written + size;
    w.data = random_bytes(rng, written);
    w.instructions = {kAdd};
    append(w.instructions, varint(written));
    w.instructions.push_back(copy_op(mode));
    append(w.instructions, varint(size));
    uint64_t address = kSegment.size() + written - static_cast<uint64_t>(distance);
    // VCD_HERE counts back from the current position (segment + output).
    w.addresses = varint(mode == kHere ? kSegment.size() + written - address : address);
    return build_patch({w});
}

TEST(VcdiffDifferential, CopiesThatOverlapWhatTheyProduceRepeatItAtEveryDistance) {
    for (int64_t distance = 1; distance <= 40; ++distance) {
        uint64_t d = static_cast<uint64_t>(distance);
        for (uint64_t size : {uint64_t{0}, uint64_t{1}, d - 1, d, d + 1, 2 * d + 3, 7 * d, uint64_t{100}, uint64_t{4099}}) {
            for (int mode : {kSelf, kHere}) {
                std::string what = "distance " + std::to_string(distance) + ", size " + std::to_string(size);
                EXPECT_TRUE(expect_same(overlapping_copy(50, distance, size, mode), kSegment, what)) << what;
            }
        }
    }
    // Output not yet produced cannot be read, from any address on.
    for (int64_t ahead : {0, -1, -1000})
        EXPECT_FALSE(expect_same(overlapping_copy(10, ahead, 5, kSelf), kSegment, "ahead " + std::to_string(ahead)));
}

// A copy that starts in the segment and runs on into this window's output:
// the output part reads from the window start, which may be the bytes the
// segment part has just written.
TEST(VcdiffDifferential, CopiesAcrossTheEndOfTheSegmentContinueInThisWindowsOutput) {
    for (uint64_t written : {0, 1, 3, 20}) {
        for (uint64_t into_segment = 1; into_segment <= kSegment.size(); into_segment += 3) {
            for (uint64_t beyond : {0, 1, 2, 5, 19, 64}) {
                std::mt19937 rng(static_cast<uint32_t>(written + into_segment * 7 + beyond * 131));
                WindowPlan w;
                w.indicator = 0x01;
                w.segment_size = kSegment.size();
                w.target_length = written + into_segment + beyond;
                w.data = random_bytes(rng, written);
                if (written) {
                    w.instructions = {kAdd};
                    append(w.instructions, varint(written));
                }
                w.instructions.push_back(copy_op(kSelf));
                append(w.instructions, varint(into_segment + beyond));
                w.addresses = varint(kSegment.size() - into_segment);
                std::string what = "written " + std::to_string(written) + ", in segment " +
                                   std::to_string(into_segment) + ", beyond " + std::to_string(beyond);
                expect_same(build_patch({w}), kSegment, what);
            }
        }
    }
}

// VCD_TARGET: the segment is output of earlier windows, read where the output
// lives at the moment of the copy, and copies past it overlap this window.
TEST(VcdiffDifferential, TargetSegmentsAndCopiesOfEarlierWindows) {
    std::mt19937 rng(3);
    WindowPlan first;
    first.indicator = 0;
    first.target_length = 300;
    first.data = random_bytes(rng, 300);
    first.instructions = {kAdd};
    append(first.instructions, varint(300));
    for (uint64_t position : {0, 1, 150, 299}) {
        for (uint64_t size : {1, 2, 50}) {
            if (position + size > 300) continue;
            WindowPlan second;
            second.indicator = 0x02;
            second.segment_size = size;
            second.segment_position = position;
            // A large window, so the output grows before it runs.
            second.target_length = 20000;
            second.instructions = {copy_op(kSelf)};
            append(second.instructions, varint(size + 5000));
            second.instructions.push_back(copy_op(kSelf));
            append(second.instructions, varint(3000));
            second.addresses = varint(0);
            append(second.addresses, varint(size + 17));
            std::string what = "segment " + std::to_string(position) + "+" + std::to_string(size);
            EXPECT_TRUE(expect_same(build_patch({first, second}), {}, what)) << what;
        }
    }
}

// Room for a window is checked before it runs; inside it, a COPY or RUN may
// fill the room to its last byte and fails one byte further, however much
// further.
TEST(VcdiffDifferential, CopiesAndRunsFillTheRoomToTheLastByteAndFailPastIt) {
    // The first window declares 100,000 bytes, so the output grows to twice
    // that plus 4,096 and holds 1 byte; the second fits without growing.
    constexpr uint64_t kRoom = 2 * 100000 + 4096 - 1;
    for (uint64_t size : {uint64_t{100}, kRoom - 1, kRoom, kRoom + 1, kRoom + 4096, uint64_t{1} << 31}) {
        for (uint8_t op : {copy_op(kSelf), kRun}) {
            WindowPlan grow;
            grow.indicator = 0;
            grow.target_length = 100000;
            grow.data = {'x'};
            grow.instructions = {kAdd, 1};
            WindowPlan w;
            w.indicator = 0x02;
            w.segment_size = 1;
            w.target_length = 10;
            w.data = {'r'};
            w.instructions = {op};
            append(w.instructions, varint(size));
            w.addresses = varint(0);
            std::string what = std::string(op == kRun ? "RUN" : "COPY") + " of " + std::to_string(size);
            EXPECT_EQ(expect_same(build_patch({grow, w}), {}, what), size <= kRoom) << what;
        }
    }
}

// ---------------------------------------------------------------------------
// Patches from xdelta3

class XdeltaDifferential : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(XdeltaDifferential, EditedSourcesRepeatedPatternsAndManyWindows) {
    std::mt19937 rng(21);
    Bytes source = random_bytes(rng, 100000);
    std::vector<std::pair<std::string, Bytes>> targets;

    Bytes edited = source;
    for (int i = 0; i < 40; ++i) edited[rng() % edited.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    edited.insert(edited.begin() + 500, source.begin() + 9000, source.begin() + 12000);
    edited.erase(edited.begin() + 60000, edited.begin() + 61000);
    targets.push_back({"edited", edited});

    // Periods from one byte up: the encoder copies from just behind itself.
    Bytes patterned;
    for (size_t period : {1, 2, 3, 5, 8, 13, 31, 64, 100, 257}) {
        Bytes unit = random_bytes(rng, period);
        for (int i = 0; i < 3000 / static_cast<int>(period) + 4; ++i) append(patterned, unit);
        append(patterned, random_bytes(rng, 17));
    }
    targets.push_back({"patterned", patterned});

    Bytes shuffled;
    for (int i = 0; i < 30; ++i) {
        size_t at = rng() % (source.size() - 4000);
        shuffled.insert(shuffled.end(), source.begin() + at, source.begin() + at + rng() % 4000);
    }
    targets.push_back({"shuffled", shuffled});

    for (const auto& [name, target] : targets) {
        for (const char* flags : {"", "-W 16384"}) {
            Bytes with_source = xdelta3_encode(tmp, &source, target, flags);
            EXPECT_TRUE(expect_same(with_source, source, name + " " + flags)) << name;
            Bytes alone = xdelta3_encode(tmp, nullptr, target, flags);
            EXPECT_TRUE(expect_same(alone, {}, name + " without a source " + flags)) << name;
        }
    }
}

// ---------------------------------------------------------------------------
// The embedded patch and the stand-in dump

TEST(VcdiffDifferential, TheEmbeddedPatchOnTheStandinDumpAndOnSourcesCutShort) {
    Bytes patch(rom_patch, rom_patch + rom_patch_length);
    // A build that embeds another patch has no dump here to apply it to.
    if (patch != read_bytes(std::string(PELKO_SOURCE_DIR) + "/assets/rom_patch.vcdiff"))
        GTEST_SKIP() << "PELKO_ROM_PATCH is not the stand-in";
    Bytes dump = standin_dump();
    EXPECT_TRUE(expect_same(patch, dump, "the dump"));
    Bytes longer = dump;
    longer.resize(dump.size() + 1000, 0xEE);
    EXPECT_TRUE(expect_same(patch, longer, "the dump and more"));
    for (size_t length : {size_t{19116215}, size_t{19116216}, dump.size() - 1, size_t{1000}}) {
        Bytes cut(dump.begin(), dump.begin() + static_cast<long>(length));
        expect_same(patch, cut, "a source of " + std::to_string(length) + " bytes");
    }
}

// ---------------------------------------------------------------------------
// Damaged patches

// Declared target lengths of the windows a patch's header announces, up to
// the first that does not parse: what the decoders will allocate.
uint64_t declared_output(const Bytes& patch) {
    uint64_t total = 0;
    for (const WindowHeader& w : read_layout(patch).windows) total += w.target_length;
    return total;
}

TEST_F(XdeltaDifferential, DamagedPatchesFailOrSucceedAlikeWithTheSameBytes) {
    std::mt19937 rng(33);
    Bytes source = random_bytes(rng, 3000);
    Bytes target = source;
    target.insert(target.begin() + 100, source.begin() + 2000, source.begin() + 2600);
    for (int i = 0; i < 400; ++i) target.push_back(static_cast<uint8_t>("abcab"[i % 5]));
    std::vector<Bytes> originals = {
        xdelta3_encode(tmp, &source, target), xdelta3_encode(tmp, &source, target, "-W 16384"),
        xdelta3_encode(tmp, nullptr, target), overlapping_copy(30, 7, 200, kHere)};

    int decoded = 0, compared = 0;
    for (int i = 0; i < 4000; ++i) {
        Bytes patch = originals[rng() % originals.size()];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !patch.empty(); ++e) {
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
        if (declared_output(patch) > (64u << 20)) continue;
        ++compared;
        if (expect_same(patch, source, "damaged patch " + std::to_string(i))) ++decoded;
        if (HasFailure()) return;
    }
    // Damage leaves some patches decodable and breaks others; both kinds
    // must have been compared.
    EXPECT_GT(decoded, 100);
    EXPECT_LT(decoded, compared - 100);
}

}  // namespace
