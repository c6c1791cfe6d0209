// What the splash shows for a status message: the font's glyphs, single
// spaces for everything else, at most six words and 63 characters.
#include <gtest/gtest.h>

#include <string>

#include "services/status.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

class StatusLine : public ::testing::Test {
protected:
    void SetUp() override {
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
    }
    void TearDown() override {
        g_splash.active.store(0);
        plat_lock_retire(&g_splash.lock);
    }
    static std::string shown(const char* message) {
        status_set(message);
        return g_splash.line;
    }
};

TEST_F(StatusLine, TheMessagesOfTheRunReduceAsThePlayerSeesThem) {
    EXPECT_EQ(shown("Joining \xE2\x80\x94 the host will send you the game\xE2\x80\xA6"),
              "JOINING     THE HOST WILL SEND YOU");
    EXPECT_EQ(shown("That file doesn't look like a DS game. Reopen and pick a .nds dump."),
              "THAT FILE DOESN T LOOK LIKE");
    EXPECT_EQ(shown("Update server unreachable. Check your connection and reopen."),
              "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION");
    EXPECT_EQ(shown("Checking for updates"), "CHECKING FOR UPDATES");
    EXPECT_EQ(shown("Starting the game\xE2\x80\xA6"), "STARTING THE GAME");
}

TEST_F(StatusLine, OnlySixWordsAreKeptAndASeventhNeverAppears) {
    EXPECT_EQ(shown("one two three four five six seven eight"), "ONE TWO THREE FOUR FIVE SIX");
    EXPECT_EQ(shown("one two three four five six"), "ONE TWO THREE FOUR FIVE SIX");
    EXPECT_EQ(shown("one two three four five six "), "ONE TWO THREE FOUR FIVE SIX");
}

TEST_F(StatusLine, LeadingSeparatorsAreDroppedAndInnerOnesEachGiveASpace) {
    EXPECT_EQ(shown("   (hello)"), "HELLO");
    EXPECT_EQ(shown("a  b"), "A  B");
    EXPECT_EQ(shown("a\tb\nc"), "A B C");
    EXPECT_EQ(shown("trailing   "), "TRAILING");
}

TEST_F(StatusLine, FontCharactersStayAndOthersBecomeSpaces) {
    EXPECT_EQ(shown("50% done: a/b.c-d!"), "50% DONE: A/B.C-D!");
    EXPECT_EQ(shown("x'y\"z"), "X Y Z");
    EXPECT_EQ(shown("caf\xC3\xA9 ok"), "CAF   OK");
}

TEST_F(StatusLine, AMessageOfOnlySeparatorsGivesAnEmptyLine) {
    EXPECT_EQ(shown(" \xE2\x80\x94 ( ) '"), "");
    EXPECT_EQ(shown(""), "");
}

TEST_F(StatusLine, TheLineIsCutAt63Characters) {
    std::string word(80, 'w');
    EXPECT_EQ(shown(word.c_str()), std::string(63, 'W'));
    // Cut right after a space: the trailing space goes, so 62 remain.
    std::string spaced = std::string(62, 'a') + " bcd";
    EXPECT_EQ(shown(spaced.c_str()), std::string(62, 'A'));
}

TEST_F(StatusLine, EveryStatusChangeRemovesTheProgressBar) {
    splash_set_line("READY - STARTING THE GAME", 100);
    EXPECT_EQ(g_splash.percent, 100);
    EXPECT_STREQ(g_splash.line, "READY - STARTING THE GAME");
    status_set("Installing");
    EXPECT_EQ(g_splash.percent, -1);
    EXPECT_STREQ(g_splash.line, "INSTALLING");
}

TEST(StatusLineWithoutSplash, StatusChangesNeverTouchTheSplashLock) {
    FakePlatform fake;
    splash_state_clear();
    status_set("Checking for updates");
    status_set("Installing");
    EXPECT_EQ(fake.lock_enters, 0);
    EXPECT_STREQ(g_splash.line, "");
}

}  // namespace
