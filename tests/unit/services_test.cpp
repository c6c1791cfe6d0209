// The bounded formatter and the directory removal every phase leans on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "services/delete_tree.h"
#include "services/format.h"
#include "support.h"

namespace {

TEST(FormatInto, ATextThatDoesNotFitIsCutAndTerminatedAndItsFullLengthReturned) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(format_into(buffer, sizeof buffer, "%s", "abcdefghijklmnopqrst"), 20);
    EXPECT_STREQ(buffer, "abcdefghijklmno");
}

TEST(FormatInto, SizeZeroWritesNothing) {
    char buffer[4] = {'k', 'e', 'e', 'p'};
    EXPECT_EQ(format_into(buffer, 0, "%d", 12345), 5);
    EXPECT_EQ(std::memcmp(buffer, "keep", 4), 0);
}

TEST(FormatInto, TheConversionsTheLauncherUsesFollowC99) {
    char buffer[64];
    unsigned long big = 4000000000UL;
    EXPECT_EQ(format_into(buffer, sizeof buffer, "%s%c%s|%d|%lu|%02x|%%", "a", '\\', "b", -7, big, 10u), 22);
    EXPECT_STREQ(buffer, "a\\b|-7|4000000000|0a|%");
}

class DeleteTree : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(DeleteTree, RemovesNestedFilesIncludingReadOnlyAndDotNames) {
    write_file(tmp.at("t/a.txt"), "a");
    write_file(tmp.at("t/sub/deeper/b.bin"), "b");
    write_file(tmp.at("t/..x"), "dots");
    write_file(tmp.at("t/.hidden"), "h");
    write_file(tmp.at("t/sub/ro.txt"), "ro");
    chmod(tmp.at("t/sub/ro.txt").c_str(), 0444);
    delete_tree(tmp.win("t").c_str());
    EXPECT_FALSE(file_exists(tmp.at("t")));
}

TEST_F(DeleteTree, ADirectoryLinkIsRemovedButItsTargetSurvives) {
    write_file(tmp.at("outside/keep.txt"), "precious");
    make_dirs(tmp.at("t"));
    ASSERT_EQ(symlink(tmp.at("outside").c_str(), tmp.at("t/link").c_str()), 0);
    delete_tree(tmp.win("t").c_str());
    EXPECT_FALSE(file_exists(tmp.at("t")));
    EXPECT_EQ(read_file(tmp.at("outside/keep.txt")), "precious");
}

TEST_F(DeleteTree, AMissingPathIsQuietlyNothing) {
    delete_tree(tmp.win("does-not-exist").c_str());
    EXPECT_TRUE(file_exists(tmp.path()));
}

TEST_F(DeleteTree, AFileThatCannotBeDeletedStaysWithItsParentsAndTheRestGoes) {
    write_file(tmp.at("t/keep/locked.txt"), "busy");
    write_file(tmp.at("t/keep/other.txt"), "o");
    write_file(tmp.at("t/gone/x.txt"), "x");
    FakePlatform fake;
    fake.ops.delete_file = [](const char* path) {
        if (std::strstr(path, "locked.txt")) return false;
        return plat_native_ops().delete_file(path);
    };
    delete_tree(tmp.win("t").c_str());
    EXPECT_TRUE(file_exists(tmp.at("t/keep/locked.txt")));
    EXPECT_FALSE(file_exists(tmp.at("t/keep/other.txt")));
    EXPECT_FALSE(file_exists(tmp.at("t/gone")));
}

}  // namespace
