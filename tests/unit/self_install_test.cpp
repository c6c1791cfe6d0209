// Installing the launcher into the home directory and registering the URL
// scheme, and the one-tap test report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/invite.h"
#include "core/launcher_main.h"
#include "core/self_install.h"
#include "support.h"

namespace {

class SelfInstall : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home");
    std::string downloads = tmp.at("Downloads");
    char launcher[kLauncherPathSize] = "";

    void SetUp() override {
        make_dirs(home);
        make_dirs(downloads);
    }
    // The running launcher: a file whose content tells builds apart.
    void running_as(const std::string& win_path, const std::string& linux_path, const std::string& build) {
        write_file(linux_path, build);
        std::snprintf(launcher, sizeof launcher, "%s", win_path.c_str());
    }
    void install(int from_filename = 0) { self_install(launcher, tmp.win("home").c_str(), from_filename); }
    std::string installed() const { return tmp.win("home\\Pelko-Setup.exe"); }
    std::string command() { return fake.registry["Software\\Classes\\pelko\\shell\\open\\command"][""]; }
};

TEST_F(SelfInstall, FromADownloadFolderTheCopyInTheHomeIsRegistered) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "build 2");
    write_file(home + "/Pelko-Setup.exe", "build 1 (older)");
    install();
    EXPECT_EQ(read_file(home + "/Pelko-Setup.exe"), "build 2");
    EXPECT_EQ(read_file(home + "/updater.txt"), installed());
    EXPECT_EQ(command(), "\"" + installed() + "\" --url \"%1\"" + std::string(1, '\0'));
}

TEST_F(SelfInstall, TheRegistryHoldsExactlyTheThreeValues) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "b");
    install();
    ASSERT_EQ(fake.registry.size(), 2u);
    const auto& scheme = fake.registry["Software\\Classes\\pelko"];
    ASSERT_EQ(scheme.size(), 2u);
    EXPECT_EQ(scheme.at(""), std::string("URL:Pelko", 10));
    EXPECT_EQ(scheme.at("URL Protocol"), std::string(1, '\0'));
    const auto& open = fake.registry["Software\\Classes\\pelko\\shell\\open\\command"];
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open.at("").size(), installed().size() + 14);  // quotes, " --url ", "%1" and the NUL
}

TEST_F(SelfInstall, TheInstalledLauncherInAnyLetterCaseCopiesNothingAndNamesItself) {
    write_file(home + "/Pelko-Setup.exe", "installed");
    std::string upper = tmp.win("home\\PELKO-SETUP.EXE");
    std::snprintf(launcher, sizeof launcher, "%s", upper.c_str());
    int copies = 0;
    fake.fail_copy = [&copies](const std::string&, const std::string&) {
        ++copies;
        return false;
    };
    install();
    EXPECT_EQ(copies, 0);
    EXPECT_EQ(read_file(home + "/updater.txt"), installed());
}

TEST_F(SelfInstall, AnInviteFileIsMovedToThePlainNameFirst) {
    running_as(tmp.win("Downloads\\Pelko-Setup-AB12.exe"), downloads + "/Pelko-Setup-AB12.exe", "build 3");
    write_file(downloads + "/Pelko-Setup.exe", "an older download");
    install(1);
    EXPECT_STREQ(launcher, tmp.win("Downloads\\Pelko-Setup.exe").c_str());
    EXPECT_FALSE(file_exists(downloads + "/Pelko-Setup-AB12.exe"));
    EXPECT_EQ(read_file(downloads + "/Pelko-Setup.exe"), "build 3");
    EXPECT_EQ(read_file(home + "/Pelko-Setup.exe"), "build 3");
    EXPECT_EQ(read_file(home + "/updater.txt"), installed());
}

TEST_F(SelfInstall, AnInviteNameIsNotMovedUnlessItCameFromTheFileName) {
    running_as(tmp.win("Downloads\\Pelko-Setup-AB12.exe"), downloads + "/Pelko-Setup-AB12.exe", "b");
    install(0);
    EXPECT_TRUE(file_exists(downloads + "/Pelko-Setup-AB12.exe"));
}

TEST_F(SelfInstall, AFailedMoveKeepsTheInviteNameAndStillInstalls) {
    running_as(tmp.win("Downloads\\Pelko-Setup-AB12.exe"), downloads + "/Pelko-Setup-AB12.exe", "b");
    fake.fail_move = [](const std::string&, const std::string&) { return true; };
    install(1);
    EXPECT_STREQ(launcher, tmp.win("Downloads\\Pelko-Setup-AB12.exe").c_str());
    EXPECT_EQ(read_file(home + "/Pelko-Setup.exe"), "b");
}

