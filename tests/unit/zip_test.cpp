// ZIP extraction: archives written by Info-ZIP zip, Python's zipfile, 7-Zip
// and bsdtar unpack to the tree they were made from; hand-built archives cover
// every skip, end-of-walk and -1 rule. Every walk is made from an exact-size
// heap buffer (a read outside fails under AddressSanitizer) and beside the
// reference walk, which must hand on exactly the same.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codecs/zip.h"
#include "peer_tools.h"
#include "support.h"
#include "tests/reference/zip_ref.h"

namespace {

using Tree = std::map<std::string, std::string>;

// ---------------------------------------------------------------------------
// Building archives by hand

// Little-endian fields, each a value and its width in bytes.
void put(std::string& s, std::initializer_list<std::pair<uint64_t, int>> fields) {
    for (auto [value, width] : fields)
        for (int i = 0; i < width; ++i) s += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// archive with one field replaced.
std::string with_field(std::string archive, size_t at, uint64_t value, int width) {
    std::string field;
    put(field, {{value, width}});
    return archive.replace(at, field.size(), field);
}

// One entry as the writer means it; the optional fields override what a
// correct writer would put in the central directory.
struct Entry {
    std::string name;
    std::string content;
    uint16_t method = 0;  // 8, and 9 (Deflate64, which zlib's streams also are): deflated; else content as it is
    std::optional<uint32_t> crc{};           // central CRC
    std::optional<uint32_t> compressed{};    // central compressed size
    std::optional<uint32_t> uncompressed{};  // central uncompressed size
    bool streamed = false;  // local header with zero CRC and sizes, data descriptor after the data
};

struct Layout {
    std::vector<size_t> local;    // offset of each local header
    std::vector<size_t> central;  // offset of each central header
    size_t end_record = 0;
};

std::string build_zip(const std::vector<Entry>& entries, const std::string& comment = "", Layout* layout = nullptr) {
    std::string archive, central;
    Layout where;
    for (const Entry& e : entries) {
        std::string data = e.method == 8 || e.method == 9 ? zlib_raw_deflate(e.content, 6) : e.content;
        uint32_t crc = zlib_crc32(e.content);
        uint16_t flags = e.streamed ? 0x0008 : 0;
        where.local.push_back(archive.size());
        where.central.push_back(central.size());
        put(archive, {{0x04034b50, 4}, {20, 2}, {flags, 2}, {e.method, 2}, {0, 4}, {e.streamed ? 0 : crc, 4},
                      {e.streamed ? 0 : data.size(), 4}, {e.streamed ? 0 : e.content.size(), 4},
                      {e.name.size(), 2}, {4, 2}});
        // An empty extra block, so its length matters.
        archive += e.name + std::string("\xfe\xca\x00\x00", 4) + data;
        if (e.streamed) put(archive, {{0x08074b50, 4}, {crc, 4}, {data.size(), 4}, {e.content.size(), 4}});
        put(central, {{0x02014b50, 4}, {20, 2}, {20, 2}, {flags, 2}, {e.method, 2}, {0, 4}, {e.crc.value_or(crc), 4},
                      {e.compressed.value_or(data.size()), 4}, {e.uncompressed.value_or(e.content.size()), 4},
                      {e.name.size(), 2}, {0, 2}, {3, 2}, {0, 4}, {0, 4}, {where.local.back(), 4}});
        central += e.name + "c/c";  // a comment, so its length matters too
    }
    size_t central_offset = archive.size();
    for (size_t& offset : where.central) offset += central_offset;
    archive += central;
    where.end_record = archive.size();
    put(archive, {{0x06054b50, 4}, {0, 4}, {entries.size(), 2}, {entries.size(), 2}, {central.size(), 4},
                  {central_offset, 4}, {comment.size(), 2}});
    if (layout) *layout = where;
    return archive + comment;
}

// ---------------------------------------------------------------------------
// Running the walk

// What a walk over memory hands its sink.
struct Recorded {
    std::vector<std::string> directories;
    std::vector<std::pair<std::string, std::string>> files;
};

zip_sink recording_sink(Recorded* recorded) {
    return {recorded, [](void* r, const char* path) { static_cast<Recorded*>(r)->directories.push_back(path); },
            [](void* r, const char* path, const uint8_t* data, uint64_t size) {
                static_cast<Recorded*>(r)->files.push_back({path, std::string(reinterpret_cast<const char*>(data), size)});
                return true;
            }};
}

// Walks a copy of archive held in a heap block of exactly its size, and the
// reference walk beside it, which must return the same and hand its sink the
// same directories and files in the same order.
int walk(const std::string& archive, Recorded* recorded = nullptr, const char* dest = "D:\\out") {
    std::vector<uint8_t> exact(archive.begin(), archive.end());
    const uint8_t* data = exact.empty() ? nullptr : exact.data();
    Recorded ignored, expected;
    if (!recorded) recorded = &ignored;
    zip_sink sink = recording_sink(recorded), reference_sink = recording_sink(&expected);
    int result = zip_extract_from_memory(data, exact.size(), dest, &sink);
    EXPECT_EQ(result, zip_ref_extract_from_memory(data, exact.size(), dest, &reference_sink))
        << "the reference walk returns another count";
    EXPECT_EQ(recorded->directories, expected.directories) << "the reference walk makes other directories";
    EXPECT_EQ(recorded->files, expected.files) << "the reference walk hands on other files";
    return result;
}

// Extraction through the file layer, into a destination the test creates
// first (as the bundle installation does); the archive is also walked in
// memory beside the reference walk.
class ZipFiles : public ::testing::Test {
protected:
    TempDir tmp;

    int extract(const std::string& archive, const std::string& dest = "out") {
        write_file(tmp.at("archive.zip"), archive);
        make_dirs(tmp.at(dest));
        walk(archive);
        return zip_extract_all(tmp.win("archive.zip").c_str(), tmp.win(dest).c_str());
    }
    Tree out(const std::string& dest = "out") { return snapshot_tree(tmp.at(dest)); }
};

// ---------------------------------------------------------------------------
// Archives from real writers

// One archive writer: its name, the command that writes {out} in the source
// tree, and whether its first entry has a data descriptor after its data and
// zeros in its local header.
struct Writer {
    const char* name;
    const char* command;
    bool streams;
};

const Writer kWriters[] = {
    {"InfoZipStored", "zip -q -r -0 {out} .", false},
    {"InfoZipDeflated", "zip -q -r -9 {out} .", false},
    // Written to a pipe, zip cannot seek back to fill in sizes.
    {"InfoZipStreamed", "zip -q -r - . | cat > {out}", true},
    // Streamed to a pipe too (its first entry is a directory, without a
    // descriptor); stored and deflated entries mixed, directories as entries.
    {"PythonZipfile", R"py(python3 -c "
import os, sys, zipfile
z = zipfile.ZipFile(sys.stdout.buffer, 'w')
for root, dirs, files in sorted(os.walk('.')):
    for d in sorted(dirs):
        z.write(os.path.join(root, d)[2:], os.path.join(root, d)[2:] + '/')
    for i, f in enumerate(sorted(files)):
        p = os.path.join(root, f)[2:]
        z.write(p, p, zipfile.ZIP_DEFLATED if i % 2 == 0 else zipfile.ZIP_STORED, 9)
z.close()" | cat > {out})py",
     false},
    {"SevenZipDeflate", "7zz a -tzip -mm=Deflate -mx=9 -bso0 -bsp0 {out} .", false},
    {"SevenZipStored", "7zz a -tzip -mx=0 -bso0 -bsp0 {out} .", false},
    // bsdtar names every entry "./..." and streams its files.
    {"Bsdtar", "bsdtar -a -cf {out} .", false},
    {"BsdtarStored", "bsdtar --options zip:compression=store -a -cf {out} .", false},
};

class ZipWriters : public ZipFiles, public ::testing::WithParamInterface<Writer> {};

TEST_P(ZipWriters, ArchivesExtractToTheTreeTheyWereMadeFrom) {
    write_file(tmp.at("src/readme.txt"), mixed_content(5000, 11));
    write_file(tmp.at("src/bin/game.exe"), mixed_content(200 * 1024, 12));
    write_file(tmp.at("src/bin/data/level1.dat"), random_bytes(30 * 1024, 13));
    write_file(tmp.at("src/bin/data/empty.cfg"), "");
    write_file(tmp.at("src/deep/a/b/c/note.txt"), "deep\n");
    write_file(tmp.at("src/my file.txt"), std::string(3000, 'z'));
    make_dirs(tmp.at("src/saves"));
    const Tree source = out("src");
    std::string archive = tmp.at("archive.zip"), command = GetParam().command;
    command.replace(command.find("{out}"), 5, shell_quote(archive));
    ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.at("src")) + " && " + command));
    EXPECT_EQ((read_file(archive)[6] & 0x08) != 0, GetParam().streams) << "data descriptor flag of the first entry";
    EXPECT_EQ(extract(read_file(archive)), 6);  // the files, not the directories
    EXPECT_EQ(out(), source);
}

