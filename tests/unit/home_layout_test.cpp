// Records, version directories and the choice of the game a run starts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/home_layout.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

class HomeLayout : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home, whome;

    void SetUp() override { use_home("home"); }
    // A fresh home directory, for each case of a table.
    void use_home(const std::string& name) {
        home = tmp.at(name);
        whome = tmp.win(name);
        make_dirs(home);
    }
    // A version directory with a game in its kestrel-core folder.
    void install(const std::string& dir, const std::string& exe = "Pelko.exe") {
        write_file(home + "/" + dir + "/kestrel-core/" + exe, "game");
    }
    std::string game_dir(const std::string& dir) const { return whome + "\\" + dir + "\\kestrel-core"; }
};

TEST_F(HomeLayout, ARecordIsItsFirstLineWithoutLineEndCutToTheBuffer) {
    auto record = [&](const char* name) {
        char out[129];
        std::memset(out, 'x', sizeof out - 1);
        out[128] = 0;
        read_record((whome + "\\" + name).c_str(), out, 128);
        return std::string(out);
    };
    EXPECT_EQ(record("missing.txt"), "");
    const std::pair<std::string, std::string> records[] = {
        {"C:\\games\\x\r\nsecond line", "C:\\games\\x"}, {"1.4\n", "1.4"}, {"", ""},
        {std::string(300, 'v') + "\n", std::string(127, 'v')}};
    for (const auto& [content, first_line] : records) {
        write_file(home + "/record.txt", content);
        EXPECT_EQ(record("record.txt"), first_line) << content;
    }
}

TEST(VersionKey, IsTheTextAfterTheLastDot) {
    const std::pair<const char*, const char*> keys[] = {{"app.1.2.10", "10"}, {"app.9", "9"}, {"app.", ""},
                                                        {"plain", "plain"}};
    for (auto [name, key] : keys) EXPECT_STREQ(version_key(name), key) << name;
}

TEST_F(HomeLayout, TheNewestGameHasTheHighestKeyAsBytesAndIsTheFirstListedAmongEquals) {
    // Files in a fresh home (a directory where the name ends in "/"), and the game found there.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"app.10/kestrel-core/Pelko.exe", "app.9/kestrel-core/Pelko.exe"}, "app.9\\kestrel-core\\Pelko.exe"},
        {{"app.3.10/kestrel-core/Pelko.exe", "app.1.2.10/kestrel-core/Pelko.exe"},
         "app.1.2.10\\kestrel-core\\Pelko.exe"},
        {{"app.2/kestrel-core/kestrel-core.exe"}, "app.2\\kestrel-core\\kestrel-core.exe"},
        // Directories without a game in kestrel-core and plain files do not count, whatever their keys.
        {{"app.x/", "app.y", "app.z/Pelko.exe"}, ""},
        {{"app.x/", "app.y", "app.z/Pelko.exe", "app.1/kestrel-core/Pelko.exe"}, "app.1\\kestrel-core\\Pelko.exe"},
    };
    int n = 0;
    for (const auto& [files, found] : cases) {
        use_home("case" + std::to_string(++n));
        for (const std::string& f : files) {
            if (f.back() == '/') make_dirs(home + "/" + f);
            else write_file(home + "/" + f, "game");
        }
        const int has = found.empty() ? 0 : 1;
        const std::string path = has ? whome + "\\" + found : "untouched";
        char out[1300] = "untouched", small[8] = "x";
        EXPECT_EQ(find_newest_game(whome.c_str(), out, sizeof out), has) << "case " << n;
        EXPECT_EQ(std::string(out), path);
        // Without a buffer it only answers; a small one gets the path cut.
        EXPECT_EQ(find_newest_game(whome.c_str(), nullptr, 0), has);
        EXPECT_EQ(find_newest_game(whome.c_str(), small, 0), has);
        EXPECT_STREQ(small, "x");
        EXPECT_EQ(find_newest_game(whome.c_str(), small, sizeof small), has);
        EXPECT_EQ(std::string(small), has ? path.substr(0, 7) : "x");
    }
}

