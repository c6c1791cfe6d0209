// The embedded ROM patch: the stand-in asset's layout, what it does with
// sources of each length, that it never makes the output grow for the
// expected source, and that the committed file rebuilds from its generator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "build_config.h"
#include "codecs/rom_patch.h"
#include "codecs/vcdiff.h"
#include "peer_tools.h"
#include "tools/rom_standin/rom_standin.h"
#include "vcdiff_support.h"

namespace {

constexpr size_t kFirstWindowSourceEnd = 19116216;

const std::string kAssets = std::string(PELKO_SOURCE_DIR) + "/assets";

Bytes embedded() { return Bytes(rom_patch, rom_patch + rom_patch_length); }

// The synthetic dump and its target are made once per process (tests run in
// separate processes under ctest, so once per test there).
class StandinRomPatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dump_ = new Bytes(standin_dump());
        target_ = new Bytes(standin_target(*dump_));
    }
    static void TearDownTestSuite() {
        delete dump_;
        delete target_;
    }
    void SetUp() override {
        // A build that embeds another patch (a release with the real one)
        // cannot be tested against the synthetic dump.
        if (embedded() != read_bytes(kAssets + "/rom_patch.vcdiff"))
            GTEST_SKIP() << "PELKO_ROM_PATCH is not the stand-in";
    }

    const Bytes& dump() { return *dump_; }
    const Bytes& target() { return *target_; }

    // vcdiff_apply_embedded on an exactly-sized copy of the first length
    // bytes of source.
    static Bytes apply_embedded(const Bytes& source, size_t length, bool* ok) {
        Bytes exact(source.begin(), source.begin() + length);
        size_t out_length = 77;
        uint8_t* out = vcdiff_apply_embedded(exact.data(), exact.size(), &out_length);
        *ok = out != nullptr;
        if (!out) {
            EXPECT_EQ(out_length, 77u) << "a failed call changed the output length";
            return {};
        }
        Bytes result(out, out + out_length);
        std::free(out);
        return result;
    }

    TempDir tmp;

private:
    static Bytes* dump_;
    static Bytes* target_;
};
Bytes* StandinRomPatch::dump_;
Bytes* StandinRomPatch::target_;

TEST_F(StandinRomPatch, HasTheWindowLayoutOfTheRealPatch) {
    PatchLayout layout = read_layout(embedded());
    ASSERT_TRUE(layout.complete);
    EXPECT_EQ(Bytes(rom_patch, rom_patch + 4), Bytes({0xD6, 0xC3, 0xC4, 0x00}));
    EXPECT_EQ(layout.header_indicator, 0x04);
    EXPECT_EQ(layout.application_header.size(), 27u);
    ASSERT_EQ(layout.windows.size(), 3u);
    EXPECT_EQ(layout.windows[0].offset, 33u);

    struct Expected {
        uint64_t segment_position, segment_size, target_length;
    };
    const Expected expected[] = {
        {0, 19116216, 8388608},
        {8388016, 8388608, 8388608},
        {16776624, 6511480, 6511480},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i + 1);
        const WindowHeader& w = layout.windows[i];
        EXPECT_EQ(w.indicator, 0x05);
        EXPECT_EQ(w.delta_indicator, 0);
        EXPECT_EQ(w.segment_position, expected[i].segment_position);
        EXPECT_EQ(w.segment_size, expected[i].segment_size);
        EXPECT_EQ(w.target_length, expected[i].target_length);
    }
    // The middle window is a single copy of its whole segment: no data, one
    // instruction with its size, one address.
    EXPECT_EQ(layout.windows[1].data_length, 0u);
    EXPECT_EQ(layout.windows[1].addresses_length, 1u);
    EXPECT_EQ(layout.windows.back().end, rom_patch_length);
}

