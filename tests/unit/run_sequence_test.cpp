// The run sequence from the arguments and environment to the game start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "core/launcher_main.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

class RunSequence : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home");
    std::string log;

    void SetUp() override {
        splash_state_clear();
        fake.local_appdata = tmp.at("appdata");
        make_dirs(fake.local_appdata);
        fake.env["VELA_HOME"] = tmp.win("home");
    }

    // A version directory with a game and a usable ROM, named by the records.
    void install(const std::string& version) {
        std::string game = home + "/app." + version + "/kestrel-core";
        write_file(game + "/Pelko.exe", "game");
        write_file(game + "/version.txt", version + "\n");
        write_file(game + "/patched.nds", usable_rom(512));
        write_file(home + "/version.txt", version + "\n");
        write_file(home + "/current.txt", tmp.win("home/app." + version + "/kestrel-core"));
    }

    int run(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "Pelko-Setup.exe");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        testing::internal::CaptureStdout();
        int code = launcher_main(static_cast<int>(argv.size()), argv.data());
        log = testing::internal::GetCapturedStdout();
        return code;
    }
    bool logged(const std::string& line) const { return log.find(line) != std::string::npos; }
};

TEST_F(RunSequence, NothingInstalledEndsWithExitOneAfterTheEightSecondWaitWithTheErrorOnTheSplash) {
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(logged("one-tap: no room code -- this launch will host a fresh room\n"));
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
    EXPECT_TRUE(fake.started.empty());
    EXPECT_TRUE(file_exists(home));
    // The splash stays up until the process ends.
    ASSERT_EQ(fake.threads.size(), 1u);
    EXPECT_TRUE(splash_is_active());
    EXPECT_STREQ(g_splash.line, "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION");
    EXPECT_EQ(g_splash.percent, -1);
    EXPECT_TRUE(fake.thread_waits.empty()) << "only the game start closes the splash";
}

// The arguments reach the game only as the launch number, safe video and the
// room of an invite link, which wins over an invite file name. Nothing of a
// hostile link but its code reaches the game.
TEST_F(RunSequence, AnInstalledClientStartsWithTheRoomOfTheInviteAndClosesTheSplash) {
    install("1.0");
    const std::string game = tmp.win("home/app.1.0/kestrel-core"), plain = fake.module_path,
                      invite_file = "/dl/Pelko-Setup-AB12.exe";
    const struct {
        std::vector<std::string> args;
        std::string module_path, number, room;
        bool from_file_name, safe;
    } cases[] = {
        {{"--url", "pelko://join/wxyz"}, plain, "0", "WXYZ", false, false},
        {{}, invite_file, "0", "AB12", true, false},
        {{"--url", "pelko://join/ab12\" --safe \"x"}, plain, "0", "AB12", false, false},
        {{"--url", "pelko://join/abcd --room=EVIL"}, plain, "0", "ABCD", false, false},
        {{"--url", "pelko://join/abcd%20--safe"}, plain, "0", "ABCD", false, false},
        {{"--url", "pelko://join/%41%42%43%44"}, plain, "0", "", false, false},
        {{"--url", "pelko://join/caf\xC3\xA9" "babe"}, plain, "0", "CAF", false, false},
        {{"--url", "pelko://join/" + std::string(4000, 'q')}, plain, "0", std::string(15, 'Q'), false, false},
        {{"--url", "pelko://join/abcd&room=x'y"}, plain, "0", "ABCD", false, false},
        {{"2", "pelko://join/WXYZ", "--safe"}, invite_file, "2", "WXYZ", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fake.started.clear();
        fake.sleeps.clear();
        fake.thread_waits.clear();
        size_t threads = fake.threads.size();
        fake.module_path = c.module_path;
        EXPECT_EQ(run(c.args), 0);
        const std::string source =
            c.from_file_name ? "the name of the installer file" : "a clicked pelko:// invite link)\n";
        EXPECT_TRUE(logged(c.room.empty() ? "one-tap: no room code -- this launch will host a fresh room\n"
                                          : "one-tap: joining room " + c.room + " (source: " + source));
        ASSERT_EQ(fake.started.size(), 1u);
        EXPECT_EQ(fake.started[0].command_line, "\"" + game + "\\Pelko.exe\" \"" + game + "\\patched.nds\" \"" + game +
                                                    "\" " + c.number + " " PELKO_GAME_SERVER " 6100" +
                                                    (c.room.empty() ? "" : " --room=" + c.room));
        EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/softrender.txt"), c.safe ? "1\n" : "");
        EXPECT_EQ(fake.total_sleep(), 7000u);
        EXPECT_EQ(fake.threads.size(), threads + 1);
        EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
        EXPECT_FALSE(splash_is_active());
    }
}

TEST_F(RunSequence, InstallOnlyModeEndsBeforeTheGameEvenWhenEmpty) {
    install("1.0");
    fake.env["VELA_INSTALL_ONLY"] = "";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(logged("install-only: done (rom prepared at " + tmp.win("home/app.1.0/kestrel-core") +
                       "\\patched.nds).\n"));
    EXPECT_TRUE(fake.started.empty());
    EXPECT_TRUE(fake.putenvs.empty());
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(RunSequence, AnEmptyVelaHomeMeansTheLocalApplicationDataFolder) {
    fake.env["VELA_HOME"] = "";
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(file_exists(tmp.at("appdata/Pelko")));
    EXPECT_FALSE(file_exists(home));
}

// An empty VELA_NO_SPLASH means no splash, and the run still works.
TEST_F(RunSequence, AHalfFinishedUpdateIsRepairedBeforeTheGameStartsWithoutASplash) {
    install("4");
    write_file(home + "/version.txt", "5\n");
    fake.env["VELA_NO_SPLASH"] = "";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(logged("  (repaired a half-finished update: the installed app is 4, the record said '5')\n"));
    EXPECT_LT(log.find("repaired"), log.find("launch: "));
    EXPECT_EQ(read_file(home + "/version.txt"), "4\n");
    EXPECT_TRUE(fake.threads.empty());
    EXPECT_EQ(fake.lock_enters.load(), 0);
    EXPECT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.total_sleep(), 7000u);
}

}  // namespace
