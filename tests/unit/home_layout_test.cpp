// Records, version directories and the choice of the game a run starts.
#include <gtest/gtest.h>

#include <string>

#include "core/home_layout.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

class HomeLayout : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home");
    std::string whome = tmp.win("home");

    void SetUp() override { make_dirs(home); }

    // A version directory with a game in its kestrel-core folder.
    void install(const std::string& dir, const std::string& exe = "Pelko.exe") {
        write_file(home + "/" + dir + "/kestrel-core/" + exe, "game");
    }
    std::string game_dir(const std::string& dir) const { return whome + "\\" + dir + "\\kestrel-core"; }
    std::string newest() {
        char out[1300] = "untouched";
        if (!find_newest_game(whome.c_str(), out, sizeof out)) return "";
        return out;
    }
    std::string record(const std::string& name) {
        char out[1200];
        read_record((whome + "\\" + name).c_str(), out, sizeof out);
        return out;
    }
};

TEST_F(HomeLayout, RecordsReadAsTheirFirstLineWithoutLineEnd) {
    write_file(home + "/current.txt", "C:\\games\\x\r\nsecond line");
    EXPECT_EQ(record("current.txt"), "C:\\games\\x");
    write_file(home + "/version.txt", "1.4\n");
    EXPECT_EQ(record("version.txt"), "1.4");
    write_file(home + "/empty.txt", "");
    EXPECT_EQ(record("empty.txt"), "");
    EXPECT_EQ(record("missing.txt"), "");
}

TEST_F(HomeLayout, ARecordIsCutToItsBuffer) {
    write_file(home + "/version.txt", std::string(300, 'v') + "\n");
    char out[128];
    read_record((whome + "\\version.txt").c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(127, 'v'));
}

TEST(VersionKey, IsTheTextAfterTheLastDot) {
    EXPECT_STREQ(version_key("app.1.2.10"), "10");
    EXPECT_STREQ(version_key("app.3.10"), "10");
    EXPECT_STREQ(version_key("app.9"), "9");
    EXPECT_STREQ(version_key("app."), "");
    EXPECT_STREQ(version_key("plain"), "plain");
}

TEST_F(HomeLayout, VersionKeysRankAsBytesSoNineBeatsTen) {
    install("app.10");
    install("app.9");
    EXPECT_EQ(newest(), game_dir("app.9") + "\\Pelko.exe");
}

TEST_F(HomeLayout, AmongEqualKeysTheFirstListedWins) {
    install("app.3.10");
    install("app.1.2.10");
    EXPECT_EQ(newest(), game_dir("app.1.2.10") + "\\Pelko.exe");
}

TEST_F(HomeLayout, AnOlderInstallWithOnlyKestrelCoreExeIsFound) {
    install("app.2", "kestrel-core.exe");
    EXPECT_EQ(newest(), game_dir("app.2") + "\\kestrel-core.exe");
}

TEST_F(HomeLayout, DirectoriesWithoutAGameAndPlainFilesAreIgnored) {
    make_dirs(home + "/app.x");
    write_file(home + "/app.y", "not a directory");
    write_file(home + "/app.z/Pelko.exe", "flat layouts are not scanned");
    EXPECT_EQ(newest(), "");
    install("app.1");
    EXPECT_EQ(newest(), game_dir("app.1") + "\\Pelko.exe");
}

TEST_F(HomeLayout, FindNewestGameOnlyAnswersWithoutABuffer) {
    EXPECT_EQ(find_newest_game(whome.c_str(), nullptr, 0), 0);
    install("app.1");
    EXPECT_EQ(find_newest_game(whome.c_str(), nullptr, 0), 1);
    char small[8] = "x";
    EXPECT_EQ(find_newest_game(whome.c_str(), small, 0), 1);
    EXPECT_STREQ(small, "x");
    EXPECT_EQ(find_newest_game(whome.c_str(), small, sizeof small), 1);
    EXPECT_EQ(std::string(small), (game_dir("app.1") + "\\Pelko.exe").substr(0, 7));
}

// --- repair_version_record