TEST_F(StandinRomPatch, TheSupportedDumpBecomesThePlayableRomWithTheExpectedDigest) {
    ASSERT_EQ(dump().size(), kStandinDumpLength);
    EXPECT_EQ(dump()[0x15C], 0x56);
    EXPECT_EQ(dump()[0x15D], 0xCF);
    bool ok;
    Bytes out = apply_embedded(dump(), dump().size(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(out.size(), kStandinTargetLength);
    EXPECT_TRUE(out == target());
    EXPECT_EQ(sha256_hex(tmp, out.data(), out.size()), PELKO_ROM_SHA256);
}

TEST_F(StandinRomPatch, BytesBeyondTheExpectedLengthChangeNothing) {
    Bytes longer = dump();
    longer.insert(longer.end(), 5000, 0xA7);
    bool ok;
    Bytes out = apply_embedded(longer, longer.size(), &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(out == target());
}

TEST_F(StandinRomPatch, ASourceTooShortForTheFirstWindowFailsThere) {
    for (size_t length : {size_t{0}, size_t{512}, kFirstWindowSourceEnd - 1}) {
        SCOPED_TRACE(length);
        bool ok;
        apply_embedded(dump(), length, &ok);
        EXPECT_FALSE(ok);
        Bytes exact(dump().begin(), dump().begin() + length);
        size_t out_length = 0;
        vcdiff_stats stats{};
        EXPECT_EQ(vcdiff_apply(rom_patch, rom_patch_length, exact.data(), exact.size(), &out_length, &stats), nullptr);
        EXPECT_EQ(stats.windows, 0u);
    }
}

TEST_F(StandinRomPatch, ASourceLongEnoughForTheFirstWindowsButNotTheLastFailsInTheThird) {
    for (size_t length : {kFirstWindowSourceEnd, kStandinDumpLength - 1}) {
        SCOPED_TRACE(length);
        bool ok;
        apply_embedded(dump(), length, &ok);
        EXPECT_FALSE(ok);
        Bytes exact(dump().begin(), dump().begin() + length);
        size_t out_length = 0;
        vcdiff_stats stats{};
        EXPECT_EQ(vcdiff_apply(rom_patch, rom_patch_length, exact.data(), exact.size(), &out_length, &stats), nullptr);
        EXPECT_EQ(stats.windows, 2u);
    }
}

TEST_F(StandinRomPatch, AnotherSourceOfTheRightLengthStillGivesATargetOfTheRightLength) {
    Bytes zeros(kStandinDumpLength, 0);
    bool ok;
    Bytes out = apply_embedded(zeros, zeros.size(), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(out.size(), kStandinTargetLength);
    EXPECT_FALSE(out == target());
}

TEST_F(StandinRomPatch, TheOutputNeverGrowsForASourceOfTheExpectedLength) {
    size_t out_length = 0;
    vcdiff_stats stats{};
    uint8_t* out = vcdiff_apply(rom_patch, rom_patch_length, dump().data(), dump().size(), &out_length, &stats);
    ASSERT_NE(out, nullptr);
    std::free(out);
    EXPECT_EQ(out_length, kStandinTargetLength);
    EXPECT_EQ(stats.windows, 3u);
    EXPECT_EQ(stats.growths, 0u);
    EXPECT_EQ(stats.initial_capacity, kStandinDumpLength + rom_patch_length + 4096);
}

// make_rom_patch.sh with the generator built here and Debian's xdelta3 must
// give back the committed patch and digest, byte for byte.
TEST_F(StandinRomPatch, TheCommittedPatchAndDigestRebuildFromTheGenerator) {
    std::string command = "XDELTA3=" + shell_quote(XDELTA3_PATH) + " " +
                          shell_quote(PELKO_SOURCE_DIR "/tools/make_rom_patch.sh") + " " + shell_quote(tmp.path()) +
                          " " + shell_quote(ROM_STANDIN_PATH);
    ASSERT_TRUE(run_tool(command));
    EXPECT_TRUE(read_bytes(tmp.at("rom_patch.vcdiff")) == read_bytes(kAssets + "/rom_patch.vcdiff"));
    std::string digest = read_file(tmp.at("patched_rom.sha256"));
    EXPECT_EQ(digest, read_file(kAssets + "/patched_rom.sha256"));
    EXPECT_EQ(digest.substr(0, 64), PELKO_ROM_SHA256);
}

}  // namespace
