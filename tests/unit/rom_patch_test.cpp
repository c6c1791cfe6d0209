// The embedded ROM patch: the stand-in asset's layout, what it makes of
// sources of each length, and that the committed file rebuilds from its
// generator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "build_config.h"
#include "codecs/rom_patch.h"
#include "codecs/vcdiff.h"
#include "peer_tools.h"
#include "tools/rom_standin/rom_standin.h"
#include "vcdiff_support.h"

namespace {

constexpr size_t kFirstWindowSourceEnd = 19116216;

const std::string kAssets = std::string(PELKO_SOURCE_DIR) + "/assets";

class StandinRomPatch : public ::testing::Test {
protected:
    void SetUp() override {
        // A build that embeds another patch (a release with the real one)
        // cannot be tested against the synthetic dump.
        if (patch != read_bytes(kAssets + "/rom_patch.vcdiff")) GTEST_SKIP() << "PELKO_ROM_PATCH is not the stand-in";
    }

    const Bytes patch = Bytes(rom_patch, rom_patch + rom_patch_length);
    TempDir tmp;
};

TEST_F(StandinRomPatch, HasTheWindowLayoutOfTheRealPatch) {
    // Magic, header indicator, a 27-byte application header, three windows.
    EXPECT_EQ(Bytes(patch.begin(), patch.begin() + 6), Bytes({0xD6, 0xC3, 0xC4, 0x00, 0x04, 27}));
    PatchLayout layout = read_layout(patch);
    ASSERT_TRUE(layout.complete);
    ASSERT_EQ(layout.windows.size(), 3u);
    EXPECT_EQ(layout.windows[0].offset, 33u);
    const uint64_t expected[3][3] = {
        // segment position, segment size, target length
        {0, 19116216, 8388608},
        {8388016, 8388608, 8388608},
        {16776624, 6511480, 6511480},
    };
    for (int i = 0; i < 3; ++i) {
        const WindowHeader& w = layout.windows[i];
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(std::make_tuple(w.indicator, w.delta_indicator, w.segment_position, w.segment_size, w.target_length),
                  std::make_tuple(0x05, 0, expected[i][0], expected[i][1], expected[i][2]));
    }
    // The middle window is a single copy of its whole segment: no data, one
    // instruction with its size, one address.
    EXPECT_EQ(layout.windows[1].data_length, 0u);
    EXPECT_EQ(layout.windows[1].addresses_length, 1u);
}

// The expected dump, and anything as long or longer, gives a target of the
// expected length without growing the output; a shorter source fails in the
// first window that reads past it.
TEST_F(StandinRomPatch, EverySourceLongEnoughGivesTheTargetLengthAndAShorterOneFailsInTheWindowItLacks) {
    const Bytes dump = standin_dump();
    ASSERT_EQ(dump.size(), kStandinDumpLength);
    EXPECT_EQ(dump[0x15C], 0x56);
    EXPECT_EQ(dump[0x15D], 0xCF);
    // Both decoders, and vcdiff_apply_embedded alike.
    auto apply = [&](const Bytes& source, uint32_t windows) {
        SCOPED_TRACE(std::to_string(source.size()) + " bytes");
        Applied a = decode(patch, source);
        EXPECT_EQ(a.ok, windows == 3);
        EXPECT_EQ(a.stats.windows, windows);
        size_t length = 77;
        uint8_t* out = vcdiff_apply_embedded(source.data(), source.size(), &length);
        EXPECT_TRUE(out ? a.out == Bytes(out, out + length) : length == 77u);
        std::free(out);
        return a;
    };

    Applied expected = apply(dump, 3);
    EXPECT_EQ(expected.stats.growths, 0u);
    EXPECT_EQ(expected.stats.initial_capacity, kStandinDumpLength + rom_patch_length + 4096);
    ASSERT_EQ(expected.out.size(), kStandinTargetLength);
    EXPECT_TRUE(expected.out == standin_target(dump));
    write_file(tmp.at("patched.nds"), std::string(expected.out.begin(), expected.out.end()));
    std::string digest;
    ASSERT_TRUE(run_tool("sha256sum " + shell_quote(tmp.at("patched.nds")), &digest));
    EXPECT_EQ(digest.substr(0, 64), PELKO_ROM_SHA256);

    Bytes longer = dump;
    longer.resize(dump.size() + 5000, 0xA7);
    EXPECT_TRUE(apply(longer, 3).out == expected.out);
    Applied other = apply(Bytes(kStandinDumpLength, 0), 3);
    EXPECT_EQ(other.out.size(), kStandinTargetLength);
    EXPECT_FALSE(other.out == expected.out);

    for (size_t length : {size_t{0}, size_t{512}, kFirstWindowSourceEnd - 1})
        apply(Bytes(dump.begin(), dump.begin() + static_cast<long>(length)), 0);
    for (size_t length : {kFirstWindowSourceEnd, kStandinDumpLength - 1})
        apply(Bytes(dump.begin(), dump.begin() + static_cast<long>(length)), 2);
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
