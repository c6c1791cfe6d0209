// Starting the game: its arguments, environment, log files and the waits.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "build_config.h"
#include "core/game_launch.h"
#include "peer_tools.h"
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

TEST(GameArguments, TheLaunchNumberIsAFirstArgumentReadingOneToFourSafeVideoAnExactArgumentAnywhere) {
    const struct {
        std::vector<std::string> args;
        int number;
        bool safe;
    } cases[] = {
        {{}, 0, false}, {{"1"}, 1, false}, {{"4x"}, 4, false}, {{" 2"}, 2, false}, {{"7"}, 0, false},
        {{"0"}, 0, false}, {{"abc"}, 0, false}, {{"--url", "3"}, 0, false}, {{"pelko://join/abcd"}, 0, false},
        {{"--safe"}, 0, true}, {{"3", "--safe-video"}, 3, true}, {{"pelko://join/abcd", "x", "--safe"}, 0, true},
        {{"--SAFE"}, 0, false}, {{"--safe-video=1"}, 0, false}, {{"--safer"}, 0, false},
    };
    for (const auto& c : cases) {
        Args a(c.args);
        EXPECT_EQ(launch_number(a.argc(), a.data()), c.number) << testing::PrintToString(c.args);
        EXPECT_EQ(safe_video_requested(a.argc(), a.data()), c.safe) << testing::PrintToString(c.args);
    }
}

run_context context(const std::string& home, const std::string& game) {
    run_context ctx{};
    std::snprintf(ctx.home, sizeof ctx.home, "%s", home.c_str());
    std::snprintf(ctx.game_dir, sizeof ctx.game_dir, "%s", game.c_str());
    std::snprintf(ctx.game_exe, sizeof ctx.game_exe, "%s\\Pelko.exe", game.c_str());
    std::snprintf(ctx.patched_rom, sizeof ctx.patched_rom, "%s\\patched.nds", game.c_str());
    return ctx;
}

TEST(GameCommandLine, QuotesThePathsAndEndsWithThePortOrTheRoom) {
    run_context ctx = context("C:\\h", "C:\\h\\app.1\\kestrel-core");
    const std::string paths = "\"C:\\h\\app.1\\kestrel-core\\Pelko.exe\" \"C:\\h\\app.1\\kestrel-core\\patched.nds\" "
                              "\"C:\\h\\app.1\\kestrel-core\" ";
    char line[kCommandLineSize];
    compose_game_command_line(line, sizeof line, ctx, 0);
    EXPECT_EQ(std::string(line), paths + "0 " PELKO_GAME_SERVER " 6100");
    std::snprintf(ctx.room_code, sizeof ctx.room_code, "ABCD");
    compose_game_command_line(line, sizeof line, ctx, 3);
    EXPECT_EQ(std::string(line), paths + "3 " PELKO_GAME_SERVER " 6100 --room=ABCD");
}

using Files = std::map<std::string, std::string>;

// The files of a home directory that held `before` after a rotation. A file
// named `locked` can be neither moved nor deleted, as when a running game
// holds it open.
Files rotated(const Files& before, const std::string& locked = "") {
    TempDir home;
    FakePlatform fake;
    for (const auto& [name, content] : before) write_file(home.at(name), content);
    auto is_locked = [&](const std::string& path) { return !locked.empty() && path.find(locked) != std::string::npos; };
    fake.fail_move = [&](const std::string& from, const std::string&) { return is_locked(from); };
    fake.fail_delete = is_locked;
    rotate_game_logs(home.path().c_str());
    return snapshot_tree(home.path());
}

TEST(GameLogs, SevenRunsAreKeptWithACopyOfTheLastAndGapsAndLockedFilesAreSkipped) {
    EXPECT_EQ(rotated({}), Files{});
    EXPECT_EQ(rotated({{"game.log", "run A"}}), (Files{{"game.1.log", "run A"}, {"game.prev.log", "run A"}}));
    Files full = {{"game.log", "current"}, {"game.prev.log", "stale"}};
    Files moved_up = {{"game.1.log", "current"}, {"game.prev.log", "current"}};
    for (int n = 1; n <= 7; ++n) {
        full["game." + std::to_string(n) + ".log"] = "log " + std::to_string(n);
        if (n < 7) moved_up["game." + std::to_string(n + 1) + ".log"] = "log " + std::to_string(n);
    }
    EXPECT_EQ(rotated(full), moved_up);
    EXPECT_EQ(rotated({{"game.log", "current"}, {"game.3.log", "three"}}, "game.3.log"),
              (Files{{"game.1.log", "current"}, {"game.3.log", "three"}, {"game.prev.log", "current"}}));
}

