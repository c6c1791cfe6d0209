// The ROM step: keeping, asking for, patching and checking patched.nds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "build_config.h"
#include "codecs/sha256.h"
#include "core/rom.h"
#include "core/run.h"
#include "splash/splash_state.h"
#include "support.h"
#include "tools/rom_standin/rom_standin.h"

namespace {

std::string as_string(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string usable_rom(size_t size = 4096) {
    std::string rom(size, '\x11');
    rom[0x15C] = '\x56';
    rom[0x15D] = '\xCF';
    return rom;
}

std::string digest(const std::string& path) {
    char hex[kDigestTextSize] = "";
    sha256_file_hex(path.c_str(), hex);
    return hex;
}

// The synthetic dump and the playable ROM it patches into, made once.
const std::string& supported_dump() {
    static const std::string dump = as_string(standin_dump());
    return dump;
}

class RomStep : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string game = tmp.at("game");
    std::string patched = tmp.at("game/patched.nds");
    std::string log, err;

    void SetUp() override {
        make_dirs(game);
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
    }
    void TearDown() override { g_splash.active.store(0); }

    int acquire(const std::string& room = "") {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = acquire_rom(tmp.win("game\\patched.nds").c_str(), room.c_str());
        err = testing::internal::GetCapturedStderr();
        log = testing::internal::GetCapturedStdout();
        return result;
    }
    // The player's dump, handed over through VELA_ROM.
    void pick(const std::string& content) {
        write_file(tmp.at("dump.nds"), content);
        fake.env["VELA_ROM"] = tmp.win("dump.nds");
    }
    bool env_read(const std::string& name) const {
        for (const auto& n : fake.getenv_reads)
            if (n == name) return true;
        return false;
    }
};

TEST(UsableDsRom, NeedsFiveHundredTwelveBytesAndTheLogoChecksum) {
    std::string rom = usable_rom(512);
    auto bytes = reinterpret_cast<const uint8_t*>(rom.data());
    EXPECT_TRUE(is_usable_ds_rom(bytes, 512));
    EXPECT_FALSE(is_usable_ds_rom(bytes, 511));
    rom[0x15D] = '\xCE';
    EXPECT_FALSE(is_usable_ds_rom(reinterpret_cast<const uint8_t*>(rom.data()), 512));
}

TEST_F(RomStep, AUsablePatchedRomIsKeptWithoutAQuestion) {
    write_file(patched, usable_rom(512));
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_TRUE(fake.dialogs.empty());
    EXPECT_FALSE(env_read("VELA_ROM"));
    EXPECT_EQ(log, "");
}

TEST_F(RomStep, AnUnusablePatchedRomIsLoggedAndAskedForAgain) {
    for (const std::string& bad : {usable_rom(511), std::string(512, '\0')}) {
        write_file(patched, bad);
        fake.dialogs.clear();
        EXPECT_EQ(acquire(), 1);
        EXPECT_EQ(log, "  (patched.nds is present but not a usable DS rom -- asking for it again)\n");
        EXPECT_EQ(fake.dialogs.size(), 1u);
    }
}

TEST_F(RomStep, AnInviteWithoutARomLeavesTheGameToTheHost) {
    pick(usable_rom());
    EXPECT_EQ(acquire("AB12"), kRunGoesOn);
    EXPECT_EQ(err, "[rom] joining room AB12 with no local ROM -> the app will fetch it from the host\n");
    EXPECT_STREQ(g_splash.line, "JOINING     THE HOST WILL SEND YOU");
    EXPECT_FALSE(env_read("VELA_ROM"));
    EXPECT_TRUE(fake.dialogs.empty());
    EXPECT_FALSE(file_exists(patched));
}

TEST_F(RomStep, TheDialogAsksForADsRomAndItsCancelEndsTheRun) {
    EXPECT_EQ(acquire(), 1);
    ASSERT_EQ(fake.dialogs.size(), 1u);
    EXPECT_EQ(fake.dialogs[0].filter, std::string("Nintendo DS ROM (*.nds)\0*.nds\0All files\0*.*\0\0", 45));
    EXPECT_EQ(fake.dialogs[0].title, "Select your Starlit Fair DS ROM (.nds)");
    EXPECT_EQ(fake.dialogs[0].flags, 0x1808u);
    EXPECT_EQ(fake.dialogs[0].size, 260u);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{9000});
    EXPECT_STREQ(g_splash.line, "NO ROM CHOSEN     REOPEN AND PICK");
}

