// The run sequence from the arguments and environment to the game start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        write_usable_rom(game + "/patched.nds");
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

TEST_F(RunSequence, NothingInstalledEndsWithExitOneAfterTheEightSecondWait) {
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(logged("one-tap: no room code -- this launch will host a fresh room\n"));
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
    EXPECT_TRUE(fake.started.empty());
    EXPECT_TRUE(file_exists(home));
}

TEST_F(RunSequence, AnInstalledClientStartsWithTheRoomOfAnInviteLink) {
    install("1.0");
    EXPECT_EQ(run({"--url", "pelko://join/wxyz"}), 0);
    EXPECT_TRUE(logged("one-tap: joining room WXYZ (source: a clicked pelko:// invite link)\n"));
    ASSERT_EQ(fake.started.size(), 1u);
    std::string game = tmp.win("home/app.1.0/kestrel-core");
    EXPECT_EQ(fake.started[0].command_line.substr(0, game.size() + 13), "\"" + game + "\\Pelko.exe\" ");
    EXPECT_NE(fake.started[0].command_line.find(" 0 "), std::string::npos);
    EXPECT_NE(fake.started[0].command_line.find("6100 --room=WXYZ"), std::string::npos);
    EXPECT_EQ(fake.total_sleep(), 7000u);
}

TEST_F(RunSequence, AnInviteFileNameGivesTheRoomWhenNoLinkDoes) {
    install("1.0");
    fake.module_path = "/dl/Pelko-Setup-AB12.exe";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(logged("one-tap: joining room AB12 (source: the name of the installer file"));
    EXPECT_NE(fake.started.at(0).command_line.find("--room=AB12"), std::string::npos);
}

TEST_F(RunSequence, ALinkWinsOverAnInviteFileName) {
    install("1.0");
    fake.module_path = "/dl/Pelko-Setup-AB12.exe";
    EXPECT_EQ(run({"pelko://join/WXYZ"}), 0);
    EXPECT_TRUE(logged("(source: a clicked pelko:// invite link)"));
    EXPECT_NE(fake.started.at(0).command_line.find("--room=WXYZ"), std::string::npos);
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

TEST_F(RunSequence, AHalfFinishedUpdateIsRepairedBeforeTheGameStarts) {
    install("4");
    write_file(home + "/version.txt", "5\n");
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(logged("  (repaired a half-finished update: the installed app is 4, the record said '5')\n"));
    EXPECT_LT(log.find("repaired"), log.find("launch: "));
    EXPECT_EQ(read_file(home + "/version.txt"), "4\n");
}

TEST_F(RunSequence, ArgumentsReachTheGameOnlyAsTheLaunchNumberAndSafeVideo) {
    install("1.0");
    EXPECT_EQ(run({"2", "--safe"}), 0);
    EXPECT_NE(fake.started.at(0).command_line.find("\" 2 "), std::string::npos);
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/softrender.txt"), "1\n");
}

TEST_F(RunSequence, NothingOfAHostileLinkButItsCodeReachesTheGame) {
    install("1.0");
    const std::vector<std::pair<std::string, std::string>> links = {
        {"pelko://join/ab12\" --safe \"x", "AB12"},
        {"pelko://join/abcd --room=EVIL", "ABCD"},
        {"pelko://join/abcd%20--safe", "ABCD"},
        {"pelko://join/%41%42%43%44", ""},
        {"pelko://join/caf\xC3\xA9" "babe", "CAF"},
        {"pelko://join/" + std::string(4000, 'q'), std::string(15, 'Q')},
        {"pelko://join/abcd&room=x'y", "ABCD"},
    };
    for (const auto& [link, code] : links) {
        fake.started.clear();
        ASSERT_EQ(run({"--url", link}), 0) << link;
        ASSERT_EQ(fake.started.size(), 1u);
        const std::string& line = fake.started[0].command_line;
        std::string tail = code.empty() ? " 6100" : " 6100 --room=" + code;
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << link;
        EXPECT_EQ(line.find("EVIL"), std::string::npos);
        EXPECT_EQ(line.find("--safe"), std::string::npos);
        EXPECT_EQ(line.find('%'), std::string::npos);
    }
}

TEST_F(RunSequence, TheSplashStartsAndAnErrorStaysOnItUntilTheProcessEnds) {
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(fake.threads.size(), 1u);
    EXPECT_TRUE(splash_is_active());
    EXPECT_STREQ(g_splash.line, "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION");
    EXPECT_EQ(g_splash.percent, -1);
    EXPECT_TRUE(fake.thread_waits.empty()) << "only the game start closes the splash";
}

TEST_F(RunSequence, AGameStartClosesTheSplash) {
    install("1.0");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(fake.threads.size(), 1u);
    EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
    EXPECT_FALSE(splash_is_active());
}

TEST_F(RunSequence, AnEmptyVelaNoSplashMeansNoSplashAndTheRunStillWorks) {
    install("1.0");
    fake.env["VELA_NO_SPLASH"] = "";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(fake.threads.empty());
    EXPECT_EQ(fake.lock_enters.load(), 0);
    EXPECT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.total_sleep(), 7000u);
}

}  // namespace
