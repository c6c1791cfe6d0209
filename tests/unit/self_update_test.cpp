// Replacing the installed launcher and handing the run over to the new build.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/sha256.h"
#include "core/self_update.h"
#include "http_server.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

std::string digest_of(const std::string& path) {
    char hex[kDigestTextSize] = "";
    EXPECT_EQ(sha256_file_hex(path.c_str(), hex), 0);
    return hex;
}

class SelfUpdate : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string home = tmp.at("home");
    std::string log;
    std::string new_build = "MZ launcher build 2";
    std::string new_digest;

    void SetUp() override {
        // This process is the installed launcher, build 1.
        write_file(home + "/Pelko-Setup.exe", "MZ launcher build 1");
        fake.module_path = tmp.win("home\\Pelko-Setup.exe");
        write_file(tmp.at("build2.exe"), new_build);
        new_digest = digest_of(tmp.at("build2.exe"));
        server.serve("/Pelko-Setup.exe", {200, new_build});
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
    }
    void TearDown() override { g_splash.active.store(0); }

    int update(const std::string& room = "", std::string digest = "") {
        if (digest.empty()) digest = new_digest;
        testing::internal::CaptureStdout();
        int result = self_update(tmp.win("home").c_str(), room.c_str(), server.url("/Pelko-Setup.exe").c_str(),
                                 digest.c_str());
        log = testing::internal::GetCapturedStdout();
        return result;
    }
    std::string installed() { return read_file(home + "/Pelko-Setup.exe"); }
    bool exists(const std::string& name) { return file_exists(home + "/" + name); }
};

TEST_F(SelfUpdate, ACurrentDigestRemovesTheOldBuildAndFetchesNothing) {
    write_file(home + "/Pelko-Setup.old.exe", "build 0");
    EXPECT_EQ(update("", digest_of(home + "/Pelko-Setup.exe")), kRunGoesOn);
    EXPECT_FALSE(exists("Pelko-Setup.old.exe"));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(log, "");
}

TEST_F(SelfUpdate, AnUnreadableOwnFileCountsAsCurrent) {
    write_file(home + "/Pelko-Setup.old.exe", "build 0");
    fake.module_path = tmp.win("gone\\Pelko-Setup.exe");
    EXPECT_EQ(update(), kRunGoesOn);
    EXPECT_FALSE(exists("Pelko-Setup.old.exe"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SelfUpdate, AnUpperCaseDigestIsNeverCurrentAndTheCandidateIsRejected) {
    std::string upper = digest_of(home + "/Pelko-Setup.exe");
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    EXPECT_EQ(update("", upper), kRunGoesOn);
    EXPECT_EQ(log, "self-update: a newer updater is available -> fetching\n"
                   "self-update: sha mismatch -> keeping the current updater\n");
    EXPECT_FALSE(exists("Pelko-Setup.new.exe"));
    EXPECT_EQ(installed(), "MZ launcher build 1");
    EXPECT_STREQ(g_splash.line, "UPDATING THE INSTALLER");
}

TEST_F(SelfUpdate, AFailedDownloadChangesNothingAndSaysNoMore) {
    testing::internal::CaptureStdout();
    int result = self_update(tmp.win("home").c_str(), "",
                             ("http://127.0.0.1:" + std::to_string(refused_port()) + "/x.exe").c_str(),
                             new_digest.c_str());
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, kRunGoesOn);
    EXPECT_EQ(log, "self-update: a newer updater is available -> fetching\n");
    EXPECT_EQ(installed(), "MZ launcher build 1");
}

TEST_F(SelfUpdate, TheNewBuildIsSwappedInAndRunsTheRestWithTheInvite) {
    write_file(home + "/Pelko-Setup.old.exe", "build 0");
    EXPECT_EQ(update("AB12"), 0);
    EXPECT_EQ(installed(), new_build);
    EXPECT_EQ(read_file(home + "/Pelko-Setup.old.exe"), "MZ launcher build 1");
    EXPECT_FALSE(exists("Pelko-Setup.new.exe"));
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].command_line,
              "\"" + tmp.win("home\\Pelko-Setup.exe") + "\" --url \"pelko://join/AB12\"");
    EXPECT_FALSE(fake.started[0].options.inherit_handles);
    EXPECT_FALSE(fake.started[0].options.no_window);
    EXPECT_EQ(fake.started[0].options.output, nullptr);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{900000});
    EXPECT_TRUE(log.find("self-update: swapped in the new updater; it finished the update.\n") != std::string::npos);
}

TEST_F(SelfUpdate, WithoutARoomTheNewBuildGetsItsPathAlone) {
    update();
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].command_line, "\"" + tmp.win("home\\Pelko-Setup.exe") + "\"");
}

TEST_F(SelfUpdate, TheNewBuildsExitCodeBecomesTheRunsExitCode) {
    fake.exit_code = 3;
    EXPECT_EQ(update(), 3);
    EXPECT_TRUE(log.find("!! self-update: the new updater exited with 3 -- the app may not have been updated.\n") !=
                std::string::npos);
}

TEST_F(SelfUpdate, ANewBuildThatDoesNotFinishInTimeEndsTheRunWithOne) {
    fake.wait_succeeds = false;
    EXPECT_EQ(update(), 1);
    EXPECT_TRUE(log.find("!! self-update: the new updater did not finish in time -- the app may not have been "
                         "updated.\n") != std::string::npos);
    EXPECT_EQ(installed(), new_build);
}

TEST_F(SelfUpdate, AFailedSwapPutsTheInstalledLauncherBack) {
    fake.fail_move = [](const std::string& from, const std::string&) {
        return from.find("Pelko-Setup.new.exe") != std::string::npos;
    };
    EXPECT_EQ(update(), kRunGoesOn);
    EXPECT_EQ(installed(), "MZ launcher build 1");
    EXPECT_FALSE(exists("Pelko-Setup.old.exe"));
    EXPECT_FALSE(exists("Pelko-Setup.new.exe"));
    EXPECT_TRUE(fake.started.empty());
}

TEST_F(SelfUpdate, ANewBuildThatCannotStartIsUndoneCompletely) {
    write_file(home + "/Pelko-Setup.old.exe", "build 0");
    fake.start_succeeds = false;
    EXPECT_EQ(update(), kRunGoesOn);
    EXPECT_EQ(installed(), "MZ launcher build 1");
    EXPECT_FALSE(exists("Pelko-Setup.new.exe"));
    EXPECT_FALSE(exists("Pelko-Setup.old.exe"));
    EXPECT_EQ(log, "self-update: a newer updater is available -> fetching\n");
}

}  // namespace
