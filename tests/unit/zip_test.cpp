// ZIP extraction: archives of real writers unpack to the tree they were made from; hand-built ones cover every rule.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "codecs/zip.h"
#include "peer_tools.h"
#include "support.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// Little-endian fields, each a value and its width in bytes.
std::string fields(std::initializer_list<std::pair<uint64_t, int>> list) {
    std::string s;
    for (auto [value, width] : list)
        for (int i = 0; i < width; ++i) s += static_cast<char>(value >> (8 * i));
    return s;
}
// archive with a field at `at` in its n-th header of a kind ("\1\2": central, "\3\4": local, "\5\6": end).
std::string with(std::string archive, const char* signature, int n, size_t at, uint64_t value, int width) {
    size_t header = archive.find(std::string("PK") + signature);
    while (n-- > 0) header = archive.find(std::string("PK") + signature, header + 1);
    return archive.replace(header + at, width, fields({{value, width}}));
}

// One entry; the optional fields override what the central directory should say.
struct Entry {
    std::string name, content;
    uint16_t method = 0;  // 8: deflated by zlib; any other: the content as it is
    std::optional<uint32_t> crc{}, compressed{}, uncompressed{};
};

// Local headers carry an extra block and central headers a comment: their lengths matter.
std::string build_zip(const std::vector<Entry>& entries) {
    std::string archive, central;
    for (const Entry& e : entries) {
        const std::string data = e.method == 8 ? zlib_raw_deflate(e.content, 6) : e.content;
        const uint32_t crc = zlib_crc32(e.content);
        // clang-format off
        central += fields({{0x02014b50, 4}, {20, 2}, {20, 4}, {e.method, 2}, {0, 4}, {e.crc.value_or(crc), 4},
                           {e.compressed.value_or(data.size()), 4}, {e.uncompressed.value_or(e.content.size()), 4},
                           {e.name.size(), 2}, {0, 2}, {3, 2}, {0, 8}, {archive.size(), 4}}) + e.name + "c/c";
        archive += fields({{0x04034b50, 4}, {20, 4}, {e.method, 2}, {0, 4}, {crc, 4}, {data.size(), 4},
                           {e.content.size(), 4}, {e.name.size(), 2}, {4, 2}}) + e.name + fields({{0xCAFE, 4}}) + data;
    }
    return archive + central + fields({{0x06054b50, 4}, {0, 4}, {entries.size(), 2}, {entries.size(), 2},
                                       {central.size(), 4}, {archive.size(), 4}, {0, 2}});
    // clang-format on
}

// A walk over a copy of exactly the archive's size, and what it handed its sink.
struct Walk {
    explicit Walk(const std::string& archive, const char* dest = "D") {
        const std::vector<uint8_t> exact(archive.begin(), archive.end());
        zip_sink sink = {this, [](void* s, const char* path) { static_cast<Walk*>(s)->dirs.push_back(path); },
                         [](void* s, const char* path, const uint8_t* data, uint64_t size) {
                             static_cast<Walk*>(s)->files.push_back({path, std::string(data, data + size)});
                             return true;
                         },
                         nullptr};
        result = zip_extract_from_memory(exact.empty() ? nullptr : exact.data(), exact.size(), dest, &sink);
        EXPECT_EQ(result < 0 ? 0 : result, static_cast<int>(files.size())) << "the count is of the files handed on";
    }
    int result;
    std::vector<std::string> dirs;
    Files files;
};

class ZipWriters : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

// Each run in the source tree, writing ../a.zip. Written to a pipe, zip cannot seek back: it puts sizes in data
// descriptors, as bsdtar always does (naming every entry "./...").
const std::pair<std::string, std::string> kWriters[] = {
    // clang-format off
    {"InfoZipStored", "zip -q -r -0 ../a.zip ."}, {"InfoZipDeflated", "zip -q -r -9 ../a.zip ."},
    {"InfoZipStreamed", "zip -q -r - . | cat > ../a.zip"}, {"PythonZipfile", "python3 -m zipfile -c ../a.zip ."},
    {"SevenZipDeflate", "7zz a -tzip -mm=Deflate -mx=9 -bso0 -bsp0 ../a.zip ."},
    {"SevenZipStored", "7zz a -tzip -mx=0 -bso0 -bsp0 ../a.zip ."}, {"Bsdtar", "bsdtar -a -cf ../a.zip ."},
    // clang-format on
};

// Through the file layer, into a destination made first as installs do; a file that cannot be created does not count.
TEST_P(ZipWriters, ArchivesExtractToTheTreeTheyWereMadeFrom) {
    TempDir tmp;
    FakePlatform fake;
    fake.fail = [](const std::string&, const std::string& path) { return path.find("locked") < path.size(); };
    // clang-format off
    for (const auto& [name, content] : Files{{"readme.txt", mixed_content(5000, 11)}, {"locked.dll", "not created"},
                                             {"bin/game.exe", mixed_content(200 << 10, 12)}, {"bin/data/empty", ""},
                                             {"bin/data/level1", random_bytes(30 << 10, 13)}, {"deep/a/b/c/x", "deep"},
                                             {"my file.txt", std::string(3000, 'z')}})
        // clang-format on
        write_file(tmp.at("src/" + name), content);
    make_dirs(tmp.at("src/saves"));
    ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.at("src")) + " && " + GetParam().second));
    make_dirs(tmp.at("out"));
    EXPECT_EQ(zip_extract_all(tmp.win("a.zip").c_str(), tmp.win("out").c_str()), 6);  // files, not folders
    std::remove(tmp.at("src/locked.dll").c_str());  // never created, so left out of the comparison
    EXPECT_EQ(files_below(tmp.at("out"), true), files_below(tmp.at("src"), true));
}

