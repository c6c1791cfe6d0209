// The bounded formatter and the directory removal every phase leans on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "services/delete_tree.h"
#include "services/format.h"
#include "support.h"

namespace {

// "C:\ab" is 5 bytes: a smaller buffer gets its first size - 1 and a NUL, one of size 0 nothing, none more.
TEST(FormatInto, ATextIsCutToTheBufferWithANulAndItsWholeLengthReturned) {
    // Each size, and the buffer's 9 bytes afterwards.
    const std::pair<uint64_t, const char*> rows[] = {
        {0, "########"}, {1, "\0#######"}, {5, "C:\\a\0###"}, {6, "C:\\ab\0##"}, {8, "C:\\ab\0##"}};
    for (const auto& [size, after] : rows) {
        char buffer[9] = "########";
        EXPECT_EQ(format_into(buffer, size, "%s%c%s", "C:", kPathSeparator, "ab"), 5) << size;
        EXPECT_EQ(std::string(buffer, 9), std::string(after, 9)) << size;
    }
}

// Read-only files refuse deletion until their attribute is cleared; a directory link goes, its target stays.
TEST(DeleteTree, AllGoesNestedReadOnlyOrDottedButAFileThatCannotBeDeletedTheFoldersAboveItAndWhatALinkPointsTo) {
    TempDir tmp;
    const char* files[] = {"t/a.txt", "t/..x", "t/.hidden", "t/ro/ro.txt", "t/sub/deeper/b.bin", "t/keep/locked.txt"};
    for (const char* file : files) write_file(tmp.at(file), "x");
    chmod(tmp.at("t/ro/ro.txt").c_str(), 0444);
    write_file(tmp.at("outside/keep.txt"), "precious");
    ASSERT_EQ(symlink(tmp.at("outside").c_str(), tmp.at("t/sub/link").c_str()), 0);
    FakePlatform fake;
    fake.fail = [](const auto& op, const auto& p) { return op == "delete" && p.find("locked") != p.npos; };
    delete_tree(tmp.win("t").c_str());
    for (const char* file : files) EXPECT_EQ(file_exists(tmp.at(file)), file == files[5]) << file;
    EXPECT_FALSE(file_exists(tmp.at("t/sub")));
    EXPECT_FALSE(file_exists(tmp.at("t/ro")));
    EXPECT_EQ(read_file(tmp.at("outside/keep.txt")), "precious");
}

}  // namespace
