// Starting the game: its arguments, environment, log files and the waits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "build_config.h"
#include "core/game_launch.h"
#include "splash/splash.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

struct Args {
    std::vector<std::string> text;
    std::vector<char*> argv;
    explicit Args(std::vector<std::string> args) : text(std::move(args)) {
        text.insert(text.begin(), "Pelko-Setup.exe");
        for (auto& a : text) argv.push_back(&a[0]);
    }
    int argc() const { return static_cast<int>(argv.size()); }
    char** data() { return argv.data(); }
};

int number(std::vector<std::string> args) {
    Args a(std::move(args));
    return launch_number(a.argc(), a.data());
}

bool safe(std::vector<std::string> args) {
    Args a(std::move(args));
    return safe_video_requested(a.argc(), a.data());
}

TEST(LaunchNumber, OnlyAFirstArgumentReadingOneToFourCounts) {
    EXPECT_EQ(number({}), 0);
    EXPECT_EQ(number({"3"}), 3);
    EXPECT_EQ(number({"1"}), 1);
    EXPECT_EQ(number({"4x"}), 4);
    EXPECT_EQ(number({" 2"}), 2);
    EXPECT_EQ(number({"7"}), 0);
    EXPECT_EQ(number({"0"}), 0);
    EXPECT_EQ(number({"abc"}), 0);
    EXPECT_EQ(number({"--url", "3"}), 0);
    EXPECT_EQ(number({"pelko://join/abcd"}), 0);
}

TEST(SafeVideo, OnlyTheExactArgumentsInAnyPositionCount) {
    EXPECT_TRUE(safe({"--safe"}));
    EXPECT_TRUE(safe({"3", "--safe-video"}));
    EXPECT_TRUE(safe({"pelko://join/abcd", "x", "--safe"}));
    EXPECT_FALSE(safe({"--SAFE"}));
    EXPECT_FALSE(safe({"--safe-video=1"}));
    EXPECT_FALSE(safe({"--safer"}));
    EXPECT_FALSE(safe({}));
}

run_context context(const std::string& home, const std::string& game, const char* room = "") {
    run_context ctx{};
    std::snprintf(ctx.home, sizeof ctx.home, "%s", home.c_str());
    std::snprintf(ctx.game_dir, sizeof ctx.game_dir, "%s", game.c_str());
    std::snprintf(ctx.game_exe, sizeof ctx.game_exe, "%s\\Pelko.exe", game.c_str());
    std::snprintf(ctx.patched_rom, sizeof ctx.patched_rom, "%s\\patched.nds", game.c_str());
    std::snprintf(ctx.room_code, sizeof ctx.room_code, "%s", room);
    return ctx;
}

TEST(GameCommandLine, QuotesThePathsAndEndsWithThePortOrTheRoom) {
    run_context ctx = context("C:\\h", "C:\\h\\app.1\\kestrel-core");
    char line[kCommandLineSize];
    compose_game_command_line(line, sizeof line, ctx, 0);
    EXPECT_EQ(std::string(line), std::string("\"C:\\h\\app.1\\kestrel-core\\Pelko.exe\" "
                                             "\"C:\\h\\app.1\\kestrel-core\\patched.nds\" "
                                             "\"C:\\h\\app.1\\kestrel-core\" 0 ") +
                                     PELKO_GAME_SERVER + " 6100");
    std::snprintf(ctx.room_code, sizeof ctx.room_code, "ABCD");
    compose_game_command_line(line, sizeof line, ctx, 3);
    EXPECT_NE(std::string(line).find("\" 3 " PELKO_GAME_SERVER " 6100 --room=ABCD"), std::string::npos);
    EXPECT_EQ(std::string(line).substr(std::string(line).size() - 16), "6100 --room=ABCD");
}

class Logs : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home");
    void SetUp() override { make_dirs(home); }
};

