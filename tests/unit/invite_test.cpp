// Room codes from invite links and from invite installer names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

TEST(RoomCodeFromArgs, TheLinkPrefixMatchesInAnyCaseAndTheCodeIsUpperCased) {
    EXPECT_EQ(from_args({"PELKO://Join/ab12cd"}), "AB12CD");
    EXPECT_EQ(from_args({"pelko://join/wxyz"}), "WXYZ");
}

TEST(RoomCodeFromArgs, TheCodeEndsAtTheFirstOtherCharacter) {
    EXPECT_EQ(from_args({"pelko://join/abcd/"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/abcd?x=1#y"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/abcd-ef"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/abcd ef"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/abcd\xC3\xA9z"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/ab-cdef"}), "AB");
}

TEST(RoomCodeFromArgs, ALongRunIsCutAfterFifteenCharacters) {
    EXPECT_EQ(from_args({"pelko://join/abcdefghijklmnopqrst"}), "ABCDEFGHIJKLMNO");
}

TEST(RoomCodeFromArgs, TheFirstFullCodeWinsElseTheLastLinkCounts) {
    EXPECT_EQ(from_args({"pelko://join/ab", "pelko://join/wxyz"}), "WXYZ");
    EXPECT_EQ(from_args({"pelko://join/wxyz", "pelko://join/abcd"}), "WXYZ");
    EXPECT_EQ(from_args({"pelko://join/ab"}), "AB");
    EXPECT_EQ(from_args({"pelko://join/ab", "pelko://join/"}), "");
    EXPECT_EQ(from_args({"pelko://join/ab", "pelko://join/c"}), "C");
}

TEST(RoomCodeFromArgs, OtherArgumentsPlayNoPart) {
    EXPECT_EQ(from_args({}), "");
    EXPECT_EQ(from_args({"--url", "pelko://join/abcd"}), "ABCD");
    EXPECT_EQ(from_args({"3", "--safe", "pelko://join/abcd"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join"}), "");
    EXPECT_EQ(from_args({"xpelko://join/abcd"}), "");
    EXPECT_EQ(from_args({"pelko:/join/abcd"}), "");
}

TEST(RoomCodeFromArgs, NullEntriesAreSkipped) {
    char program[] = "x";
    char link[] = "pelko://join/abcd";
    char* argv[] = {program, nullptr, link};
    char code[kRoomCodeSize];
    room_code_from_args(3, argv, code);
    EXPECT_STREQ(code, "ABCD");
}

TEST(RoomCodeFromArgs, HostileLinksYieldOnlyLettersAndDigits) {
    EXPECT_EQ(from_args({"pelko://join/ab12\" --safe --room=EVIL"}), "AB12");
    EXPECT_EQ(from_args({"pelko://join/%41%42%43%44"}), "");
    EXPECT_EQ(from_args({"pelko://join/abcd%20--safe"}), "ABCD");
    EXPECT_EQ(from_args({"pelko://join/" + std::string(4000, 'z')}), std::string(15, 'Z'));
}

class RoomCodeFromFileName : public ::testing::Test {
protected:
    FakePlatform fake;
    std::string code_for(const std::string& path, int* result = nullptr) {
        fake.module_path = path;
        char code[kRoomCodeSize];
        std::memset(code, '?', sizeof code);
        int r = room_code_from_file_name(code);
        if (result) *result = r;
        EXPECT_EQ(r, code[0] ? 1 : 0);
        return code;
    }
};

TEST_F(RoomCodeFromFileName, AnInviteInstallerNameGivesItsCode) {
    int result = 0;
    EXPECT_EQ(code_for("C:\\Users\\p\\Downloads\\Pelko-Setup-AB12.exe", &result), "AB12");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(code_for("C:\\dl\\pelko-setup-ab12 (1).exe"), "AB12");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABCD.EXE"), "ABCD");
    EXPECT_EQ(code_for("/dl/Pelko-Setup-ABCD-E.exe"), "ABCD");
    EXPECT_EQ(code_for("Pelko-Setup-ABCDEFGHIJKLMNO.exe"), "ABCDEFGHIJKLMNO");
}

TEST_F(RoomCodeFromFileName, NamesThatAreNoInviteGiveNothing) {
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup.exe"), "");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABC.exe"), "");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-AB-CD.exe"), "");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABCDEFGHIJKLMNOP.exe"), "");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABCD.zip"), "");
    EXPECT_EQ(code_for("C:\\dl\\Setup-ABCD.exe"), "");
    EXPECT_EQ(code_for("C:\\Pelko-Setup-ABCD.exe\\other.exe"), "");
}

TEST_F(RoomCodeFromFileName, TheNameIsReadInUtf8) {
    // Non-ASCII characters are converted, and end the code like any other.
    EXPECT_EQ(code_for("C:\\t\xC3\xA9l\xC3\xA9\\Pelko-Setup-ABCD\xC3\xA9.exe"), "ABCD");
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-\xE2\x98\x83" "ABCD.exe"), "");
}

TEST_F(RoomCodeFromFileName, AnUnreadableOrOverlongModulePathGivesNothing) {
    fake.module_path_fails = true;
    EXPECT_EQ(code_for("C:\\dl\\Pelko-Setup-ABCD.exe"), "");
    fake.module_path_fails = false;
    std::string deep = "C:\\" + std::string(240, 'd') + "\\Pelko-Setup-ABCD.exe";
    ASSERT_GE(deep.size(), 260u);
    EXPECT_EQ(code_for(deep), "");
    std::string fits = "C:\\" + std::string(230, 'd') + "\\Pelko-Setup-ABCD.exe";
    ASSERT_LT(fits.size(), 260u);
    EXPECT_EQ(code_for(fits), "ABCD");
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