// Only a current directory that holds Pelko.exe and a bundle version other
// than the version record's has the record put back.
TEST_F(HomeLayout, RepairPutsBackAVersionRecordAheadOfTheCurrentDirectory) {
    struct Case {
        const char* game;      // in app.4's kestrel-core, a folder if it ends in "/"; nullptr: Pelko.exe, no record
        const char* bundle;    // its version.txt; nullptr: none
        const char* recorded;  // the version record; nullptr: none
        bool unwritable;       // the version record cannot be written
        std::string log;
        const char* after;
    };
    const std::string repaired = "  (repaired a half-finished update: the installed app is 4, the record said ";
    const Case cases[] = {
        {"Pelko.exe", "4\n", "5\n", false, repaired + "'5')\n", "4\n"},
        {"Pelko.exe", "4\n", nullptr, false, repaired + "'(nothing)')\n", "4\n"},
        {"Pelko.exe", "4\n", "4\r\n", false, "", "4\r\n"},
        {nullptr, "4\n", "5\n", false, "", "5\n"},
        {"kestrel-core.exe", "4\n", "5\n", false, "", "5\n"},
        {"Pelko.exe/", "4\n", "5\n", false, "", "5\n"},
        {"Pelko.exe", nullptr, "5\n", false, "", "5\n"},
        {"Pelko.exe", "4\n", "5\n", true, "", "5\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        use_home("case" + std::to_string(++n));
        const std::string dir = home + "/app.4/kestrel-core/", game = c.game ? c.game : "Pelko.exe";
        if (game.back() == '/') make_dirs(dir + game);
        else write_file(dir + game, "game");
        if (c.bundle) write_file(dir + "version.txt", c.bundle);
        if (c.game) write_file(home + "/current.txt", game_dir("app.4"));
        if (c.recorded) write_file(home + "/version.txt", c.recorded);
        fake.fail_fopen = [unwritable = c.unwritable](const std::string& path, const std::string& mode) {
            return unwritable && mode == "w" && path.find("version.txt") != std::string::npos;
        };
        testing::internal::CaptureStdout();
        repair_version_record(whome.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log) << "case " << n;
        EXPECT_EQ(read_file(home + "/version.txt"), c.after) << "case " << n;
    }
}

// --- resolve_game

class ResolveGame : public HomeLayout {
protected:
    run_context ctx{};
    std::string log;
    int resolve(bool manifest_read = false) {
        std::snprintf(ctx.home, sizeof ctx.home, "%s", whome.c_str());
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
        testing::internal::CaptureStdout();
        int result = resolve_game(&ctx, manifest_read);
        log = testing::internal::GetCapturedStdout();
        return result;
    }
    void TearDown() override { g_splash.active.store(0); }
};

// An install from before the rename starts kestrel-core.exe.
TEST_F(ResolveGame, TheCurrentRecordNamesTheGame) {
    for (auto [exe, line] : {std::pair<std::string, std::string>{"Pelko.exe", ""},
                             {"kestrel-core.exe", "launch: pre-rename install -> using kestrel-core.exe\n"}}) {
        use_home(exe);
        install("app.7", exe);
        write_file(home + "/current.txt", game_dir("app.7"));
        EXPECT_EQ(resolve(), kRunGoesOn);
        EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.7"));
        EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.7") + "\\" + exe);
        EXPECT_EQ(std::string(ctx.patched_rom), game_dir("app.7") + "\\patched.nds");
        EXPECT_EQ(log, line);
    }
}

TEST_F(ResolveGame, WithoutACurrentRecordOrWithAnEmptyOneTheInstalledVersionNamesTheDirectory) {
    install("app.2.1");
    std::snprintf(ctx.installed_version, sizeof ctx.installed_version, "2.1");
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.2.1"));
    // Both records empty: the bare app directory.
    write_file(home + "/current.txt", "");
    install("app.");
    ctx.installed_version[0] = 0;
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_dir), whome + "\\app.\\kestrel-core");
}

// The current record is rewritten to the game found, when it can be.
TEST_F(ResolveGame, ACurrentDirectoryWithoutAGameFallsBackButKeepsItsOwnRomPath) {
    for (bool writable : {true, false}) {
        use_home(writable ? "writable" : "unwritable");
        install("app.3");
        make_dirs(home + "/app.4/kestrel-core");
        write_file(home + "/current.txt", game_dir("app.4"));
        fake.fail_fopen = [writable](const std::string& path, const std::string& mode) {
            return !writable && mode == "w" && path.find("current.txt") != std::string::npos;
        };
        EXPECT_EQ(resolve(), kRunGoesOn);
        EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.3") + "\\Pelko.exe");
        EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.4"));
        EXPECT_EQ(std::string(ctx.patched_rom), game_dir("app.4") + "\\patched.nds");
        EXPECT_EQ(log, "launch: current.txt pointed at an install with no game (" + game_dir("app.4") +
                           ") -> using " + game_dir("app.3") + "\\Pelko.exe\n");
        EXPECT_EQ(read_file(home + "/current.txt"), game_dir(writable ? "app.3" : "app.4"));
    }
}

TEST_F(ResolveGame, NoGameAnywhereEndsTheRunAfterEightSecondsOnTheSplashSayingWhatToDo) {
    const std::pair<bool, const char*> cases[] = {{false, "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION"},
                                                  {true, "GAME FILES MISSING. REOPEN TO REINSTALL."}};
    for (auto [manifest_read, line] : cases) {
        fake.sleeps.clear();
        write_file(home + "/current.txt", game_dir("app.5"));
        EXPECT_EQ(resolve(manifest_read), 1);
        EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
        EXPECT_STREQ(g_splash.line, line);
    }
}

}  // namespace
