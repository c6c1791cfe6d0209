// The posix layer keeps the Windows semantics the core relies on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/wildcard.h"
#include "support.h"

namespace {

// Moves replace only when asked; copies honour fail-if-exists and never copy a
// directory or a file onto itself; removal tells files, folders and links apart.
TEST(PosixFiles, MovesCopiesAndDeletionsKeepTheWindowsRules) {
    TempDir tmp;
    auto w = [&](const std::string& rel) { return tmp.win(rel); };
    ASSERT_EQ(plat_mkdir(w("dir").c_str()), 0);
    write_file(tmp.at("from"), "new");
    write_file(tmp.at("to"), "old");
    EXPECT_FALSE(plat_move_file(w("from").c_str(), w("to").c_str()));
    EXPECT_FALSE(plat_copy_file(w("from").c_str(), w("to").c_str(), true));
    EXPECT_EQ(read_file(tmp.at("to")), "old");
    EXPECT_TRUE(plat_copy_file(w("from").c_str(), w("to").c_str(), false));
    EXPECT_FALSE(plat_copy_file(w("dir").c_str(), w("dir2").c_str(), false));
    EXPECT_FALSE(plat_copy_file(w("to").c_str(), w("to").c_str(), false));
    EXPECT_EQ(read_file(tmp.at("to")), "new");
    write_file(tmp.at("from"), "newer");
    EXPECT_TRUE(plat_move_file_replace(w("from").c_str(), w("to").c_str()));
    EXPECT_EQ(read_file(tmp.at("to")), "newer");
    EXPECT_FALSE(plat_move_file_replace(w("to").c_str(), w("dir").c_str()));

    write_file(tmp.at("dir/keep"), "k");
    EXPECT_FALSE(plat_delete_file(w("dir").c_str()));
    EXPECT_FALSE(plat_remove_directory(w("dir").c_str()));
    ASSERT_TRUE(plat_set_file_attributes(w("to").c_str(), PLAT_ATTR_READONLY));
    EXPECT_EQ(plat_get_file_attributes(w("to").c_str()), PLAT_ATTR_READONLY);
    EXPECT_FALSE(plat_delete_file(w("to").c_str()));
    ASSERT_TRUE(plat_set_file_attributes(w("to").c_str(), PLAT_ATTR_NORMAL));
    EXPECT_TRUE(plat_delete_file(w("to").c_str()));
    EXPECT_EQ(plat_get_file_attributes(w("to").c_str()), PLAT_INVALID_ATTRIBUTES);
    // A link to a directory is a reparse point, removed without its target.
    ASSERT_EQ(symlink(tmp.at("dir").c_str(), tmp.at("link").c_str()), 0);
    EXPECT_EQ(plat_get_file_attributes(w("link").c_str()), PLAT_ATTR_DIRECTORY | PLAT_ATTR_REPARSE_POINT);
    EXPECT_FALSE(plat_delete_file(w("link").c_str()));
    EXPECT_TRUE(plat_remove_directory(w("link").c_str()));
    EXPECT_EQ(read_file(tmp.at("dir/keep")), "k");
}

std::vector<std::string> list(const std::string& pattern) {
    std::vector<std::string> names;
    plat_find_data entry;
    plat_find_handle find = plat_find_first(pattern.c_str(), &entry);
    if (!find) return names;
    do names.push_back(entry.name);
    while (plat_find_next(find, &entry));
    plat_find_close(find);
    return names;
}

// "*" and "?" match without regard to case, "name.*" also the bare name, and
// listings come sorted as NTFS lists them.
TEST(PosixFiles, ListingsMatchLikeWindowsAndSortWithoutRegardToCase) {
    TempDir tmp;
    for (const char* name : {"app.10", "APP.2", "app", "apple", "b.txt", "App.1"}) make_dirs(tmp.at(name));
    EXPECT_EQ(list(tmp.win("app.*")), (std::vector<std::string>{"app", "App.1", "app.10", "APP.2"}));
    EXPECT_EQ(list(tmp.win("*")),
              (std::vector<std::string>{".", "..", "app", "App.1", "app.10", "APP.2", "apple", "b.txt"}));
    EXPECT_TRUE(list(tmp.win("missing\\*")).empty());
    for (auto [pattern, name, matches] :
         {std::tuple{"a?c", "ABC", true}, {"a?c", "ac", false}, {"app.*", "app.", true}, {"*.log", "game.1.log", true}})
        EXPECT_EQ(windows_name_matches(pattern, name), matches) << pattern << " on " << name;
}

}  // namespace