INSTANTIATE_TEST_SUITE_P(ZipPeers, ZipWriters, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return info.param.first; });

// Good entries of every kind land where their names say, and nothing outside; bad ones are skipped, their parents kept.
TEST(ZipEntries, EachBadEntryIsSkippedWhileTheOthersAreWrittenWhereTheirNamesSay) {
    const std::string big = mixed_content(100000, 15), text = mixed_content(4000, 17);
    std::string archive = build_zip({
        // clang-format off
        {"sig.txt", "s"}, {"far.txt", "f"}, {"past.txt", "p"},  // local headers and data broken below
        {"stored.txt", "plain"}, {"deflated.bin", big, 8}, {"empty.txt", ""}, {"empty.bin", "", 8},
        {"a/b.txt", "slash"}, {"a\\c.txt", "backslash"}, {"dup.txt", "first, and longer"}, {"dup.txt", "second"},
        {"../x", "up"}, {"/x", "root"}, {"\\x", "root"}, {"C:x", "drive"},
        {"bad-crc.bin", text, 8, zlib_crc32(text) ^ 1}, {"keep/dir/bad.txt", "x", 0, 0}, {"d64.bin", "xxxxxxxx", 9},
        {"stored-short.txt", "12345", 0, zlib_crc32("1234"), {}, 4},  // one byte less, with the CRC of those bytes
        {"short.bin", text, 8, {}, {}, static_cast<uint32_t>(text.size() + 1)},
        // clang-format on
    });
    archive = with(with(archive, "\x03\x04", 0, 0, 'X', 1), "\x01\x02", 1, 42, archive.size() - 10, 4);
    archive = with(archive, "\x01\x02", 2, 20, archive.size() | uint64_t{archive.size()} << 32, 8);
    const Walk w(archive);
    // clang-format off
    EXPECT_EQ(w.files, (Files{{"D\\stored.txt", "plain"}, {"D\\deflated.bin", big}, {"D\\empty.txt", ""},
                              {"D\\empty.bin", ""}, {"D\\a\\b.txt", "slash"}, {"D\\a\\c.txt", "backslash"},
                              {"D\\dup.txt", "first, and longer"}, {"D\\dup.txt", "second"}}));
    // clang-format on
    EXPECT_EQ(std::set<std::string>(w.dirs.begin(), w.dirs.end()),
              (std::set<std::string>{"D", "D\\a", "D\\keep", "D\\keep\\dir"}));
}

// The end record nearest the end within 65,999 bytes counts. Without one, or with a central directory that cannot be
// walked, the result is -1; a header that cannot be read ends the walk, and the entries before it stay.
TEST(ZipEntries, TheEndRecordAndTheCentralDirectoryDecideHowFarTheWalkGoes) {
    const std::string archive = build_zip({{"1.txt", "1"}, {"2.txt", "2"}, {"3.txt", "3"}});
    EXPECT_EQ(Walk(build_zip({{"saves/", ""}})).result, 0);  // directories only: no file, yet not -1
    for (size_t pad : {65999 - 22, 65999 - 22 + 1})          // the record just within reach, and just out of it
        EXPECT_EQ(Walk(archive + std::string(pad, '\0')).result, pad < 65999 - 22 + 1 ? 3 : -1);
    const auto end2 = fields({{0x06054b50, 4}, {0, 4}, {1, 2}, {1, 2}, {54, 4}, {archive.size() - 54 - 22, 4}, {0, 2}});
    EXPECT_EQ(Walk(archive + end2).files, (Files{{"D\\3.txt", "3"}}));  // a second end record, naming the last header
    EXPECT_EQ(Walk(with(archive, "\x01\x02", 1, 3, 9, 1)).result, 1);   // a signature
    for (size_t at : {28, 30, 32}) EXPECT_EQ(Walk(with(archive, "\x01\x02", 2, at, 0xFFFF, 2)).result, 2);  // lengths
    EXPECT_EQ(Walk(with(archive, "\x05\x06", 0, 10, 500, 2)).result, 3);  // more entries than there are
    for (size_t n = 0; n < archive.size(); ++n) ASSERT_EQ(Walk(archive.substr(0, n)).result, -1) << "cut at " << n;
    EXPECT_EQ(Walk(with(archive, "\x05\x06", 0, 16, archive.size(), 4)).result, -1);  // the directory starts outside
    EXPECT_EQ(Walk(with(archive, "\x05\x06", 0, 10, 0, 2)).result, -1);               // no entries
    EXPECT_EQ(Walk(with(archive, "\x05\x06", 0, 16, archive.size() - 30, 4)).result, -1);  // 30 bytes for 46
    for (const char* path : {"/nonexistent/archive.zip", "/"}) EXPECT_EQ(zip_extract_all(path, "D"), -1) << path;
}

// Directories are made level by level, a directory entry's own path last; names and paths too long are cut.
TEST(ZipEntries, DirectoriesAreMadeLevelByLevelAndLongNamesAreCut) {
    const Walk w(build_zip({{"a/b/", ""}, {std::string(1500, 'n'), "long"}}), "D/o");
    EXPECT_EQ(w.dirs, (std::vector<std::string>{"D", "D\\o", "D\\o\\a", "D\\o\\a\\b", "D\\o\\a\\b\\", "D", "D\\o"}));
    EXPECT_EQ(w.files, (Files{{"D\\o\\" + std::string(kZipNameSize - 1, 'n'), "long"}}));
    const Walk cut(build_zip({{"0123456789abcdef", "x"}}), std::string(1390, 'd').c_str());
    EXPECT_EQ(cut.files, (Files{{std::string(1390, 'd') + "\\01234567", "x"}}));  // kZipOutputPathSize - 1 chars
}

}  // namespace
