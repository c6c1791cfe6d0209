// The posix layer keeps the Windows semantics the core relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "peer_tools.h"
#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "platform/posix/wildcard.h"
#include "support.h"

namespace {

class PosixFiles : public ::testing::Test {
protected:
    TempDir tmp;
    std::string w(const std::string& rel) { return tmp.win(rel); }
};

TEST_F(PosixFiles, BackslashPathsReachTheFileSystem) {
    ASSERT_EQ(plat_mkdir(w("a").c_str()), 0);
    EXPECT_EQ(plat_mkdir(w("a").c_str()), -1);
    EXPECT_EQ(plat_mkdir(w("x\\y").c_str()), -1);
    FILE* f = plat_fopen(w("a\\f.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("hi", f);
    std::fclose(f);
    EXPECT_EQ(read_file(tmp.at("a/f.txt")), "hi");
    EXPECT_EQ(plat_fopen(w("a").c_str(), "rb"), nullptr);
}

// Moves replace only when asked; copies honour fail-if-exists, never copy a
// directory and refuse to copy a file onto itself.
TEST_F(PosixFiles, MovesAndCopiesReplaceOnlyWhenAskedAndOnlyFiles) {
    write_file(tmp.at("from"), "new");
    write_file(tmp.at("to"), "old");
    make_dirs(tmp.at("dir"));
    EXPECT_FALSE(plat_move_file(w("from").c_str(), w("to").c_str()));
    EXPECT_FALSE(plat_move_file(w("missing").c_str(), w("other").c_str()));
    EXPECT_FALSE(plat_copy_file(w("from").c_str(), w("to").c_str(), true));
    EXPECT_EQ(read_file(tmp.at("to")), "old");
    EXPECT_TRUE(plat_copy_file(w("from").c_str(), w("to").c_str(), false));
    EXPECT_EQ(read_file(tmp.at("to")), "new");
    EXPECT_FALSE(plat_copy_file(w("dir").c_str(), w("dir2").c_str(), false));
    EXPECT_FALSE(plat_copy_file(w("to").c_str(), w("to").c_str(), false));
    EXPECT_EQ(read_file(tmp.at("to")), "new");
    write_file(tmp.at("from"), "newer");
    EXPECT_TRUE(plat_move_file_replace(w("from").c_str(), w("to").c_str()));
    EXPECT_EQ(read_file(tmp.at("to")), "newer");
    EXPECT_FALSE(plat_move_file_replace(w("to").c_str(), w("dir").c_str()));
}

TEST_F(PosixFiles, DeletionDistinguishesFilesDirectoriesLinksAndReadOnly) {
    make_dirs(tmp.at("d/sub"));
    EXPECT_FALSE(plat_delete_file(w("d").c_str()));
    EXPECT_FALSE(plat_remove_directory(w("d").c_str()));
    EXPECT_TRUE(plat_remove_directory(w("d\\sub").c_str()));
    write_file(tmp.at("ro"), "x");
    ASSERT_TRUE(plat_set_file_attributes(w("ro").c_str(), PLAT_ATTR_READONLY));
    EXPECT_EQ(plat_get_file_attributes(w("ro").c_str()), PLAT_ATTR_READONLY);
    EXPECT_FALSE(plat_delete_file(w("ro").c_str()));
    ASSERT_TRUE(plat_set_file_attributes(w("ro").c_str(), PLAT_ATTR_NORMAL));
    EXPECT_TRUE(plat_delete_file(w("ro").c_str()));
    EXPECT_EQ(plat_get_file_attributes(w("ro").c_str()), PLAT_INVALID_ATTRIBUTES);
    // A link to a directory is a reparse point, removed as a directory
    // without touching what it points to.
    write_file(tmp.at("d/keep"), "k");
    ASSERT_EQ(symlink(tmp.at("d").c_str(), tmp.at("link").c_str()), 0);
    EXPECT_EQ(plat_get_file_attributes(w("link").c_str()), PLAT_ATTR_DIRECTORY | PLAT_ATTR_REPARSE_POINT);
    EXPECT_FALSE(plat_delete_file(w("link").c_str()));
    EXPECT_TRUE(plat_remove_directory(w("link").c_str()));
    EXPECT_EQ(read_file(tmp.at("d/keep")), "k");
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

TEST_F(PosixFiles, ListingsMatchLikeWindowsAndSortWithoutRegardToCase) {
    for (const char* name : {"app.10", "APP.2", "app", "apple", "b.txt", "App.1"}) make_dirs(tmp.at(name));
    EXPECT_EQ(list(w("app.*")), (std::vector<std::string>{"app", "App.1", "app.10", "APP.2"}));
    EXPECT_EQ(list(w("*")), (std::vector<std::string>{".", "..", "app", "App.1", "app.10", "APP.2", "apple", "b.txt"}));
    EXPECT_TRUE(list(w("zzz*")).empty());
    EXPECT_TRUE(list(w("missing\\*")).empty());
    // The name rules on their own: "*" and "?" without regard to case, and
    // "name.*" also matching the bare name.
    for (auto [pattern, name, matches] : {std::tuple{"*", "anything.txt", true}, {"a?c", "ABC", true},
                                          {"a?c", "ac", false}, {"app.*", "app.", true}, {"app.*", "app", true},
                                          {"app.*", "apple", false}, {"*.log", "game.1.log", true}})
        EXPECT_EQ(windows_name_matches(pattern, name), matches) << pattern << " on " << name;
}

// A key is a folder under $PELKO_REGISTRY_ROOT, a value a file holding
// exactly the stored bytes; the unnamed value is "(Default)".
TEST_F(PosixFiles, RegistryKeysAreFoldersAndValuesFilesOfTheStoredBytes) {
    const char* saved = std::getenv("PELKO_REGISTRY_ROOT");
    const std::string old = saved ? saved : "";
    setenv("PELKO_REGISTRY_ROOT", tmp.at("hkcu").c_str(), 1);
    plat_reg_key key = nullptr, sub = nullptr;
    EXPECT_TRUE(plat_reg_create_key(nullptr, "Software\\Classes\\p", &key) &&
                plat_reg_create_key(key, "shell\\open", &sub) && plat_reg_set_string(key, "URL Protocol", "", 1) &&
                plat_reg_set_string(sub, nullptr, "\"g.exe\" \"%1\"", 13));
    if (key) plat_reg_close_key(key);
    if (sub) plat_reg_close_key(sub);
    saved ? setenv("PELKO_REGISTRY_ROOT", old.c_str(), 1) : unsetenv("PELKO_REGISTRY_ROOT");
    const std::string k = "Software/Classes/p";
    EXPECT_EQ(snapshot_tree(tmp.at("hkcu")),
              (std::map<std::string, std::string>{{"Software", "<dir>"}, {"Software/Classes", "<dir>"}, {k, "<dir>"},
                                                  {k + "/URL Protocol", std::string(1, '\0')},
                                                  {k + "/shell", "<dir>"}, {k + "/shell/open", "<dir>"},
                                                  {k + "/shell/open/(Default)", std::string("\"g.exe\" \"%1\"\0", 13)}}));
}

TEST(CommandLine, SplitsByTheCRuntimeRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_command_line("\"C:\\a b\\g.exe\" \"C:\\r.nds\" x  y"), (V{"C:\\a b\\g.exe", "C:\\r.nds", "x", "y"}));
    EXPECT_EQ(split_command_line("prog a\\\\\"b c\" d"), (V{"prog", "a\\b c", "d"}));
    EXPECT_EQ(split_command_line("prog a\\\"b"), (V{"prog", "a\"b"}));
    EXPECT_EQ(split_command_line("prog a\\b \"\""), (V{"prog", "a\\b", ""}));
    EXPECT_EQ(split_command_line("\"C:\\dir\\\" next"), (V{"C:\\dir\\", "next"}));
}

TEST_F(PosixFiles, AStartedProcessWritesIntoTheOutputFileAMissingProgramDoesNotStart) {
    plat_handle out = plat_create_output_file(w("game.log").c_str());
    ASSERT_NE(out, nullptr);
    std::string line = "\"" STUB_GAME_PATH "\" \"two words\" 3";
    plat_process p{};
    ASSERT_TRUE(plat_start_process(line.data(), plat_start_options{true, true, out}, &p));
    plat_close_output_file(out);
    ASSERT_TRUE(plat_wait_process(p, 10000));
    unsigned long code = 99;
    ASSERT_TRUE(plat_process_exit_code(p, &code));
    EXPECT_EQ(code, 0u);
    plat_close_process(&p);
    std::string log = read_file(tmp.at("game.log"));
    for (const char* expected : {"argc=3\n", "argv[1]=two words\n", "argv[2]=3\n"})
        EXPECT_NE(log.find(expected), std::string::npos) << expected << " in " << log;
    char missing[] = "\"/no/such/program\" x";
    EXPECT_FALSE(plat_start_process(missing, plat_start_options{}, &p));
}

TEST(Utf, ConversionsFollowTheCodePageContract) {
    char16_t wide[8];
    EXPECT_EQ(plat_utf8_to_wide("h\xC3\xA9", -1, wide, 8), 3);
    EXPECT_EQ(wide[1], u'\u00e9');
    EXPECT_EQ(plat_utf8_to_wide("abcdefghij", -1, wide, 8), 0);
    char narrow[8];
    const char16_t snow[] = u"\u2603!";
    EXPECT_EQ(plat_wide_to_utf8(snow, -1, narrow, 8), 5);
    EXPECT_STREQ(narrow, "\xE2\x98\x83!");
    EXPECT_EQ(plat_wide_to_utf8(snow, -1, narrow, 4), 0);
    const char16_t lone[] = {0xD800, u'x', 0};
    EXPECT_EQ(plat_wide_to_utf8(lone, -1, narrow, 8), 5);
    EXPECT_STREQ(narrow, "\xEF\xBF\xBDx");
}

}  // namespace
