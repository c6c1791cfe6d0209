// Records, version directories and the choice of the game a run starts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/home_layout.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

class Home : public LauncherTest {
protected:
    std::string whome = tmp.win("home");
    // A fresh home directory, for each row of a table.
    void use_home(const std::string& name) {
        home = tmp.at(name);
        whome = tmp.win(name);
        make_dirs(home);
    }
    // Files (a directory where the name ends in "/") below the home.
    void add(const std::vector<std::string>& files) {
        for (const std::string& f : files)
            f.back() == '/' ? make_dirs(home + "/" + f) : write_file(home + "/" + f, "x");
    }
};

// A record is its first line, cut to the buffer; one that is not UTF-8 was
// written by an earlier build in the legacy code page (natively ISO 8859-1).
TEST_F(Home, ARecordIsItsFirstLineCutToTheBufferInUtf8) {
    const std::pair<std::string, std::string> records[] = {{"1.4\r\nsecond", "1.4"},
                                                           {std::string(300, 'v'), std::string(127, 'v')},
                                                           {"C:\\Jos\xC3\xA9\n", "C:\\Jos\xC3\xA9"},
                                                           {"C:\\Jos\xE9\n", "C:\\Jos\xC3\xA9"}};
    for (const auto& [content, first_line] : records) {
        char out[128];
        write_file(tmp.at("record.txt"), content);
        read_record(tmp.win("record.txt").c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), first_line);
    }
}

// Version keys are the text after the last dot, compared as bytes.
TEST_F(Home, TheNewestGameHasTheHighestKeyAndIsTheFirstListedAmongEquals) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"app.10/kestrel-core/Pelko.exe", "app.9/kestrel-core/Pelko.exe"}, "app.9\\kestrel-core\\Pelko.exe"},
        {{"app.3.10/kestrel-core/Pelko.exe", "app.1.2.10/kestrel-core/Pelko.exe"},
         "app.1.2.10\\kestrel-core\\Pelko.exe"},
        {{"app.2/kestrel-core/kestrel-core.exe"}, "app.2\\kestrel-core\\kestrel-core.exe"},
        // A folder named Pelko.exe counts; among equal keys the first listed stays.
        {{"app.2.5/kestrel-core/Pelko.exe", "app.1.5/kestrel-core/Pelko.exe/"}, "app.1.5\\kestrel-core\\Pelko.exe"},
        // An empty key never beats nothing; folders without a game and files do not count.
        {{"app./kestrel-core/Pelko.exe", "app.x/", "app.y", "app.z/Pelko.exe"}, ""},
    };
    int n = 0;
    for (const auto& [files, found] : cases) {
        use_home("case" + std::to_string(++n));
        add(files);
        char out[1300] = "untouched", small[8] = "x";
        EXPECT_EQ(find_newest_game(whome.c_str(), out, sizeof out), found.empty() ? 0 : 1) << n;
        EXPECT_EQ(std::string(out), found.empty() ? "untouched" : whome + "\\" + found) << n;
        if (found.empty()) continue;
        EXPECT_EQ(find_newest_game(whome.c_str(), nullptr, 0), 1);
        EXPECT_EQ(find_newest_game(whome.c_str(), small, sizeof small), 1);
        EXPECT_EQ(std::string(small), whome.substr(0, 7));
    }
}

