// Installing the launcher into the home directory and registering the URL
// scheme, and the one-tap test report.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/invite.h"
#include "core/launcher_main.h"
#include "core/self_install.h"
#include "support.h"

namespace {

using Files = std::map<std::string, std::string>;
using Registry = std::map<std::string, std::map<std::string, std::string>>;

// Every file below root, by its path from there, with its content.
Files files_below(const std::string& root) {
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), root).string()] = read_file(entry.path().string());
    return files;
}

// The scheme's three values, each stored with its NUL, for a launcher at target.
Registry registered(const std::string& target) {
    return {{"Software\\Classes\\pelko", {{"", std::string("URL:Pelko", 10)}, {"URL Protocol", std::string(1, '\0')}}},
            {"Software\\Classes\\pelko\\shell\\open\\command",
             {{"", "\"" + target + "\" --url \"%1\"" + std::string(1, '\0')}}}};
}

class SelfInstall : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    char launcher[kLauncherPathSize] = "";
};

TEST_F(SelfInstall, TheHomeCopyIsMadeAndRegisteredUnlessItCannotBe) {
    struct Case {
        std::string running;  // the launcher's file, holding "new"
        int from_filename;
        bool copy_fails, move_fails, home_exists;
        Files before;          // other files
        std::string launcher;  // the launcher's path afterwards
        std::string target;    // named by updater.txt and the registered command
        Files after;           // every file but updater.txt
        int copies;
    };
    const std::string dl = "Downloads/Pelko-Setup.exe", invite = "Downloads/Pelko-Setup-AB12.exe",
                      home = "home/Pelko-Setup.exe";
    const Case cases[] = {
        {dl, 0, false, false, true, {{home, "old"}}, dl, home, {{dl, "new"}, {home, "new"}}, 1},
        // An invite file is moved to the plain name first, over an older download, when its code came from there.
        {invite, 1, false, false, true, {{dl, "older"}}, dl, home, {{dl, "new"}, {home, "new"}}, 1},
        {invite, 0, false, false, true, {}, invite, home, {{invite, "new"}, {home, "new"}}, 1},
        {invite, 1, false, true, true, {}, invite, home, {{invite, "new"}, {home, "new"}}, 1},
        // A failed copy leaves the earlier installed launcher, else the running one, as the target.
        {dl, 0, true, false, true, {{home, "old"}}, dl, home, {{dl, "new"}, {home, "old"}}, 1},
        {dl, 0, true, false, true, {}, dl, dl, {{dl, "new"}}, 1},
        {dl, 0, false, false, false, {}, dl, dl, {{dl, "new"}}, 1},
        // The installed launcher, in any letter case, copies nothing and names itself.
        {"home/PELKO-SETUP.EXE", 0, false, false, true, {{home, "installed"}}, "home/PELKO-SETUP.EXE", home,
         {{"home/PELKO-SETUP.EXE", "new"}, {home, "installed"}}, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string dir = "case" + std::to_string(++n) + "/";
        SCOPED_TRACE(dir);
        if (c.home_exists) make_dirs(tmp.at(dir + "home"));
        for (const auto& [name, content] : c.before) write_file(tmp.at(dir + name), content);
        write_file(tmp.at(dir + c.running), "new");
        std::snprintf(launcher, sizeof launcher, "%s", tmp.win(dir + c.running).c_str());
        int copies = 0;
        fake.fail_copy = [&](const std::string&, const std::string&) { return ++copies, c.copy_fails; };
        fake.fail_move = [&](const std::string&, const std::string&) { return c.move_fails; };
        fake.registry.clear();

        self_install(launcher, tmp.win(dir + "home").c_str(), c.from_filename);
        EXPECT_STREQ(launcher, tmp.win(dir + c.launcher).c_str());
        EXPECT_EQ(copies, c.copies);
        EXPECT_EQ(fake.registry, registered(tmp.win(dir + c.target)));
        Files after = c.after;
        if (c.home_exists) after["home/updater.txt"] = tmp.win(dir + c.target);
        EXPECT_EQ(files_below(tmp.at(dir)), after);
    }
}

// A long target is cut in the registered command; without the scheme key
// nothing is registered, and updater.txt is written all the same.
TEST_F(SelfInstall, TheCommandIsCutWhenLongAndNothingIsRegisteredWithoutTheSchemeKey) {
    const std::string deep = tmp.at(std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(90, 'f'));
    make_dirs(deep);
    write_file(tmp.at("Downloads/Pelko-Setup.exe"), "new");
    std::snprintf(launcher, sizeof launcher, "%s", tmp.win("Downloads\\Pelko-Setup.exe").c_str());
    self_install(launcher, deep.c_str(), 0);
    EXPECT_EQ(fake.registry["Software\\Classes\\pelko\\shell\\open\\command"][""],  // 519 characters and the NUL
              ("\"" + deep + "\\Pelko-Setup.exe\" --url \"%1\"").substr(0, 519) + std::string(1, '\0'));
    fake.registry.clear();
    fake.fail_reg_create = [](const std::string& key) { return key == "Software\\Classes\\pelko"; };
    std::remove((deep + "/updater.txt").c_str());
    self_install(launcher, deep.c_str(), 0);
    EXPECT_TRUE(fake.registry.empty());
    EXPECT_EQ(read_file(deep + "/updater.txt"), deep + "\\Pelko-Setup.exe");
}

// --- one-tap test mode

// Test mode installs and registers, then reports and ends the run without
// contacting the site, whether the code came from the file name or a link.
TEST(OnetapRun, InstallsAndRegistersThenReportsWithoutContactingTheSite) {
    TempDir tmp;
    FakePlatform fake;
    fake.env["VELA_HOME"] = tmp.win("home");
    fake.env["VELA_ONETAP_TEST"] = tmp.win("report.txt");
    write_file(tmp.at("Downloads/Pelko-Setup-AB12.exe"), "launcher");
    fake.module_path = tmp.win("Downloads\\Pelko-Setup-AB12.exe");
    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), "Pelko-Setup.exe");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        testing::internal::CaptureStdout();
        int code = launcher_main(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        return code;
    };
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode=AB12 from_filename=1\n");
    EXPECT_EQ(read_file(tmp.at("home/Pelko-Setup.exe")), "launcher");
    EXPECT_TRUE(file_exists(tmp.at("Downloads/Pelko-Setup.exe")));
    EXPECT_FALSE(fake.registry.empty());
    EXPECT_EQ(run({"pelko://join/abcd"}), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode=ABCD from_filename=0\n");
    fake.module_path = tmp.win("Downloads\\Pelko-Setup.exe");
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(read_file(tmp.at("report.txt")), "roomcode= from_filename=0\n");
    fake.env["VELA_ONETAP_TEST"] = "";  // an empty value still means test mode; the report cannot be opened
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(fake.http_requests.empty());
    EXPECT_TRUE(fake.sleeps.empty());
}

}  // namespace
