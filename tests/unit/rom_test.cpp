// The ROM step: keeping, asking for, patching and checking patched.nds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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

// The text with one byte replaced.
std::string with(std::string text, size_t at, char byte) {
    text[at] = byte;
    return text;
}

std::string digest(const std::string& path) {
    char hex[kDigestTextSize] = "";
    sha256_file_hex(path.c_str(), hex);
    return hex;
}

class RomStep : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string patched = tmp.at("game/patched.nds");
    std::string log, err;

    void SetUp() override {
        make_dirs(tmp.at("game"));
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
        return std::count(fake.getenv_reads.begin(), fake.getenv_reads.end(), name) > 0;
    }
};

// A usable DS ROM has 512 bytes or more and the logo checksum 56 CF at 0x15C.
TEST_F(RomStep, AUsablePatchedRomIsKeptAnUnusableOneIsLoggedAndAskedForAgain) {
    const std::string asked = "  (patched.nds is present but not a usable DS rom -- asking for it again)\n";
    const std::pair<std::string, bool> cases[] = {
        {usable_rom(512), true}, {usable_rom(511), false}, {with(usable_rom(512), 0x15C, '\x57'), false},
        {with(usable_rom(512), 0x15D, '\xCE'), false}, {std::string(512, '\0'), false}};
    for (const auto& [rom, usable] : cases) {
        write_file(patched, rom);
        fake.dialogs.clear(), fake.getenv_reads.clear();
        EXPECT_EQ(acquire(), usable ? kRunGoesOn : 1);
        EXPECT_EQ(log, usable ? "" : asked);
        EXPECT_EQ(fake.dialogs.size(), usable ? 0u : 1u);
        EXPECT_EQ(env_read("VELA_ROM"), !usable);
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

TEST_F(RomStep, WithoutVelaRomTheDialogAsksForADsRomAndItsCancelEndsTheRun) {
    EXPECT_EQ(acquire(), 1);
    ASSERT_EQ(fake.dialogs.size(), 1u);
    EXPECT_EQ(fake.dialogs[0].filter, std::string("Nintendo DS ROM (*.nds)\0*.nds\0All files\0*.*\0\0", 45));
    EXPECT_EQ(fake.dialogs[0].title, "Select your Starlit Fair DS ROM (.nds)");
    EXPECT_EQ(fake.dialogs[0].flags, 0x1808u);
    EXPECT_EQ(fake.dialogs[0].size, 260u);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{9000});
    EXPECT_STREQ(g_splash.line, "NO ROM CHOSEN     REOPEN AND PICK");
}

TEST_F(RomStep, ThePickedFileBecomesThePlayableRomOrIsPlayedAsItIsOrEndsTheRun) {
    const std::string dump = as_string(standin_dump()), playable = as_string(standin_target(standin_dump()));
    const std::string other = with(dump, 1000000, static_cast<char>(dump[1000000] ^ 0x5A));  // its length only
    const std::string preparing = "PREPARING YOUR ROM", download_play = "NOT STARLIT FAIR DS     STARTING IN",
                      disk = "COULDN T PREPARE THE ROM  DISK";
    const auto real_fopen = fake.ops.fopen;
    struct Case {
        std::optional<std::string> source;  // nullopt: VELA_ROM names a missing file
        int result;
        std::optional<std::string> rom;  // patched.nds afterwards; nullopt: none
        std::vector<uint32_t> sleeps;
        std::string line;
        std::function<void()> arrange = nullptr;
    };
    const Case cases[] = {
        {dump, kRunGoesOn, playable, {}, preparing},
        {playable, kRunGoesOn, playable, {}, preparing},
        // Another DS game, or a dump of the right length that is not the supported one, is played unchanged.
        {usable_rom(), kRunGoesOn, usable_rom(), {1500}, download_play},
        // An empty VELA_ROM means the dialog, and what it picks is used.
        {usable_rom(), kRunGoesOn, usable_rom(), {1500}, download_play,
         [&] { fake.env["VELA_ROM"] = ""; fake.dialog_answer = tmp.win("dump.nds"); }},
        {other, kRunGoesOn, other, {1500}, download_play},
        {"just some notes, not a game\n", 1, std::nullopt, {10000}, "THAT FILE DOESN T LOOK LIKE"},
        {std::nullopt, 1, std::nullopt, {10000}, disk},
        {"", 1, std::nullopt, {10000}, disk},
        {usable_rom(), 1, std::nullopt, {10000}, disk,
         [&] { fake.fail_copy = [](const std::string&, const std::string&) { return true; }; }},
        // The disk fills up while patched.nds is written: no half-written ROM stays behind.
        {dump, 1, std::nullopt, {10000}, disk, [&] {
             fake.ops.fopen = [](const char* path, const char* mode) -> FILE* {
                 if (std::strstr(path, "patched.nds") && std::strcmp(mode, "wb") == 0) {
                     if (FILE* real = plat_native_ops().fopen(path, mode)) std::fclose(real);
                     return std::fopen("/dev/full", "wb");
                 }
                 return plat_native_ops().fopen(path, mode);
             };
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(++n));
        std::remove(patched.c_str());
        if (c.source) pick(*c.source);
        else fake.env["VELA_ROM"] = tmp.win("missing.nds");
        fake.fail_copy = nullptr;
        fake.ops.fopen = real_fopen;
        fake.sleeps.clear(), fake.dialogs.clear(), fake.dialog_answer.clear();
        if (c.arrange) c.arrange();
        EXPECT_EQ(acquire(), c.result);
        EXPECT_EQ(fake.dialogs.size(), fake.dialog_answer.empty() ? 0u : 1u);
        EXPECT_EQ(fake.sleeps, c.sleeps);
        EXPECT_STREQ(g_splash.line, c.line.c_str());
        EXPECT_EQ(file_exists(patched), c.rom.has_value());
        // Not EXPECT_EQ: the report of two differing ROMs of megabytes would exhaust the memory.
        EXPECT_TRUE(read_file(patched) == c.rom.value_or("")) << "patched.nds is not the expected ROM";
        EXPECT_EQ(digest(patched) == PELKO_ROM_SHA256, c.rom == playable);
    }
}

}  // namespace