TEST_F(SelfInstall, AFailedCopyLeavesTheEarlierInstalledLauncherAsTheTarget) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "new");
    write_file(home + "/Pelko-Setup.exe", "running elsewhere");
    fake.fail_copy = [](const std::string&, const std::string&) { return true; };
    install();
    EXPECT_EQ(read_file(home + "/Pelko-Setup.exe"), "running elsewhere");
    EXPECT_EQ(read_file(home + "/updater.txt"), installed());
}

TEST_F(SelfInstall, WithoutAnyInstalledCopyTheRunningLauncherIsTheTarget) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "new");
    fake.fail_copy = [](const std::string&, const std::string&) { return true; };
    install();
    EXPECT_EQ(read_file(home + "/updater.txt"), tmp.win("Downloads\\Pelko-Setup.exe"));
    EXPECT_EQ(command(), "\"" + tmp.win("Downloads\\Pelko-Setup.exe") + "\" --url \"%1\"" + std::string(1, '\0'));
}

TEST_F(SelfInstall, AMissingHomeLeavesNoUpdaterTxtAndRegistersTheRunningLauncher) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "new");
    self_install(launcher, tmp.win("no-home").c_str(), 0);
    EXPECT_FALSE(file_exists(tmp.at("no-home")));
    EXPECT_NE(command().find(tmp.win("Downloads\\Pelko-Setup.exe")), std::string::npos);
}

TEST_F(SelfInstall, NoSchemeKeyMeansNoValuesAtAll) {
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "new");
    fake.fail_reg_create = [](const std::string& key) { return key == "Software\\Classes\\pelko"; };
    install();
    EXPECT_TRUE(fake.registry.empty());
    EXPECT_EQ(read_file(home + "/updater.txt"), installed());
}

TEST_F(SelfInstall, ALongTargetIsCutInTheRegisteredCommand) {
    std::string deep = tmp.at(std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(90, 'f'));
    make_dirs(deep);
    running_as(tmp.win("Downloads\\Pelko-Setup.exe"), downloads + "/Pelko-Setup.exe", "new");
    std::string deep_win = deep;
    self_install(launcher, deep_win.c_str(), 0);
    std::string stored = command();
    EXPECT_EQ(stored.size(), 520u);  // 519 characters and the NUL
    EXPECT_EQ(stored.substr(0, 1 + deep_win.size()), "\"" + deep_win);
}

// --- one-tap test mode

TEST(OnetapReport, WritesTheRoomCodeAndItsSource) {
    TempDir tmp;
    EXPECT_EQ(onetap_test_report("AB12", 1, tmp.win("report.txt").c_str()), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode=AB12 from_filename=1\n");
    EXPECT_EQ(onetap_test_report("", 0, tmp.win("report.txt").c_str()), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode= from_filename=0\n");
}

TEST(OnetapReport, AnUnopenableReportStillEndsTheRunWithZero) {
    EXPECT_EQ(onetap_test_report("AB12", 0, ""), 0);
}

class OnetapRun : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    void SetUp() override {
        fake.env["VELA_HOME"] = tmp.win("home");
        fake.env["VELA_ONETAP_TEST"] = tmp.win("report.txt");
        write_file(tmp.at("Downloads/Pelko-Setup-AB12.exe"), "launcher");
        fake.module_path = tmp.win("Downloads\\Pelko-Setup-AB12.exe");
    }
    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "Pelko-Setup.exe");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        testing::internal::CaptureStdout();
        int code = launcher_main(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        return code;
    }
};

TEST_F(OnetapRun, InstallsAndRegistersThenReportsWithoutContactingTheSite) {
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode=AB12 from_filename=1\n");
    EXPECT_EQ(read_file(tmp.at("home/Pelko-Setup.exe")), "launcher");
    EXPECT_TRUE(file_exists(tmp.at("Downloads/Pelko-Setup.exe")));
    EXPECT_FALSE(fake.registry.empty());
    EXPECT_TRUE(fake.http_requests.empty());
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(OnetapRun, ALinkIsReportedWithFromFilenameZero) {
    EXPECT_EQ(run({"pelko://join/abcd"}), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode=ABCD from_filename=0\n");
}

TEST_F(OnetapRun, AnEmptyValueStillMeansTestMode) {
    fake.env["VELA_ONETAP_TEST"] = "";
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(fake.http_requests.empty());
}

}  // namespace