// Only a current directory that holds Pelko.exe and a bundle version other
// than the version record's has the record put back.
TEST_F(Home, RepairPutsBackAVersionRecordAheadOfTheCurrentDirectory) {
    const std::string repaired = "  (repaired a half-finished update: the installed app is 4, the record said ";
    const struct {
        const char* game;      // in app.4\kestrel-core ("/": a folder); the current record names it
        const char* bundle;    // its version.txt, or none
        const char* recorded;  // the version record, or none
        bool unwritable;
        std::string log;
        const char* after;
    } cases[] = {
        {"Pelko.exe", "4\n", "5\n", false, repaired + "'5')\n", "4\n"},
        {"Pelko.exe", "4\n", nullptr, false, repaired + "'(nothing)')\n", "4\n"},
        {"Pelko.exe", "4\n", "4\r\n", false, "", "4\r\n"},
        {"kestrel-core.exe", "4\n", "5\n", false, "", "5\n"},
        {"Pelko.exe/", "4\n", "5\n", false, "", "5\n"},
        {"Pelko.exe", nullptr, "5\n", false, "", "5\n"},
        {"Pelko.exe", "4\n", "5\n", true, "", "5\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        use_home("case" + std::to_string(++n));
        add({std::string("app.4/kestrel-core/") + c.game});
        if (c.bundle) write_file(home + "/app.4/kestrel-core/version.txt", c.bundle);
        write_file(home + "/current.txt", whome + "\\app.4\\kestrel-core");
        if (c.recorded) write_file(home + "/version.txt", c.recorded);
        fake.fail = [&c](const std::string& op, const std::string&) { return c.unwritable && op == "fopen w"; };
        testing::internal::CaptureStdout();
        repair_version_record(whome.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log) << n;
        EXPECT_EQ(read_file(home + "/version.txt"), c.after ? c.after : "") << n;
    }
}

// The game directory comes from the current record, else from the installed
// version; a directory without a game falls back to the newest game, which
// the current record then names, while this run keeps its own ROM path.
TEST_F(Home, ResolveGameFindsTheGameOrEndsTheRun) {
    const struct {
        std::vector<std::string> files;
        const char* current;  // the current record, or none
        bool manifest_read;
        int result;
        std::string dir, exe, log, current_after, line;
    } cases[] = {
        // clang-format off
        {{"app.7/kestrel-core/Pelko.exe"}, "app.7", false, kRunGoesOn, "app.7", "app.7", "", "app.7", ""},
        {{"app.7/kestrel-core/kestrel-core.exe"}, "app.7", false, kRunGoesOn, "app.7", "app.7",
         "launch: pre-rename install -> using kestrel-core.exe\n", "app.7", ""},
        {{"app.2.1/kestrel-core/Pelko.exe"}, nullptr, false, kRunGoesOn, "app.2.1", "app.2.1", "", "", ""},
        {{"app.3/kestrel-core/Pelko.exe", "app.4/kestrel-core/"}, "app.4", false, kRunGoesOn, "app.4", "app.3",
         "fallback", "app.3", ""},
        {{}, "app.5", false, 1, "", "", "", "app.5", "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION"},
        {{}, "app.5", true, 1, "", "", "", "app.5", "GAME FILES MISSING. REOPEN TO REINSTALL."},
        // clang-format on
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(++n);
        use_home("case" + std::to_string(n));
        add(c.files);
        auto dir = [&](const std::string& version) { return whome + "\\" + version + "\\kestrel-core"; };
        if (c.current) write_file(home + "/current.txt", dir(c.current));
        fake.sleeps.clear();
        run_context ctx{};
        std::snprintf(ctx.home, sizeof ctx.home, "%s", whome.c_str());
        std::snprintf(ctx.installed_version, sizeof ctx.installed_version, "2.1");
        show_splash();
        testing::internal::CaptureStdout();
        EXPECT_EQ(resolve_game(&ctx, c.manifest_read), c.result);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(read_file(home + "/current.txt"), c.current_after[0] ? dir(c.current_after) : "");
        EXPECT_STREQ(g_splash.line, c.line.c_str());
        if (c.result == 1) {
            EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
            continue;
        }
        const std::string exe =
            dir(c.exe) +
            (c.files[0].find("kestrel-core.exe") != std::string::npos ? "\\kestrel-core.exe" : "\\Pelko.exe");
        EXPECT_EQ(ctx.game_dir, dir(c.dir));
        EXPECT_EQ(ctx.game_exe, exe);
        EXPECT_EQ(ctx.patched_rom, dir(c.dir) + "\\patched.nds");
        EXPECT_EQ(out, c.log != "fallback" ? c.log
                                           : "launch: current.txt pointed at an install with no game (" + dir(c.dir) +
                                                 ") -> using " + exe + "\n");
    }
}

}  // namespace