class StartGame : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home"), game = home + "/app.1/kestrel-core";
    run_context ctx = context(tmp.win("home"), tmp.win("home/app.1/kestrel-core"));
    std::string log;
    void SetUp() override {
        make_dirs(game);
        splash_state_clear();
    }
    int start(std::vector<std::string> args) {
        Args a(std::move(args));
        testing::internal::CaptureStdout();
        int code = start_game(ctx, a.argc(), a.data());
        log = testing::internal::GetCapturedStdout();
        return code;
    }
};

TEST_F(StartGame, SetsTheEnvironmentLogsTheLineStartsTheGameIntoAFreshGameLogAndWaits) {
    write_file(home + "/game.log", "previous run");
    std::snprintf(ctx.room_code, sizeof ctx.room_code, "WXYZ");
    EXPECT_EQ(start({"2", "--SAFE"}), 0);
    EXPECT_EQ(fake.putenvs,
              (std::vector<std::string>{"VELA_NOOPEN=1", "VELA_STREAM=8199", "PELKO_VIA_UPDATER=1", "VELA_NATIVE=1"}));
    ASSERT_EQ(fake.started.size(), 1u);
    char expected[kCommandLineSize];
    compose_game_command_line(expected, sizeof expected, ctx, 2);
    EXPECT_EQ(fake.started[0].command_line, expected);
    EXPECT_EQ(log, std::string("launch: ") + expected + "\n");
    EXPECT_TRUE(fake.started[0].options.inherit_handles);
    EXPECT_TRUE(fake.started[0].options.no_window);
    EXPECT_NE(fake.started[0].options.output, nullptr);
    EXPECT_EQ(read_file(home + "/game.1.log"), "previous run");
    EXPECT_TRUE(file_exists(home + "/game.log"));
    EXPECT_EQ(read_file(home + "/game.log"), "");
    EXPECT_FALSE(file_exists(game + "/softrender.txt"));
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
    // Without a splash the launch never touches it.
    EXPECT_EQ(fake.lock_enters.load(), 0);
    EXPECT_TRUE(fake.thread_waits.empty());
    EXPECT_STREQ(g_splash.line, "");
}

TEST_F(StartGame, WebModeLeavesOutVelaNative) {
    fake.env["PELKO_WEB"] = "";
    start({});
    EXPECT_EQ(fake.putenvs, (std::vector<std::string>{"VELA_NOOPEN=1", "VELA_STREAM=8199", "PELKO_VIA_UPDATER=1"}));
}

// A game log that cannot be made leaves the game nothing to inherit.
TEST_F(StartGame, WithoutAGameLogOrWhenTheGameCannotStartTheRunEndsTheSameWay) {
    for (bool log_fails : {true, false}) {
        fake.started.clear();
        fake.sleeps.clear();
        fake.fail_create_output = [log_fails](const std::string&) { return log_fails; };
        fake.start_succeeds = log_fails;
        EXPECT_EQ(start({}), 0);
        ASSERT_EQ(fake.started.size(), 1u);
        EXPECT_EQ(fake.started[0].options.inherit_handles, !log_fails);
        EXPECT_EQ(fake.started[0].options.output == nullptr, log_fails);
        EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
    }
}

TEST_F(StartGame, SafeVideoWritesSoftrenderTxtOrLogsThatItCouldNotAndTheLaunchGoesOn) {
    const std::string path = tmp.win("home/app.1/kestrel-core/softrender.txt");
    for (bool writable : {false, true}) {
        fake.started.clear();
        fake.fail_fopen = [writable](const std::string& p, const std::string&) {
            return !writable && p.find("softrender.txt") != std::string::npos;
        };
        EXPECT_EQ(start({"3", writable ? "--safe" : "--safe-video"}), 0);
        ASSERT_EQ(fake.started.size(), 1u);
        EXPECT_NE(fake.started[0].command_line.find("\" 3 "), std::string::npos);
        EXPECT_EQ(log, "launch: " + fake.started[0].command_line + "\n" +
                           (writable ? "safe video: wrote " + path + " -- the game will use the software renderer\n"
                                     : "safe video: could NOT write " + path + "\n"));
        EXPECT_EQ(read_file(game + "/softrender.txt"), writable ? "1\n" : "");
    }
}

// While a splash runs, the game's start is announced with the only full bar
// of the run, and the splash is closed 400 ms after the start, before the
// last wait.
TEST_F(StartGame, WithASplashTheBarIsFullBeforeTheGameAndTheSplashClosesBeforeTheLastWait) {
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

}  // namespace
