// Room codes from invite links and installer names, and the installation that
// makes later invite links start the installed launcher.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/invite.h"
#include "core/self_install.h"
#include "support.h"

namespace {

std::string from_args(std::vector<std::string> args) {
    std::vector<char*> argv = argv_of(args);
    argv.insert(argv.begin() + 1, nullptr);  // a null entry is skipped
    char code[kRoomCodeSize];
    std::memset(code, '?', sizeof code);
    room_code_from_args(static_cast<int>(argv.size()), argv.data(), code);
    return code;
}

TEST(RoomCodeFromArgs, LinksGiveTheirLeadingLettersAndDigitsUpperCased) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        // The prefix matches in any case; the code ends at the first other character, or after 15.
        // clang-format off
        {{"PELKO://Join/ab12cd"}, "AB12CD"}, {{"pelko://join/abcd?x=1"}, "ABCD"},
        {{"pelko://join/abcd\xC3\xA9z"}, "ABCD"}, {{"pelko://join/ab-cdef"}, "AB"},
        {{"pelko://join/" + std::string(4000, 'z')}, std::string(15, 'Z')},
        // Hostile links yield only letters and digits.
        {{"pelko://join/ab12\" --safe --room=EVIL"}, "AB12"}, {{"pelko://join/%41%42%43%44"}, ""},
        // The first full code wins, else the last link counts.
        {{"pelko://join/ab", "pelko://join/wxyz", "pelko://join/abcd"}, "WXYZ"},
        {{"pelko://join/ab", "pelko://join/c"}, "C"},
        {{}, ""}, {{"--url", "3", "pelko://join/abcd"}, "ABCD"}, {{"pelko://join"}, ""}, {{"xpelko://join/abcd"}, ""},
        // clang-format on
    };
    for (const auto& [args, code] : cases) EXPECT_EQ(from_args(args), code) << testing::PrintToString(args);
}

TEST(RoomCodeFromFileName, OnlyAnInviteInstallerNameGivesACode) {
    FakePlatform fake;
    const std::pair<std::string, std::string> cases[] = {
        // clang-format off
        {"C:\\Users\\p\\Downloads\\Pelko-Setup-AB12.exe", "AB12"}, {"C:\\dl\\pelko-setup-ab12 (1).exe", "AB12"},
        {"/dl/Pelko-Setup-ABCD-E.EXE", "ABCD"}, {"Pelko-Setup-ABCDEFGHIJKLMNO.exe", "ABCDEFGHIJKLMNO"},
        {"C:\\dl\\Pelko-Setup.exe", ""}, {"C:\\dl\\Pelko-Setup-ABC.exe", ""}, {"C:\\dl\\Pelko-Setup-AB-CD.exe", ""},
        {"C:\\dl\\Pelko-Setup-ABCDEFGHIJKLMNOP.exe", ""}, {"C:\\dl\\Pelko-Setup-ABCD.zip", ""},
        {"C:\\Pelko-Setup-ABCD.exe\\other.exe", ""},
        // The name is read in UTF-8; a non-ASCII character ends the code like any other.
        {"C:\\t\xC3\xA9l\xC3\xA9\\Pelko-Setup-ABCD\xC3\xA9.exe", "ABCD"},
        {"C:\\dl\\Pelko-Setup-\xE2\x98\x83" "ABCD.exe", ""},
        // clang-format on
        // A module path of 260 UTF-16 units or more is not read; 254 is.
        {"C:\\" + std::string(240, 'd') + "\\Pelko-Setup-ABCD.exe", ""},
        {"C:\\" + std::string(230, 'd') + "\\Pelko-Setup-ABCD.exe", "ABCD"},
    };
    for (const auto& [path, code] : cases) {
        fake.module_path = path;
        char found[kRoomCodeSize] = "?";
        EXPECT_EQ(room_code_from_file_name(found), code.empty() ? 0 : 1) << path;
        EXPECT_EQ(found, code) << path;
    }
}