TEST_F(Logs, WithOnlyGameLogItBecomesTheFirstAndThePreviousCopy) {
    write_file(home + "/game.log", "run A");
    rotate_game_logs(tmp.win("home").c_str());
    EXPECT_FALSE(file_exists(home + "/game.log"));
    EXPECT_EQ(read_file(home + "/game.1.log"), "run A");
    EXPECT_EQ(read_file(home + "/game.prev.log"), "run A");
    EXPECT_FALSE(file_exists(home + "/game.2.log"));
}

TEST_F(Logs, WithSevenKeptLogsTheOldestGoesAndEveryOtherMovesUp) {
    write_file(home + "/game.log", "current");
    for (int n = 1; n <= 7; ++n) write_file(home + "/game." + std::to_string(n) + ".log", "log " + std::to_string(n));
    write_file(home + "/game.prev.log", "stale");
    rotate_game_logs(tmp.win("home").c_str());
    EXPECT_EQ(read_file(home + "/game.1.log"), "current");
    for (int n = 2; n <= 7; ++n)
        EXPECT_EQ(read_file(home + "/game." + std::to_string(n) + ".log"), "log " + std::to_string(n - 1));
    EXPECT_EQ(read_file(home + "/game.prev.log"), "current");
    EXPECT_FALSE(file_exists(home + "/game.log"));
}

TEST_F(Logs, GapsAndLockedFilesAreSkipped) {
    write_file(home + "/game.log", "current");
    write_file(home + "/game.3.log", "three");
    // A file held open by a running game can be neither moved nor deleted.
    fake.fail_move = [](const std::string& from, const std::string&) {
        return from.find("game.3.log") != std::string::npos;
    };
    fake.fail_delete = [](const std::string& path) { return path.find("game.3.log") != std::string::npos; };
    rotate_game_logs(tmp.win("home").c_str());
    EXPECT_EQ(read_file(home + "/game.3.log"), "three");
    EXPECT_FALSE(file_exists(home + "/game.4.log"));
    EXPECT_EQ(read_file(home + "/game.1.log"), "current");
    EXPECT_EQ(read_file(home + "/game.prev.log"), "current");
}

TEST_F(Logs, NoLogsAtAllIsFine) {
    rotate_game_logs(tmp.win("home").c_str());
    EXPECT_FALSE(file_exists(home + "/game.1.log"));
    EXPECT_FALSE(file_exists(home + "/game.prev.log"));
}

class StartGame : public Logs {
protected:
    std::string game = home + "/app.1/kestrel-core";
    run_context ctx = context(tmp.win("home"), tmp.win("home/app.1/kestrel-core"));
    std::string log;
    int start(std::vector<std::string> args) {
        make_dirs(game);
        Args a(std::move(args));
        testing::internal::CaptureStdout();
        int code = start_game(ctx, a.argc(), a.data());
        log = testing::internal::GetCapturedStdout();
        return code;
    }
};

TEST_F(StartGame, SetsTheEnvironmentLogsTheLineAndWaitsBeforeEnding) {
    std::snprintf(ctx.room_code, sizeof ctx.room_code, "WXYZ");
    EXPECT_EQ(start({"2"}), 0);
    EXPECT_EQ(fake.putenvs,
              (std::vector<std::string>{"VELA_NOOPEN=1", "VELA_STREAM=8199", "PELKO_VIA_UPDATER=1", "VELA_NATIVE=1"}));
    ASSERT_EQ(fake.started.size(), 1u);
    char expected[kCommandLineSize];
    compose_game_command_line(expected, sizeof expected, ctx, 2);
    EXPECT_EQ(fake.started[0].command_line, expected);
    EXPECT_EQ(log, std::string("launch: ") + expected + "\n");
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
}

TEST_F(StartGame, WebModeLeavesOutVelaNative) {
    fake.env["PELKO_WEB"] = "";
    start({});
    EXPECT_EQ(fake.putenvs, (std::vector<std::string>{"VELA_NOOPEN=1", "VELA_STREAM=8199", "PELKO_VIA_UPDATER=1"}));
}

