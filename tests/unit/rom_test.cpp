// The ROM step of install-only runs, which end before the game: keeping,
// asking for, patching and checking patched.nds.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "build_config.h"
#include "splash/splash_state.h"
#include "support.h"
#include "tools/rom_standin/rom_standin.h"

namespace {

std::string with(std::string text, size_t at, char byte) {
    text[at] = byte;
    return text;
}

class Rom : public LauncherTest {
protected:
    std::string patched = home + "/app.1/kestrel-core/patched.nds";
    void SetUp() override {
        LauncherTest::SetUp();
        install("1");
        fake.env["VELA_INSTALL_ONLY"] = "";
    }
};

// A usable DS ROM has 512 bytes or more and the logo checksum 56 CF at 0x15C.
// Any other is logged, and the player is asked for a dump: with no VELA_ROM,
// in the dialog, whose cancel ends the run.
TEST_F(Rom, AUsablePatchedRomIsKeptAndForAnyOtherTheDialogAsks) {
    const std::pair<std::string, bool> cases[] = {{usable_rom(512), true},
                                                  {usable_rom(511), false},
                                                  {with(usable_rom(), 0x15C, '\x57'), false},
                                                  {with(usable_rom(), 0x15D, '\xCE'), false}};
    for (const auto& [rom, usable] : cases) {
        write_file(patched, rom);
        fake.dialogs.clear(), fake.sleeps.clear(), fake.splash_lines.clear();
        EXPECT_EQ(run(), usable ? 0 : 1);
        EXPECT_EQ(logged("  (patched.nds is present but not a usable DS rom -- asking for it again)\n"), !usable);
        ASSERT_EQ(fake.dialogs.size(), usable ? 0u : 1u);
        if (usable) continue;
        EXPECT_EQ(fake.dialogs[0].filter, std::string("Nintendo DS ROM (*.nds)\0*.nds\0All files\0*.*\0\0", 45));
        EXPECT_EQ(fake.dialogs[0].title, "Select your Starlit Fair DS ROM (.nds)");
        EXPECT_EQ(fake.dialogs[0].flags, 0x1808u);  // file and path must exist, the folder is not changed
        EXPECT_EQ(fake.dialogs[0].size, 260u);
        EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{9000});
        EXPECT_EQ(std::vector<std::string>(fake.splash_lines.end() - 2, fake.splash_lines.end()),
                  (std::vector<std::string>{"CHOOSE YOUR STARLIT FAIR DS ROM", "NO ROM CHOSEN     REOPEN AND PICK"}));
    }
}

TEST_F(Rom, ThePickedFileBecomesThePlayableRomOrIsPlayedAsItIsOrEndsTheRun) {
    const std::vector<uint8_t> dump_bytes = standin_dump(), target_bytes = standin_target(dump_bytes);
    const std::string dump(dump_bytes.begin(), dump_bytes.end()), playable(target_bytes.begin(), target_bytes.end());
    const std::string other = with(dump, 1000000, static_cast<char>(dump[1000000] ^ 0x5A));  // its length only
    const std::string download_play = "NOT STARLIT FAIR DS     STARTING IN", disk = "COULDN T PREPARE THE ROM  DISK";
    const struct {
        std::optional<std::string> source;  // VELA_ROM's file; nullopt: a missing file
        int result;
        std::optional<std::string> rom;  // patched.nds afterwards
        std::vector<uint32_t> sleeps;
        std::string line;
        std::function<void(FakePlatform&)> arrange = nullptr;
    } cases[] = {
        {dump, 0, playable, {}, "PREPARING YOUR ROM"},
        {playable, 0, playable, {}, "PREPARING YOUR ROM"},
        // Another DS game, or a dump of the right length that is not the supported one, is played unchanged.
        {usable_rom(), 0, usable_rom(), {1500}, download_play},
        {other, 0, other, {1500}, download_play},
        // An empty VELA_ROM means the dialog, and what it picks is used.
        // clang-format off
        {usable_rom(), 0, usable_rom(), {1500}, download_play,
         [](FakePlatform& f) { f.env["VELA_ROM"] = "", f.dialog_answer = f.env["PICK"]; }},
        {"just some notes, not a game\n", 1, std::nullopt, {10000}, "THAT FILE DOESN T LOOK LIKE"},
        {std::nullopt, 1, std::nullopt, {10000}, disk},
        {"", 1, std::nullopt, {10000}, disk},
        {usable_rom(), 1, std::nullopt, {10000}, disk,
         [](FakePlatform& f) { f.fail = [](const std::string& op, const std::string&) { return op == "copy"; }; }},
        // The disk fills up while patched.nds is written: no half-written ROM stays behind.
        {dump, 1, std::nullopt, {10000}, disk, [](FakePlatform& f) {
             f.ops.fopen = [](const char* path, const char* mode) -> FILE* {
                 if (!std::strstr(path, "patched.nds") || std::strcmp(mode, "wb") != 0)
                     return plat_native_ops().fopen(path, mode);
                 std::fclose(plat_native_ops().fopen(path, mode));
                 return std::fopen("/dev/full", "wb");
             };
         }},
        // clang-format on
    };
    const auto real_fopen = fake.ops.fopen;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(++n);
        std::remove(patched.c_str());
        if (c.source) write_file(tmp.at("dump.nds"), *c.source);
        fake.env["VELA_ROM"] = fake.env["PICK"] = tmp.win(c.source ? "dump.nds" : "missing.nds");
        fake.fail = nullptr;
        fake.ops.fopen = real_fopen;
        fake.sleeps.clear(), fake.dialogs.clear(), fake.dialog_answer.clear();
        if (c.arrange) c.arrange(fake);
        EXPECT_EQ(run(), c.result);
        EXPECT_EQ(fake.dialogs.size(), fake.dialog_answer.empty() ? 0u : 1u);
        EXPECT_EQ(fake.sleeps, c.sleeps);
        EXPECT_EQ(logged("install-only: done (rom prepared at " + game_dir("1") + "\\patched.nds).\n"), !c.result);
        EXPECT_TRUE(fake.started.empty() && fake.putenvs.empty()) << "install-only mode ends before the game";
        EXPECT_STREQ(g_splash.line, c.line.c_str());
        // Not EXPECT_EQ: the report of two differing ROMs of megabytes would exhaust the memory.
        EXPECT_TRUE(read_file(patched) == c.rom.value_or("")) << "patched.nds is not the expected ROM";
        EXPECT_EQ(file_exists(patched), c.rom.has_value());
        EXPECT_EQ(digest_of(patched) == PELKO_ROM_SHA256, c.rom == playable);
    }
}

}  // namespace