INSTANTIATE_TEST_SUITE_P(ZipPeers, ZipWriters, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Archives written by hand

TEST_F(ZipFiles, TheEndRecordNearestTheEndWithinReachIsTheOneUsed) {
    EXPECT_EQ(extract(build_zip({{"a.txt", "alpha"}}, std::string(65535, 'c'))), 1);  // the longest comment
    EXPECT_EQ(out(), (Tree{{"a.txt", "alpha"}}));
    // The scan reaches 65,999 bytes back from the end: whatever follows the
    // record (here, bytes that are not a comment) decides.
    std::string archive = build_zip({{"a.txt", "alpha"}});
    EXPECT_EQ(walk(archive + std::string(65999 - 22, '\0')), 1);
    EXPECT_EQ(extract(archive + std::string(65999 - 22 + 1, '\0')), -1);
    // Of two end records the later one counts: here it points at the second
    // of two central headers and names one entry.
    Layout layout;
    archive = build_zip({{"first.txt", "1"}, {"second.txt", "2"}}, "", &layout);
    put(archive, {{0x06054b50, 4}, {0, 4}, {1, 2}, {1, 2}, {layout.end_record - layout.central[1], 4},
                  {layout.central[1], 4}, {0, 2}});
    EXPECT_EQ(extract(archive, "later"), 1);
    EXPECT_EQ(out("later"), (Tree{{"second.txt", "2"}}));
}

TEST_F(ZipFiles, EntriesOfEveryKindAreWrittenWhereTheirNamesSay) {
    std::string big = mixed_content(100000, 15);
    Entry streamed{"streamed.bin", big, 8}, streamed_stored{"streamed.txt", "plain"};
    streamed.streamed = streamed_stored.streamed = true;
    EXPECT_EQ(extract(build_zip({{"stored.txt", "plain text"}, {"deflated.bin", big, 8}, streamed, streamed_stored,
                                 {"empty.txt", ""}, {"empty.bin", "", 8}, {"a/b.txt", "slash"},
                                 {"a\\c.txt", "backslash"}, {"dup.txt", "first, and longer"}, {"dup.txt", "second"}})),
              10);
    EXPECT_EQ(out(), (Tree{{"stored.txt", "plain text"}, {"deflated.bin", big}, {"streamed.bin", big},
                           {"streamed.txt", "plain"}, {"empty.txt", ""}, {"empty.bin", ""}, {"a", "<dir>"},
                           {"a/b.txt", "slash"}, {"a/c.txt", "backslash"}, {"dup.txt", "second"}}));
}

TEST_F(ZipFiles, EachBadEntryIsSkippedWhileTheOthersAreWritten) {
    std::string text = mixed_content(4000, 17);
    uint32_t size = static_cast<uint32_t>(text.size());
    FakePlatform fake;
    fake.fail = [](const std::string& op, const std::string& path) {
        return op == "fopen wb" && path.find("locked.dll") != std::string::npos;
    };
    Layout layout;
    // Fields: name, content, method, then the central CRC, compressed and
    // uncompressed sizes where they differ from the truth.
    std::string archive = build_zip(
        {
            {"sig.txt", "s"}, {"far.txt", "f"}, {"past.txt", "p"},  // local headers and data broken below
            {"first.txt", "1"},
            {"../x", "escaped"}, {"a/../b", "escaped"}, {"notes..txt", "escaped"}, {"C:x", "escaped"},
            {"/x", "escaped"}, {"\\x", "escaped"}, {"sub/..", "escaped"}, {"..", "escaped"},
            {"middle.bin", text, 8, zlib_crc32(text) ^ 1}, {"stored-bad.txt", "abc", 0, zlib_crc32("abd")},
            {"keep/dir/bad.txt", "x", 0, 0},  // its parent directories stay
            {"packed.bz2", "BZh91AY&SY", 12}, {"d64.bin", "xxxxxxxx", 9},
            {"stored.txt", "12345", 0, zlib_crc32("1234"), {}, 4},  // one byte less, with the CRC of those bytes
            {"short.bin", text, 8, {}, {}, size + 1}, {"long.bin", text, 8, {}, {}, size - 1},
            {"huge.bin", text, 8, {}, {}, 0xFFFFFFF0u},  // never allocated: deflate cannot grow that far
            {"stored-huge.bin", "tiny", 0, {}, {}, 0xFFFFFFF0u},
            {"locked.dll", "cannot be created"},
            {"last.txt", "2"},
        },
        "", &layout);
    archive[layout.local[0]] = 'X';                                                // local signature broken
    archive = with_field(archive, layout.central[1] + 42, archive.size() - 10, 4);  // local header past the end
    archive = with_field(archive, layout.central[2] + 20, archive.size(), 4);       // data past the end, stored
    archive = with_field(archive, layout.central[2] + 24, archive.size(), 4);       // with sizes agreeing
    EXPECT_EQ(extract(archive), 2);
    EXPECT_EQ(out(), (Tree{{"first.txt", "1"}, {"keep", "<dir>"}, {"keep/dir", "<dir>"}, {"last.txt", "2"}}));
    for (const auto& [path, content] : snapshot_tree(tmp.path()))
        EXPECT_TRUE(path == "archive.zip" || path.rfind("out", 0) == 0) << path << " beside the destination";
}

// A header that does not fit, whose signature is wrong or whose name, extra
// field or comment would run past the end ends the walk: what follows cannot
// be located. The entries before it stay.
TEST_F(ZipFiles, AHeaderThatCannotBeReadEndsTheWalk) {
    Layout layout;
    const std::string archive = build_zip({{"1.txt", "1"}, {"2.txt", "2"}, {"3.txt", "3"}}, "", &layout);
    EXPECT_EQ(walk(with_field(archive, layout.central[1] + 3, 9, 1)), 1);
    for (size_t field : {28, 30, 32}) EXPECT_EQ(walk(with_field(archive, layout.central[2] + field, 0xFFFF, 2)), 2);
    EXPECT_EQ(walk(with_field(archive, layout.end_record + 10, 500, 2)), 3);  // more entries than the directory holds
}

TEST_F(ZipFiles, AnArchiveWithoutAUsableDirectoryGivesMinusOne) {
    make_dirs(tmp.at("out"));
    make_dirs(tmp.at("a-directory.zip"));
    EXPECT_EQ(zip_extract_all(tmp.win("missing.zip").c_str(), tmp.win("out").c_str()), -1);
    EXPECT_EQ(zip_extract_all(tmp.win("a-directory.zip").c_str(), tmp.win("out").c_str()), -1);

    Layout layout;
    const std::string good = build_zip({{"a.txt", "a"}}, "", &layout);
    std::vector<std::string> unusable = {
        "", std::string(21, 'P'), good.substr(good.size() - 21),  // shorter than an end record
        with_field(good, layout.end_record, 'Q', 1),               // no end record
        with_field(good, layout.end_record + 16, good.size(), 4),  // the directory starts outside
        with_field(good, layout.end_record + 10, 0, 2),            // no entries
        with_field(good, layout.end_record + 16, good.size() - 30, 4),  // 30 bytes left for a 46-byte header
    };
    for (uint32_t size : {1, 21, 22, 100, 4096, 70000, 200000}) unusable.push_back(random_bytes(size, size));
    for (const std::string& archive : unusable) EXPECT_EQ(extract(archive), -1) << archive.size() << " bytes";
    EXPECT_TRUE(out().empty());
}

// Every truncation loses the end record. Random damage may change what is
// written, but the count stays within the entries and every read stays inside
// the buffer (which AddressSanitizer checks in the native-asan build).
TEST(ZipWalk, TruncatedOrDamagedArchivesNeverReadOutsideTheBuffer) {
    const std::vector<Entry> entries = {
        {"a/", ""}, {"a/one.txt", mixed_content(600, 19), 8}, {"two.txt", "two"}, {"three.bin", mixed_content(900, 20), 8}};
    std::string archive = build_zip(entries);
    ASSERT_EQ(walk(archive), 3);
    for (size_t cut = 0; cut < archive.size(); ++cut) ASSERT_EQ(walk(archive.substr(0, cut)), -1) << "cut at " << cut;
    archive = build_zip(entries, "comment");
    std::mt19937 engine(21);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = archive;
        int flips = 1 + static_cast<int>(engine() % 4);
        for (int i = 0; i < flips; ++i) damaged[engine() % damaged.size()] = static_cast<char>(engine() & 0xFF);
        if (engine() % 4 == 0) damaged.resize(engine() % damaged.size());
        Recorded r;
        int result = walk(damaged, &r);
        ASSERT_TRUE(result >= -1 && result <= 4) << result;
        ASSERT_EQ(static_cast<size_t>(result < 0 ? 0 : result), r.files.size());
    }
}

