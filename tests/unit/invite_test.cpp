// Room codes from invite links and from invite installer names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/invite.h"
#include "support.h"

namespace {

std::string from_args(std::vector<std::string> args) {
    args.insert(args.begin(), "C:\\dl\\Pelko-Setup.exe");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    char code[kRoomCodeSize];
    std::memset(code, '?', sizeof code);
    room_code_from_args(static_cast<int>(argv.size()), argv.data(), code);
    return code;
}

TEST(RoomCodeFromArgs, LinksGiveTheirLeadingLettersAndDigitsUpperCased) {
    // The arguments after the program's name, and the code they give.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        // The prefix matches in any case; the code ends at the first other character, or after 15.
        {{"PELKO://Join/ab12cd"}, "AB12CD"}, {{"pelko://join/abcd/"}, "ABCD"}, {{"pelko://join/abcd?x=1#y"}, "ABCD"},
        {{"pelko://join/abcd-ef"}, "ABCD"}, {{"pelko://join/abcd ef"}, "ABCD"},
        {{"pelko://join/abcd\xC3\xA9z"}, "ABCD"}, {{"pelko://join/ab-cdef"}, "AB"},
        {{"pelko://join/abcdefghijklmnopqrst"}, "ABCDEFGHIJKLMNO"},
        // Hostile links yield only letters and digits.
        {{"pelko://join/ab12\" --safe --room=EVIL"}, "AB12"}, {{"pelko://join/%41%42%43%44"}, ""},
        {{"pelko://join/abcd%20--safe"}, "ABCD"}, {{"pelko://join/" + std::string(4000, 'z')}, std::string(15, 'Z')},
        // The first full code wins, else the last link counts.
        {{"pelko://join/ab", "pelko://join/wxyz"}, "WXYZ"}, {{"pelko://join/wxyz", "pelko://join/abcd"}, "WXYZ"},
        {{"pelko://join/ab", "pelko://join/"}, ""}, {{"pelko://join/ab", "pelko://join/c"}, "C"},
        // Other arguments play no part.
        {{}, ""}, {{"--url", "pelko://join/abcd"}, "ABCD"}, {{"3", "--safe", "pelko://join/abcd"}, "ABCD"},
        {{"pelko://join"}, ""}, {{"xpelko://join/abcd"}, ""}, {{"pelko:/join/abcd"}, ""},
    };
    for (const auto& [args, code] : cases) EXPECT_EQ(from_args(args), code) << testing::PrintToString(args);
}

TEST(RoomCodeFromArgs, NullEntriesAreSkipped) {
    char program[] = "x", link[] = "pelko://join/abcd";
    char* argv[] = {program, nullptr, link};
    char code[kRoomCodeSize];
    room_code_from_args(3, argv, code);
    EXPECT_STREQ(code, "ABCD");
}

TEST(RoomCodeFromFileName, OnlyAnInviteInstallerNameGivesACode) {
    FakePlatform fake;
    auto code_for = [&fake](const std::string& path) {
        fake.module_path = path;
        char code[kRoomCodeSize];
        std::memset(code, '?', sizeof code);
        int found = room_code_from_file_name(code);
        EXPECT_EQ(found, code[0] ? 1 : 0) << path;
        return std::string(code);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Users\\p\\Downloads\\Pelko-Setup-AB12.exe", "AB12"}, {"C:\\dl\\pelko-setup-ab12 (1).exe", "AB12"},
        {"C:\\dl\\Pelko-Setup-ABCD.EXE", "ABCD"}, {"/dl/Pelko-Setup-ABCD-E.exe", "ABCD"},
        {"Pelko-Setup-ABCDEFGHIJKLMNO.exe", "ABCDEFGHIJKLMNO"},
        {"C:\\dl\\Pelko-Setup.exe", ""}, {"C:\\dl\\Pelko-Setup-ABC.exe", ""}, {"C:\\dl\\Pelko-Setup-AB-CD.exe", ""},
        {"C:\\dl\\Pelko-Setup-ABCDEFGHIJKLMNOP.exe", ""}, {"C:\\dl\\Pelko-Setup-ABCD.zip", ""},
        {"C:\\dl\\Setup-ABCD.exe", ""}, {"C:\\Pelko-Setup-ABCD.exe\\other.exe", ""},
        // The name is read in UTF-8; a non-ASCII character ends the code like any other.
        {"C:\\t\xC3\xA9l\xC3\xA9\\Pelko-Setup-ABCD\xC3\xA9.exe", "ABCD"},
        {"C:\\dl\\Pelko-Setup-\xE2\x98\x83" "ABCD.exe", ""},
        // A module path of 260 characters or more is not read; 254 is.
        {"C:\\" + std::string(240, 'd') + "\\Pelko-Setup-ABCD.exe", ""},
        {"C:\\" + std::string(230, 'd') + "\\Pelko-Setup-ABCD.exe", "ABCD"},
    };
    for (const auto& [path, code] : cases) EXPECT_EQ(code_for(path), code) << path;
    fake.module_path_fails = true;
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABCD.exe"), "");
}

TEST(RoomCodeOutcome, TheLogSaysWhereTheCodeCameFrom) {
    testing::internal::CaptureStdout();
    log_room_code_outcome("AB12", 0);
    log_room_code_outcome("AB12", 1);
    log_room_code_outcome("", 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "one-tap: joining room AB12 (source: a clicked pelko:// invite link)\n"
              "one-tap: joining room AB12 (source: the name of the installer file that was launched -- launch the "
              "INSTALLED launcher instead to host a fresh room)\n"
              "one-tap: no room code -- this launch will host a fresh room\n");
}

}  // namespace