TEST_F(RomStep, AnEmptyVelaRomMeansTheDialog) {
    fake.env["VELA_ROM"] = "";
    write_file(tmp.at("picked.nds"), usable_rom());
    fake.dialog_answer = tmp.win("picked.nds");
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_EQ(fake.dialogs.size(), 1u);
    EXPECT_EQ(read_file(patched), usable_rom());
}

TEST_F(RomStep, TheSupportedDumpIsPatchedIntoThePlayableRom) {
    pick(supported_dump());
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_EQ(digest(patched), PELKO_ROM_SHA256);
    EXPECT_TRUE(fake.sleeps.empty());
    EXPECT_STREQ(g_splash.line, "PREPARING YOUR ROM");
}

TEST_F(RomStep, ThePlayableRomItselfIsCopiedWithoutPatching) {
    std::string playable = as_string(standin_target(standin_dump()));
    pick(playable);
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_EQ(read_file(patched), playable);
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(RomStep, AnotherDsGameIsCopiedForDownloadPlay) {
    pick(usable_rom());
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_EQ(read_file(patched), usable_rom());
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{1500});
    EXPECT_STREQ(g_splash.line, "NOT STARLIT FAIR DS     STARTING IN");
}

TEST_F(RomStep, ADumpOfTheRightLengthButOtherContentIsPlayedUnchanged) {
    std::string other = supported_dump();
    other[1000000] ^= 0x5A;
    pick(other);
    EXPECT_EQ(acquire(), kRunGoesOn);
    EXPECT_EQ(read_file(patched), other);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{1500});
}

TEST_F(RomStep, ATextFileIsNoDsGame) {
    pick("just some notes, not a game\n");
    EXPECT_EQ(acquire(), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{10000});
    EXPECT_STREQ(g_splash.line, "THAT FILE DOESN T LOOK LIKE");
    EXPECT_FALSE(file_exists(patched));
}

TEST_F(RomStep, AnUnreadableOrEmptySourceIsADiskError) {
    fake.env["VELA_ROM"] = tmp.win("missing.nds");
    EXPECT_EQ(acquire(), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{10000});
    EXPECT_STREQ(g_splash.line, "COULDN T PREPARE THE ROM  DISK");
    fake.sleeps.clear();
    pick("");
    EXPECT_EQ(acquire(), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{10000});
}

TEST_F(RomStep, AShortWriteLeavesNoPatchedRomBehind) {
    pick(supported_dump());
    // The disk fills up while patched.nds is written.
    fake.ops.fopen = [](const char* path, const char* mode) -> FILE* {
        if (std::strstr(path, "patched.nds") && std::strcmp(mode, "wb") == 0) {
            FILE* real = plat_native_ops().fopen(path, mode);
            if (real) std::fclose(real);
            return std::fopen("/dev/full", "wb");
        }
        return plat_native_ops().fopen(path, mode);
    };
    EXPECT_EQ(acquire(), 1);
    EXPECT_FALSE(file_exists(patched));
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{10000});
}

TEST_F(RomStep, AnUnwritableGameFolderIsADiskError) {
    pick(usable_rom());
    fake.fail_copy = [](const std::string&, const std::string&) { return true; };
    EXPECT_EQ(acquire(), 1);
    EXPECT_STREQ(g_splash.line, "COULDN T PREPARE THE ROM  DISK");
}

}  // namespace
