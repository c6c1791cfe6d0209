// The launch number, safe video and the game's log files.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/game_launch.h"
#include "support.h"

namespace {

// The first argument read as the C runtime's atoi; safe video as an exact argument anywhere.
TEST(GameArguments, TheLaunchNumberIsOneToFourAndSafeVideoAnExactArgument) {
    const struct {
        std::vector<std::string> args;
        int number;
        bool safe;
    } cases[] = {
        // clang-format off
        {{}, 0, false},       {{"1"}, 1, false},           {{"4x"}, 4, false},           {{" 2"}, 2, false},
        {{"5"}, 0, false},    {{"0"}, 0, false},           {{"--url", "3"}, 0, false},   {{"--safe"}, 0, true},
        {{"3", "--safe-video"}, 3, true}, {{"--SAFE"}, 0, false}, {{"--safer"}, 0, false},
        // clang-format on
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

}  // namespace