// ---------------------------------------------------------------------------
// What the walk hands to its sink

// Directories are made level by level after the first character; names and
// paths longer than their buffers are cut.
TEST(ZipWalk, DirectoriesAreMadeLevelByLevelAndLongNamesAreCut) {
    Recorded r;
    EXPECT_EQ(walk(build_zip({{"saves\\slot1\\", ""}})), 0);  // directories only: no file, yet not -1
    EXPECT_EQ(walk(build_zip({{"a/b/", ""}, {"c/f.txt", "f"}}), &r, "D:/out"), 1);
    std::vector<std::string> expected = {
        "D:", "D:\\out", "D:\\out\\a", "D:\\out\\a\\b", "D:\\out\\a\\b\\",  // the directory entry, whole path last
        "D:", "D:\\out", "D:\\out\\c",                                     // the file's parents, not the file
    };
    EXPECT_EQ(r.directories, expected);
    EXPECT_EQ(r.files, (std::vector<std::pair<std::string, std::string>>{{"D:\\out\\c\\f.txt", "f"}}));

    Recorded absolute;
    walk(build_zip({{"x/y.txt", "y"}}), &absolute, "/home/p");
    EXPECT_EQ(absolute.directories, (std::vector<std::string>{"\\home", "\\home\\p", "\\home\\p\\x"}));

    Recorded names;
    EXPECT_EQ(walk(build_zip({{std::string(1500, 'n'), "long"}, {"after.txt", "a"}}), &names, "D"), 2);
    ASSERT_EQ(names.files.size(), 2u);
    EXPECT_EQ(names.files[0].first, "D\\" + std::string(kZipNameSize - 1, 'n'));
    EXPECT_EQ(names.files[1].first, "D\\after.txt");  // the walk still advanced by the full name

    std::string dest(1390, 'd');
    Recorded cut;
    walk(build_zip({{"0123456789abcdef", "x"}}), &cut, dest.c_str());
    ASSERT_EQ(cut.files.size(), 1u);
    EXPECT_EQ(cut.files[0].first, dest + "\\01234567");
    EXPECT_EQ(cut.files[0].first.size(), static_cast<size_t>(kZipOutputPathSize - 1));
}

}  // namespace