// The installed copy is what updater.txt and the registered command name:
// the scheme's three values, each stored with its NUL.
TEST(SelfInstall, TheHomeCopyIsMadeAndRegisteredUnlessItCannotBe) {
    const std::string dl = "Downloads/Pelko-Setup.exe", invite = "Downloads/Pelko-Setup-AB12.exe",
                      home = "home/Pelko-Setup.exe", upper = "home/PELKO-SETUP.EXE";
    using Files = std::map<std::string, std::string>;
    const struct {
        std::string running;  // the launcher's file, holding "new"
        int from_filename;
        const char* fails;  // "copy" or "move" fails
        bool home_exists;
        Files before;          // other files
        std::string launcher;  // the launcher's path afterwards
        std::string target;    // named by updater.txt and the registered command
        Files after;           // every file but updater.txt
    } cases[] = {
        {dl, 0, "", true, {{home, "old"}}, dl, home, {{dl, "new"}, {home, "new"}}},
        // An invite file is moved to the plain name, over an older download, when its code came from there.
        {invite, 1, "", true, {{dl, "older"}}, dl, home, {{dl, "new"}, {home, "new"}}},
        {invite, 0, "", true, {}, invite, home, {{invite, "new"}, {home, "new"}}},
        {invite, 1, "move", true, {}, invite, home, {{invite, "new"}, {home, "new"}}},
        // A failed copy leaves the earlier installed launcher, else the running one, as the target.
        {dl, 0, "copy", true, {{home, "old"}}, dl, home, {{dl, "new"}, {home, "old"}}},
        {dl, 0, "", false, {}, dl, dl, {{dl, "new"}}},
        // The installed launcher, in any letter case, copies nothing and names itself.
        {upper, 0, "copy", true, {}, upper, upper, {{upper, "new"}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        TempDir tmp;
        FakePlatform fake;
        SCOPED_TRACE(++n);
        if (c.home_exists) make_dirs(tmp.at("home"));
        for (const auto& [name, content] : c.before) write_file(tmp.at(name), content);
        write_file(tmp.at(c.running), "new");
        char launcher[kLauncherPathSize];
        std::snprintf(launcher, sizeof launcher, "%s", tmp.win(c.running).c_str());
        int copies = 0;
        fake.fail = [&](const std::string& op, const std::string&) { return (copies += op == "copy"), op == c.fails; };
        self_install(launcher, tmp.win("home").c_str(), c.from_filename);
        EXPECT_EQ(launcher, tmp.win(c.launcher));
        EXPECT_EQ(copies, c.running == upper ? 0 : 1);
        const std::string target = tmp.win(c.target);
        // clang-format off
        EXPECT_EQ(fake.registry,
                  (std::map<std::string, std::map<std::string, std::string>>{
                      {"Software\\Classes\\pelko", {{"", std::string("URL:Pelko", 10)}, {"URL Protocol", {'\0'}}}},
                      {"Software\\Classes\\pelko\\shell\\open\\command",
                       {{"", "\"" + target + "\" --url \"%1\"" + '\0'}}}}));
        // clang-format on
        Files after = c.after;
        if (c.home_exists) after["home/updater.txt"] = target;
        EXPECT_EQ(files_below(tmp.path()), after);
    }
}

// A long target is cut in the registered command; without the scheme key
// nothing is registered, and updater.txt is written all the same.
TEST(SelfInstall, TheCommandIsCutWhenLongAndNothingIsRegisteredWithoutTheSchemeKey) {
    TempDir tmp;
    FakePlatform fake;
    const std::string deep = tmp.at(std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(90, 'f'));
    make_dirs(deep);
    write_file(tmp.at("Pelko-Setup.exe"), "new");
    char launcher[kLauncherPathSize];
    std::snprintf(launcher, sizeof launcher, "%s", tmp.win("Pelko-Setup.exe").c_str());
    self_install(launcher, deep.c_str(), 0);
    EXPECT_EQ(fake.registry["Software\\Classes\\pelko\\shell\\open\\command"][""],  // 519 characters and the NUL
              ("\"" + deep + "\\Pelko-Setup.exe\" --url \"%1\"").substr(0, 519) + '\0');
    fake.registry.clear();
    fake.fail_reg_create = [](const std::string& key) { return key == "Software\\Classes\\pelko"; };
    std::remove((deep + "/updater.txt").c_str());
    self_install(launcher, deep.c_str(), 0);
    EXPECT_TRUE(fake.registry.empty());
    EXPECT_EQ(read_file(deep + "/updater.txt"), deep + "\\Pelko-Setup.exe");
}

}  // namespace
