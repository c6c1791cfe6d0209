// Starting the game: the launch number, the log files and what a failed step
// leaves of the start.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/game_launch.h"
#include "splash/splash.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

std::vector<char*> argv_of(std::vector<std::string>& args) {
    args.insert(args.begin(), "Pelko-Setup.exe");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    return argv;
}

// The first argument read as the C runtime's atoi; safe video as an exact argument anywhere.
TEST(GameArguments, TheLaunchNumberIsOneToFourAndSafeVideoAnExactArgument) {
    const struct {
        std::vector<std::string> args;
        int number;
        bool safe;
    } cases[] = {
        {{}, 0, false},       {{"1"}, 1, false},           {{"4x"}, 4, false},           {{" 2"}, 2, false},
        {{"5"}, 0, false},    {{"0"}, 0, false},           {{"--url", "3"}, 0, false},   {{"--safe"}, 0, true},
        {{"3", "--safe-video"}, 3, true}, {{"--SAFE"}, 0, false}, {{"--safer"}, 0, false},
    };
    for (auto c : cases) {
        std::vector<char*> argv = argv_of(c.args);
        EXPECT_EQ(launch_number(static_cast<int>(argv.size()), argv.data()), c.number) << c.args.back();
        EXPECT_EQ(safe_video_requested(static_cast<int>(argv.size()), argv.data()), c.safe) << c.args.back();
    }
}

using Files = std::map<std::string, std::string>;

// The files of a home that held `before` after a rotation. A file whose name
// contains `locked` can be neither moved nor deleted, as when a running game
// holds it open.
Files rotated(const Files& before, const std::string& locked = "") {
    TempDir home;
    FakePlatform fake;
    for (const auto& [name, content] : before) write_file(home.at(name), content);
    fake.fail = [&](const std::string& op, const std::string& path) {
        return !locked.empty() && (op == "move" || op == "delete") && path.find(locked) != std::string::npos;
    };
    rotate_game_logs(home.path().c_str());
    return files_below(home.path());
}

TEST(GameLogs, SevenRunsAreKeptWithACopyOfTheLastAndGapsAndLockedFilesAreSkipped) {
    EXPECT_EQ(rotated({}), Files{});
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

class StartGame : public LauncherTest {
protected:
    run_context ctx{};
    void SetUp() override {
        LauncherTest::SetUp();
        install("1");
        std::snprintf(ctx.home, sizeof ctx.home, "%s", tmp.win("home").c_str());
        std::snprintf(ctx.game_dir, sizeof ctx.game_dir, "%s", game_dir("1").c_str());
        std::snprintf(ctx.game_exe, sizeof ctx.game_exe, "%s\\Pelko.exe", ctx.game_dir);
        std::snprintf(ctx.patched_rom, sizeof ctx.patched_rom, "%s\\patched.nds", ctx.game_dir);
    }
    int start(std::vector<std::string> args) {
        std::vector<char*> argv = argv_of(args);
        testing::internal::CaptureStdout();
        int code = start_game(ctx, static_cast<int>(argv.size()), argv.data());
        log = testing::internal::GetCapturedStdout();
        return code;
    }
};

// The game's output goes to a fresh game.log it inherits; without one it
// inherits nothing. Whether it started changes nothing of the run's end.
TEST_F(StartGame, TheGameWritesIntoAFreshLogAndTheRunEndsTheSameWhateverFails) {
    for (bool fails : {false, true}) {
        write_file(home + "/game.log", "previous run");
        fake.started.clear(), fake.sleeps.clear();
        fake.fail = [fails](const std::string& op, const std::string&) { return fails && op == "create_output"; };
        fake.start_succeeds = !fails;
        EXPECT_EQ(start({}), 0);
        ASSERT_EQ(fake.started.size(), 1u);
        EXPECT_EQ(log, "launch: " + fake.started[0].command_line + "\n");
        const plat_start_options& o = fake.started[0].options;
        EXPECT_EQ(o.inherit_handles, !fails);
        EXPECT_EQ(o.output != nullptr, !fails);
        EXPECT_TRUE(o.no_window);
        EXPECT_EQ(read_file(home + "/game.1.log"), "previous run");
        EXPECT_EQ(file_exists(home + "/game.log"), !fails);
        EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
    }
}

TEST_F(StartGame, SafeVideoThatCannotBeWrittenIsLoggedAndTheGameStillStarts) {
    fake.fail = [](const std::string&, const std::string& path) { return path.find("softrender") != path.npos; };
    EXPECT_EQ(start({"--safe"}), 0);
    EXPECT_EQ(log, "launch: " + fake.started.at(0).command_line + "\nsafe video: could NOT write " + game_dir("1") +
                       "\\softrender.txt\n");
    fake.fail = nullptr;
    EXPECT_EQ(start({"--safe"}), 0);
    EXPECT_TRUE(logged("\nsafe video: wrote " + game_dir("1") +
                       "\\softrender.txt -- the game will use the software renderer\n"));
}

// While a splash runs, the only full bar of the run shows before the game
// starts; without one the start never touches the splash.
TEST_F(StartGame, WithASplashTheBarIsFullBeforeTheGame) {
    for (bool splash : {false, true}) {
        if (splash) splash_start();
        std::string line_at_start = "none";
        fake.fail = [&](const std::string& op, const std::string&) {
            if (op == "create_output") line_at_start = g_splash.line + std::to_string(g_splash.percent);
            return false;
        };
        EXPECT_EQ(start({}), 0);
        EXPECT_EQ(line_at_start, splash ? "READY - STARTING THE GAME100" : "0");
        EXPECT_EQ(fake.lock_enters.load() > 0, splash);
        EXPECT_EQ(fake.lock_retires.load(), splash ? 1 : 0);
        EXPECT_FALSE(splash_is_active());
    }
}

}  // namespace