class Repair : public HomeLayout {
protected:
    void current(const std::string& dir, const std::string& bundle_version) {
        install(dir);
        if (!bundle_version.empty()) write_file(home + "/" + dir + "/kestrel-core/version.txt", bundle_version + "\n");
        write_file(home + "/current.txt", game_dir(dir));
    }
    std::string repair() {
        testing::internal::CaptureStdout();
        repair_version_record(whome.c_str());
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(Repair, AVersionRecordAheadOfTheCurrentDirectoryIsPutBack) {
    current("app.4", "4");
    write_file(home + "/version.txt", "5\n");
    EXPECT_EQ(repair(), "  (repaired a half-finished update: the installed app is 4, the record said '5')\n");
    EXPECT_EQ(read_file(home + "/version.txt"), "4\n");
}

TEST_F(Repair, AMissingVersionRecordIsNamedNothing) {
    current("app.4", "4");
    EXPECT_EQ(repair(), "  (repaired a half-finished update: the installed app is 4, the record said '(nothing)')\n");
    EXPECT_EQ(read_file(home + "/version.txt"), "4\n");
}

TEST_F(Repair, MatchingRecordsAreLeftAlone) {
    current("app.4", "4");
    write_file(home + "/version.txt", "4\r\n");
    EXPECT_EQ(repair(), "");
    EXPECT_EQ(read_file(home + "/version.txt"), "4\r\n");
}

TEST_F(Repair, NothingIsRepairedWithoutAllThreeFacts) {
    // No current record.
    write_file(home + "/version.txt", "5\n");
    EXPECT_EQ(repair(), "");
    // A current directory that holds only the older game name.
    install("app.3", "kestrel-core.exe");
    write_file(home + "/app.3/kestrel-core/version.txt", "3\n");
    write_file(home + "/current.txt", game_dir("app.3"));
    EXPECT_EQ(repair(), "");
    // A current directory without a bundle version file.
    current("app.4", "");
    EXPECT_EQ(repair(), "");
    EXPECT_EQ(read_file(home + "/version.txt"), "5\n");
}

TEST_F(Repair, AGameNamedPelkoExeThatIsAFolderDoesNotCount) {
    make_dirs(home + "/app.4/kestrel-core/Pelko.exe");
    write_file(home + "/app.4/kestrel-core/version.txt", "4\n");
    write_file(home + "/current.txt", game_dir("app.4"));
    write_file(home + "/version.txt", "5\n");
    EXPECT_EQ(repair(), "");
}

TEST_F(Repair, AnUnwritableRecordIsSkippedSilently) {
    current("app.4", "4");
    write_file(home + "/version.txt", "5\n");
    fake.fail_fopen = [](const std::string& path, const std::string& mode) {
        return mode == "w" && path.find("version.txt") != std::string::npos;
    };
    EXPECT_EQ(repair(), "");
    EXPECT_EQ(read_file(home + "/version.txt"), "5\n");
}

// --- resolve_game

class ResolveGame : public HomeLayout {
protected:
    run_context ctx{};
    std::string log;
    int resolve(bool manifest_read = false) {
        std::snprintf(ctx.home, sizeof ctx.home, "%s", whome.c_str());
        splash_active_for_test();
        testing::internal::CaptureStdout();
        int result = resolve_game(&ctx, manifest_read);
        log = testing::internal::GetCapturedStdout();
        return result;
    }
    void splash_active_for_test() {
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
    }
    void TearDown() override { g_splash.active.store(0); }
};

TEST_F(ResolveGame, TheCurrentRecordNamesTheGame) {
    install("app.7");
    write_file(home + "/current.txt", game_dir("app.7"));
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.7"));
    EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.7") + "\\Pelko.exe");
    EXPECT_EQ(std::string(ctx.patched_rom), game_dir("app.7") + "\\patched.nds");
    EXPECT_EQ(log, "");
}

TEST_F(ResolveGame, WithoutACurrentRecordTheInstalledVersionNamesTheDirectory) {
    install("app.2.1");
    std::snprintf(ctx.installed_version, sizeof ctx.installed_version, "2.1");
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.2.1"));
}

TEST_F(ResolveGame, EmptyRecordsLeadToTheBareAppDirectory) {
    write_file(home + "/current.txt", "");
    install("app.");
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_dir), whome + "\\app.\\kestrel-core");
}

TEST_F(ResolveGame, APreRenameInstallStartsKestrelCoreExe) {
    install("app.1", "kestrel-core.exe");
    write_file(home + "/current.txt", game_dir("app.1"));
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.1") + "\\kestrel-core.exe");
    EXPECT_EQ(log, "launch: pre-rename install -> using kestrel-core.exe\n");
}

TEST_F(ResolveGame, ABrokenCurrentDirectoryFallsBackButKeepsItsOwnRomPath) {
    install("app.3");
    make_dirs(home + "/app.4/kestrel-core");
    write_file(home + "/current.txt", game_dir("app.4"));
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.3") + "\\Pelko.exe");
    EXPECT_EQ(std::string(ctx.game_dir), game_dir("app.4"));
    EXPECT_EQ(std::string(ctx.patched_rom), game_dir("app.4") + "\\patched.nds");
    EXPECT_EQ(log, "launch: current.txt pointed at an install with no game (" + game_dir("app.4") + ") -> using " +
                       game_dir("app.3") + "\\Pelko.exe\n");
    EXPECT_EQ(read_file(home + "/current.txt"), game_dir("app.3"));
}

TEST_F(ResolveGame, AFallbackWhoseRecordCannotBeWrittenStillStarts) {
    install("app.3");
    write_file(home + "/current.txt", game_dir("app.9"));
    fake.fail_fopen = [](const std::string& path, const std::string& mode) {
        return mode == "w" && path.find("current.txt") != std::string::npos;
    };
    EXPECT_EQ(resolve(), kRunGoesOn);
    EXPECT_EQ(std::string(ctx.game_exe), game_dir("app.3") + "\\Pelko.exe");
    EXPECT_EQ(read_file(home + "/current.txt"), game_dir("app.9"));
}

TEST_F(ResolveGame, NoGameAnywhereEndsTheRunAfterEightSecondsOnTheSplash) {
    EXPECT_EQ(resolve(false), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
    EXPECT_STREQ(g_splash.line, "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION");
}

TEST_F(ResolveGame, NoGameAfterTheManifestWasReadSaysTheFilesAreMissing) {
    write_file(home + "/current.txt", game_dir("app.5"));
    EXPECT_EQ(resolve(true), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
    EXPECT_STREQ(g_splash.line, "GAME FILES MISSING. REOPEN TO REINSTALL.");
}

}  // namespace