TEST_F(StartGame, TheGameWritesIntoAFreshGameLogWithNoWindowAndInheritedHandles) {
    write_file(home + "/game.log", "previous run");
    start({});
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_TRUE(fake.started[0].options.inherit_handles);
    EXPECT_TRUE(fake.started[0].options.no_window);
    EXPECT_NE(fake.started[0].options.output, nullptr);
    EXPECT_EQ(read_file(home + "/game.1.log"), "previous run");
    EXPECT_TRUE(file_exists(home + "/game.log"));
    EXPECT_EQ(read_file(home + "/game.log"), "");
}

TEST_F(StartGame, WithoutAGameLogTheGameStillStartsButInheritsNothing) {
    fake.fail_create_output = [](const std::string&) { return true; };
    EXPECT_EQ(start({}), 0);
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_FALSE(fake.started[0].options.inherit_handles);
    EXPECT_EQ(fake.started[0].options.output, nullptr);
    EXPECT_EQ(fake.total_sleep(), 7000u);
}

TEST_F(StartGame, AGameThatCannotStartEndsTheRunTheSameWay) {
    fake.start_succeeds = false;
    EXPECT_EQ(start({}), 0);
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
}

TEST_F(StartGame, SafeVideoWritesSoftrenderTxt) {
    EXPECT_EQ(start({"3", "--safe"}), 0);
    EXPECT_EQ(read_file(game + "/softrender.txt"), "1\n");
    std::string path = tmp.win("home/app.1/kestrel-core/softrender.txt");
    EXPECT_NE(log.find("safe video: wrote " + path + " -- the game will use the software renderer\n"),
              std::string::npos);
    EXPECT_NE(fake.started.at(0).command_line.find("\" 3 "), std::string::npos);
}

TEST_F(StartGame, AnUnwritableSafeVideoFileIsLoggedAndTheLaunchGoesOn) {
    fake.fail_fopen = [](const std::string& path, const std::string&) {
        return path.find("softrender.txt") != std::string::npos;
    };
    EXPECT_EQ(start({"--safe-video"}), 0);
    std::string path = tmp.win("home/app.1/kestrel-core/softrender.txt");
    EXPECT_NE(log.find("safe video: could NOT write " + path + "\n"), std::string::npos);
    EXPECT_EQ(fake.started.size(), 1u);
}

TEST_F(StartGame, WithoutTheArgumentNoSoftrenderFileIsWritten) {
    start({"--SAFE"});
    EXPECT_FALSE(file_exists(game + "/softrender.txt"));
}

// While a splash runs, the game's start is announced with the only full bar
// of the run, and the splash is closed 400 ms after the start, before the
// last wait.
TEST_F(StartGame, WithASplashTheBarIsFullBeforeTheGameAndTheSplashClosesBeforeTheLastWait) {
    splash_state_clear();
    splash_start();
    std::string line_at_start;
    int32_t percent_at_start = 0;
    fake.fail_create_output = [&](const std::string&) {
        line_at_start = g_splash.line;
        percent_at_start = g_splash.percent;
        return false;
    };
    EXPECT_EQ(start({}), 0);
    EXPECT_EQ(line_at_start, "READY - STARTING THE GAME");
    EXPECT_EQ(percent_at_start, 100);
    EXPECT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
    EXPECT_EQ(fake.sleeps_before_thread_wait, std::vector<size_t>{2}) << "after the 600 and 400 ms waits";
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
    EXPECT_FALSE(splash_is_active());
    EXPECT_EQ(fake.lock_retires.load(), 1);
}

TEST_F(StartGame, WithoutASplashTheLaunchNeverTouchesTheSplash) {
    splash_state_clear();
    EXPECT_EQ(start({}), 0);
    EXPECT_EQ(fake.lock_enters.load(), 0);
    EXPECT_TRUE(fake.thread_waits.empty());
    EXPECT_STREQ(g_splash.line, "");
}

}  // namespace
