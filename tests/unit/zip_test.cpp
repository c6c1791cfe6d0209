// ZIP extraction: archives written by Info-ZIP zip, Python's zipfile, 7-Zip
// and bsdtar unpack to the tree they were made from; hand-built archives cover
// every skip, end-of-walk and -1 rule; truncated, garbage and corrupted
// archives are walked from exact-size heap buffers so that a read outside the
// archive fails under AddressSanitizer. Every walk, and every archive the
// file layer extracts, is also walked by the reference walk, which must hand
// on exactly the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codecs/zip.h"
#include "peer_tools.h"
#include "platform/platform.h"
#include "tests/reference/zip_ref.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Building archives by hand

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

void set32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void set16(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 2; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One entry as the writer means it; the optional fields override what a
// correct writer would put in the central directory.
struct Entry {
    std::string name;
    std::string content;
    uint16_t method = 0;                     // 8: deflated by zlib; anything else: content as it is
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

std::string build_zip(const std::vector<Entry>& entries, const std::string& comment = "",
                      Layout* layout = nullptr) {
    std::string archive;
    std::string central;
    Layout where;
    for (const Entry& e : entries) {
        std::string data = e.method == 8 ? zlib_raw_deflate(e.content, 6) : e.content;
        uint32_t crc = zlib_crc32(e.content);
        size_t local = archive.size();
        where.local.push_back(local);

        put32(archive, 0x04034b50);
        put16(archive, 20);
        put16(archive, e.streamed ? 0x0008 : 0);
        put16(archive, e.method);
        put32(archive, 0);  // time, date
        put32(archive, e.streamed ? 0 : crc);
        put32(archive, e.streamed ? 0 : static_cast<uint32_t>(data.size()));
        put32(archive, e.streamed ? 0 : static_cast<uint32_t>(e.content.size()));
        put16(archive, static_cast<uint32_t>(e.name.size()));
        put16(archive, 4);
        archive += e.name;
        archive += std::string("\xfe\xca\x00\x00", 4);  // an empty extra block, so its length matters
        archive += data;
        if (e.streamed) {
            put32(archive, 0x08074b50);
            put32(archive, crc);
            put32(archive, static_cast<uint32_t>(data.size()));
            put32(archive, static_cast<uint32_t>(e.content.size()));
        }

        where.central.push_back(central.size());
        put32(central, 0x02014b50);
        put16(central, 20);
        put16(central, 20);
        put16(central, e.streamed ? 0x0008 : 0);
        put16(central, e.method);
        put32(central, 0);
        put32(central, e.crc.value_or(crc));
        put32(central, e.compressed.value_or(static_cast<uint32_t>(data.size())));
        put32(central, e.uncompressed.value_or(static_cast<uint32_t>(e.content.size())));
        put16(central, static_cast<uint32_t>(e.name.size()));
        put16(central, 0);  // extra
        put16(central, 3);  // comment
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, static_cast<uint32_t>(local));
        central += e.name;
        central += "c/c";  // a comment, so its length matters too
    }
    size_t central_offset = archive.size();
    for (size_t& offset : where.central) offset += central_offset;
    archive += central;
    where.end_record = archive.size();
    put32(archive, 0x06054b50);
    put32(archive, 0);
    put16(archive, static_cast<uint32_t>(entries.size()));
    put16(archive, static_cast<uint32_t>(entries.size()));
    put32(archive, static_cast<uint32_t>(central.size()));
    put32(archive, static_cast<uint32_t>(central_offset));
    put16(archive, static_cast<uint32_t>(comment.size()));
    archive += comment;
    if (layout) *layout = where;
    return archive;
}

// ---------------------------------------------------------------------------
// Running the walk

// Walks archive beside the reference walk; see walk below.
void walk_alike(const std::string& archive);

// Extraction through the file layer, into a destination the test creates
// first (as the bundle installation does).
class ZipFiles : public ::testing::Test {
protected:
    TempDir tmp;

    int extract(const std::string& archive_bytes, const std::string& dest = "out") {
        write_file(tmp.at("archive.zip"), archive_bytes);
        return extract_file(tmp.at("archive.zip"), dest);
    }
    // Also walks the archive in memory beside the reference walk (walk below).
    int extract_file(const std::string& archive_path, const std::string& dest = "out") {
        make_dirs(tmp.at(dest));
        int result = zip_extract_all(archive_path.c_str(), tmp.win(dest).c_str());
        walk_alike(read_file(archive_path));
        return result;
    }
    std::map<std::string, std::string> out(const std::string& dest = "out") { return snapshot_tree(tmp.at(dest)); }
};

// The walk over memory with a sink that records what it is handed.
struct Recorded {
    std::vector<std::string> directories;
    std::vector<std::pair<std::string, std::string>> files;
    bool refuse_files = false;
};

void record_directory(void* context, const char* path) {
    static_cast<Recorded*>(context)->directories.push_back(path);
}

bool record_file(void* context, const char* path, const uint8_t* data, uint64_t size) {
    auto* r = static_cast<Recorded*>(context);
    if (r->refuse_files) return false;
    r->files.push_back({path, std::string(reinterpret_cast<const char*>(data), size)});
    return true;
}

// Walks a copy of archive held in a heap block of exactly its size, and the
// reference walk beside it, which must return the same and hand its sink the
// same directories and files in the same order.
int walk(const std::string& archive, Recorded* recorded, const char* dest = "D:\\out") {
    std::vector<uint8_t> exact(archive.begin(), archive.end());
    const uint8_t* data = exact.empty() ? nullptr : exact.data();
    size_t directories_before = recorded->directories.size();
    size_t files_before = recorded->files.size();
    zip_sink sink = {recorded, record_directory, record_file};
    int result = zip_extract_from_memory(data, exact.size(), dest, &sink);

    Recorded expected;
    expected.refuse_files = recorded->refuse_files;
    zip_sink reference_sink = {&expected, record_directory, record_file};
    int reference_result = zip_ref_extract_from_memory(data, exact.size(), dest, &reference_sink);
    EXPECT_EQ(result, reference_result) << "the reference walk returns another count";
    EXPECT_TRUE(std::equal(recorded->directories.begin() + directories_before, recorded->directories.end(),
                           expected.directories.begin(), expected.directories.end()))
        << "the reference walk makes other directories";
    EXPECT_TRUE(std::equal(recorded->files.begin() + files_before, recorded->files.end(), expected.files.begin(),
                           expected.files.end()))
        << "the reference walk hands on other files";
    return result;
}

int walk(const std::string& archive) {
    Recorded ignored;
    return walk(archive, &ignored);
}

void walk_alike(const std::string& archive) { walk(archive); }

// ---------------------------------------------------------------------------
// Archives from real writers

class ZipPeers : public ZipFiles {
protected:
    void SetUp() override {
        write_file(tmp.at("src/readme.txt"), mixed_content(5000, 11));
        write_file(tmp.at("src/bin/game.exe"), mixed_content(200 * 1024, 12));
        write_file(tmp.at("src/bin/data/level1.dat"), random_bytes(30 * 1024, 13));
        write_file(tmp.at("src/bin/data/empty.cfg"), "");
        write_file(tmp.at("src/deep/a/b/c/note.txt"), "deep\n");
        write_file(tmp.at("src/my file.txt"), std::string(3000, 'z'));
        make_dirs(tmp.at("src/saves"));
        source = snapshot_tree(tmp.at("src"));
        for (const auto& [path, content] : source)
            if (content != "<dir>") ++file_count;
    }

    // Runs command in the source directory ({out} is the archive path) and
    // extracts the archive it writes.
    void expect_same_tree(const std::string& name, const std::string& command) {
        std::string archive = tmp.at(name + ".zip");
        std::string full = "cd " + shell_quote(tmp.at("src")) + " && " + command;
        full.replace(full.find("{out}"), 5, shell_quote(archive));
        ASSERT_TRUE(run_tool(full));
        EXPECT_EQ(extract_file(archive, name), file_count) << name;
        EXPECT_TRUE(out(name) == source) << name;
    }

    std::map<std::string, std::string> source;
    int file_count = 0;
};

TEST_F(ZipPeers, InfoZipStoredAndDeflatedArchivesExtractToTheSourceTree) {
    expect_same_tree("zip-stored", "zip -q -r -0 {out} .");
    expect_same_tree("zip-deflated", "zip -q -r -9 {out} .");
}

// Written to a pipe, zip cannot seek back to fill in sizes, so every entry
// has a data descriptor and zeros in its local header.
TEST_F(ZipPeers, InfoZipStreamedArchivesWithDataDescriptorsExtractToTheSourceTree) {
    expect_same_tree("zip-streamed", "zip -q -r - . | cat > {out}");
    std::string archive = read_file(tmp.at("zip-streamed.zip"));
    ASSERT_GE(archive.size(), 8u);
    EXPECT_TRUE(archive[6] & 0x08) << "the first entry should carry a data descriptor";

    // Standard input as the single entry "-".
    std::string data = mixed_content(20000, 14);
    write_file(tmp.at("piped-in"), data);
    ASSERT_TRUE(run_tool("cat " + shell_quote(tmp.at("piped-in")) + " | zip -q " +
                         shell_quote(tmp.at("stdin.zip")) + " -"));
    EXPECT_EQ(extract_file(tmp.at("stdin.zip"), "stdin"), 1);
    EXPECT_TRUE(read_file(tmp.at("stdin/-")) == data);
}

// zipfile writing to a pipe also streams; stored and deflated entries mixed,
// directories as entries of their own.
TEST_F(ZipPeers, PythonZipfileArchivesExtractToTheSourceTree) {
    const char* script =
        "import os, sys, zipfile\n"
        "z = zipfile.ZipFile(sys.stdout.buffer, 'w')\n"
        "for root, dirs, files in sorted(os.walk('.')):\n"
        "    for d in sorted(dirs):\n"
        "        z.write(os.path.join(root, d)[2:], os.path.join(root, d)[2:] + '/')\n"
        "    for i, f in enumerate(sorted(files)):\n"
        "        p = os.path.join(root, f)[2:]\n"
        "        z.write(p, p, zipfile.ZIP_DEFLATED if i % 2 == 0 else zipfile.ZIP_STORED, 9)\n"
        "z.close()\n";
    write_file(tmp.at("write_zip.py"), script);
    expect_same_tree("python", "python3 " + shell_quote(tmp.at("write_zip.py")) + " | cat > {out}");
}

TEST_F(ZipPeers, SevenZipArchivesExtractToTheSourceTree) {
    expect_same_tree("7z-deflate", "7zz a -tzip -mm=Deflate -mx=9 -bso0 -bsp0 {out} .");
    expect_same_tree("7z-fast", "7zz a -tzip -mm=Deflate -mx=1 -bso0 -bsp0 {out} .");
    expect_same_tree("7z-stored", "7zz a -tzip -mx=0 -bso0 -bsp0 {out} .");
}

// bsdtar names every entry "./..." and streams its entries.
TEST_F(ZipPeers, BsdtarArchivesExtractToTheSourceTree) {
    expect_same_tree("bsdtar", "bsdtar -a -cf {out} .");
    expect_same_tree("bsdtar-stored", "bsdtar --options zip:compression=store -a -cf {out} .");
}

// 7-Zip's Deflate64 is method 9: those entries are skipped, the rest of the
// archive (directories, entries 7-Zip chose to store) is not. Which entries
// are which comes from Python's zipfile.
TEST_F(ZipPeers, EntriesInAnUnsupportedMethodAreSkippedOneByOne) {
    std::string archive = tmp.at("deflate64.zip");
    ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.at("src")) + " && 7zz a -tzip -mm=Deflate64 -bso0 -bsp0 " +
                         shell_quote(archive) + " ."));
    std::string listing;
    ASSERT_TRUE(run_tool("python3 -c \"import sys, zipfile\n"
                         "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.compress_type, i.filename)\" " +
                         shell_quote(archive),
                         &listing));
    std::map<std::string, std::string> expected;
    int expected_files = 0;
    int deflate64_entries = 0;
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        std::string line = listing.substr(at, end - at);
        at = end + 1;
        std::string name = line.substr(line.find(' ') + 1);
        bool directory = name.back() == '/';
        if (directory) name.pop_back();
        int method = std::stoi(line.substr(0, line.find(' ')));
        if (method == 9) {
            ++deflate64_entries;
            continue;
        }
        expected[name] = source[name];
        if (!directory) ++expected_files;
    }
    ASSERT_GT(deflate64_entries, 0);
    EXPECT_EQ(extract_file(archive, "d64"), expected_files);
    EXPECT_EQ(out("d64"), expected);
}

// ---------------------------------------------------------------------------
// Where the end record may be

TEST_F(ZipFiles, AnEndRecordWithTheLongestCommentIsFound) {
    std::string archive = build_zip({{"a.txt", "alpha"}}, std::string(65535, 'c'));
    EXPECT_EQ(extract(archive), 1);
    EXPECT_EQ(read_file(tmp.at("out/a.txt")), "alpha");
}

// The record is searched for no further than 65,999 bytes from the end:
// whatever follows it (here, bytes that are not a comment) decides.
TEST_F(ZipFiles, AnEndRecordMoreThan65999BytesBeforeTheEndIsNotFound) {
    std::string archive = build_zip({{"a.txt", "alpha"}});
    std::string at_reach = archive + std::string(65999 - 22, '\0');
    std::string beyond = archive + std::string(65999 - 22 + 1, '\0');
    EXPECT_EQ(walk(at_reach), 1);
    EXPECT_EQ(walk(beyond), -1);
    EXPECT_EQ(extract(beyond), -1);
}

// The scan runs from the end, so of two end records the later one counts: here
// it points at the second of two central headers and names one entry.
TEST_F(ZipFiles, TheEndRecordNearestTheEndIsTheOneUsed) {
    Layout layout;
    std::string archive = build_zip({{"first.txt", "1"}, {"second.txt", "2"}}, "", &layout);
    std::string later;
    put32(later, 0x06054b50);
    put32(later, 0);
    put16(later, 1);
    put16(later, 1);
    put32(later, static_cast<uint32_t>(layout.end_record - layout.central[1]));
    put32(later, static_cast<uint32_t>(layout.central[1]));
    put16(later, 0);
    EXPECT_EQ(extract(archive), 2);
    EXPECT_EQ(extract(archive + later, "later"), 1);
    std::map<std::string, std::string> expected = {{"second.txt", "2"}};
    EXPECT_EQ(out("later"), expected);
}

// ---------------------------------------------------------------------------
// What gets written

TEST_F(ZipFiles, ADirectoryOnlyArchiveWritesNoFilesButCreatesItsDirectories) {
    EXPECT_EQ(extract(build_zip({{"maps/", ""}, {"maps/world/", ""}, {"saves\\slot1\\", ""}})), 0);
    std::map<std::string, std::string> expected = {
        {"maps", "<dir>"}, {"maps/world", "<dir>"}, {"saves", "<dir>"}, {"saves/slot1", "<dir>"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, AZeroLengthFileIsCreatedEmptyAndCounted) {
    Entry stored{"empty.txt", ""};
    Entry deflated{"empty.bin", "", 8};
    EXPECT_EQ(extract(build_zip({stored, deflated})), 2);
    EXPECT_TRUE(file_exists(tmp.at("out/empty.txt")));
    EXPECT_TRUE(file_exists(tmp.at("out/empty.bin")));
    EXPECT_EQ(read_file(tmp.at("out/empty.txt")), "");
    EXPECT_EQ(read_file(tmp.at("out/empty.bin")), "");
}

TEST_F(ZipFiles, StoredDeflatedAndStreamedEntriesExtract) {
    std::string big = mixed_content(100000, 15);
    Entry streamed{"streamed.bin", big, 8};
    streamed.streamed = true;
    Entry streamed_stored{"streamed.txt", "plain", 0};
    streamed_stored.streamed = true;
    EXPECT_EQ(extract(build_zip({{"stored.txt", "plain text"}, {"deflated.bin", big, 8}, streamed, streamed_stored})),
              4);
    EXPECT_EQ(read_file(tmp.at("out/stored.txt")), "plain text");
    EXPECT_TRUE(read_file(tmp.at("out/deflated.bin")) == big);
    EXPECT_TRUE(read_file(tmp.at("out/streamed.bin")) == big);
    EXPECT_EQ(read_file(tmp.at("out/streamed.txt")), "plain");
}

TEST_F(ZipFiles, NamesThatCouldLeaveTheDestinationAreSkipped) {
    std::vector<Entry> entries;
    for (const char* name : {"../x", "a/../b", "notes..txt", "C:x", "/x", "\\x", "sub/..", ".."})
        entries.push_back({name, "escaped"});
    entries.push_back({"ok.txt", "fine"});
    EXPECT_EQ(extract(build_zip(entries)), 1);
    std::map<std::string, std::string> expected = {{"ok.txt", "fine"}};
    EXPECT_EQ(out(), expected);
    // Nothing beside the destination either.
    std::map<std::string, std::string> around = snapshot_tree(tmp.path());
    for (const auto& [path, content] : around)
        EXPECT_TRUE(path == "out" || path == "out/ok.txt" || path == "archive.zip") << path;
}

TEST_F(ZipFiles, SlashAndBackslashNamesBothLandInTheSubdirectory) {
    EXPECT_EQ(extract(build_zip({{"a/b.txt", "slash"}, {"a\\c.txt", "backslash"}})), 2);
    EXPECT_EQ(read_file(tmp.at("out/a/b.txt")), "slash");
    EXPECT_EQ(read_file(tmp.at("out/a/c.txt")), "backslash");
}

TEST_F(ZipFiles, ACrcMismatchSkipsThatEntryWhileItsNeighboursAreWritten) {
    Entry bad{"middle.bin", mixed_content(3000, 16), 8};
    bad.crc = zlib_crc32(bad.content) ^ 1;
    Entry bad_stored{"stored-bad.txt", "abc"};
    bad_stored.crc = zlib_crc32("abd");
    EXPECT_EQ(extract(build_zip({{"before.txt", "b"}, bad, bad_stored, {"after.txt", "a"}})), 2);
    std::map<std::string, std::string> expected = {{"before.txt", "b"}, {"after.txt", "a"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, AnUnknownMethodIsSkippedWithoutFailingTheArchive) {
    Entry bzip2{"packed.bz2", "BZh91AY&SY", 12};
    Entry method9{"d64.bin", "xxxxxxxx", 9};
    EXPECT_EQ(extract(build_zip({{"one.txt", "1"}, bzip2, method9, {"two.txt", "2"}})), 2);
    std::map<std::string, std::string> expected = {{"one.txt", "1"}, {"two.txt", "2"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, ALaterEntryWithTheSameNameReplacesTheEarlierFile) {
    EXPECT_EQ(extract(build_zip({{"dup.txt", "first, and longer"}, {"dup.txt", "second"}})), 2);
    EXPECT_EQ(read_file(tmp.at("out/dup.txt")), "second");
}

TEST_F(ZipFiles, EntriesWhoseSizesDisagreeWithTheirDataAreSkipped) {
    std::string text = mixed_content(4000, 17);
    // Stored, declaring one byte less, with the CRC of those bytes.
    Entry stored_sizes_differ{"stored.txt", "12345"};
    stored_sizes_differ.uncompressed = 4;
    stored_sizes_differ.crc = zlib_crc32("1234");
    Entry inflates_short{"short.bin", text, 8};
    inflates_short.uncompressed = static_cast<uint32_t>(text.size() + 1);
    Entry inflates_long{"long.bin", text, 8};
    inflates_long.uncompressed = static_cast<uint32_t>(text.size() - 1);
    Entry huge{"huge.bin", text, 8};
    huge.uncompressed = 0xFFFFFFF0u;  // never allocated: deflate cannot grow that far
    Entry stored_huge{"stored-huge.bin", "tiny"};
    stored_huge.uncompressed = 0xFFFFFFF0u;
    EXPECT_EQ(extract(build_zip({stored_sizes_differ, inflates_short, inflates_long, huge, stored_huge,
                                 {"good.txt", "good"}})),
              1);
    std::map<std::string, std::string> expected = {{"good.txt", "good"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, EntriesWhoseLocalHeaderOrDataIsNotWhereTheDirectorySaysAreSkipped) {
    Layout layout;
    std::string archive = build_zip({{"sig.txt", "s"}, {"far.txt", "f"}, {"ok.txt", "ok"}, {"past.txt", "p"}}, "",
                                    &layout);
    archive[layout.local[0]] = 'X';  // local signature broken
    set32(archive, layout.central[1] + 42, static_cast<uint32_t>(archive.size() - 10));  // header past the end
    // Compressed size reaching past the end of the archive (stored sizes match).
    set32(archive, layout.central[3] + 20, static_cast<uint32_t>(archive.size()));
    set32(archive, layout.central[3] + 24, static_cast<uint32_t>(archive.size()));
    EXPECT_EQ(extract(archive), 1);
    std::map<std::string, std::string> expected = {{"ok.txt", "ok"}};
    EXPECT_EQ(out(), expected);
    EXPECT_EQ(walk(archive), 1);
}

TEST_F(ZipFiles, ASkippedEntryLeavesItsParentDirectoriesBehind) {
    Entry bad{"keep/dir/bad.txt", "x"};
    bad.crc = 0;
    EXPECT_EQ(extract(build_zip({bad})), 0);
    std::map<std::string, std::string> expected = {{"keep", "<dir>"}, {"keep/dir", "<dir>"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, AFileThatCannotBeCreatedIsSkippedAndTheRestAreWritten) {
    FakePlatform fake;
    fake.fail_fopen = [](const std::string& path, const std::string& mode) {
        return mode == "wb" && path.find("locked.dll") != std::string::npos;
    };
    EXPECT_EQ(extract(build_zip({{"a.txt", "a"}, {"locked.dll", "l"}, {"b.txt", "b"}})), 2);
    std::map<std::string, std::string> expected = {{"a.txt", "a"}, {"b.txt", "b"}};
    EXPECT_EQ(out(), expected);
}

// ---------------------------------------------------------------------------
// Where the walk ends

TEST_F(ZipFiles, ACentralHeaderWithAWrongSignatureEndsTheWalk) {
    Layout layout;
    std::string archive = build_zip({{"1.txt", "1"}, {"2.txt", "2"}, {"3.txt", "3"}}, "", &layout);
    archive[layout.central[1] + 3] = 9;
    EXPECT_EQ(extract(archive), 1);
    std::map<std::string, std::string> expected = {{"1.txt", "1"}};
    EXPECT_EQ(out(), expected);
}

TEST_F(ZipFiles, AnEntryCountBeyondTheDirectoryEndsTheWalkAtTheEndRecord) {
    Layout layout;
    std::string archive = build_zip({{"1.txt", "1"}, {"2.txt", "2"}}, "", &layout);
    set16(archive, layout.end_record + 10, 500);
    EXPECT_EQ(walk(archive), 2);
}

// A name, extra field or comment that would run past the end of the archive
// ends the walk: the next header cannot be found, and nothing past the end
// is read.
TEST_F(ZipFiles, ACentralHeaderWhoseNameRunsPastTheEndEndsTheWalk) {
    for (size_t field : {28, 30, 32}) {
        Layout layout;
        std::string archive = build_zip({{"1.txt", "1"}, {"2.txt", "2"}}, "", &layout);
        set16(archive, layout.central[1] + field, 0xFFFF);
        Recorded r;
        EXPECT_EQ(walk(archive, &r), 1) << field;
        ASSERT_EQ(r.files.size(), 1u);
        EXPECT_EQ(r.files[0].first, "D:\\out\\1.txt");
    }
}

// ---------------------------------------------------------------------------
// Archives that cannot be used at all

TEST_F(ZipFiles, AnArchiveThatCannotBeReadGivesMinusOne) {
    make_dirs(tmp.at("out"));
    EXPECT_EQ(zip_extract_all(tmp.win("missing.zip").c_str(), tmp.win("out").c_str()), -1);
    EXPECT_EQ(extract(""), -1);
    make_dirs(tmp.at("a-directory.zip"));
    EXPECT_EQ(zip_extract_all(tmp.win("a-directory.zip").c_str(), tmp.win("out").c_str()), -1);
}

TEST_F(ZipFiles, ADirectoryThatCannotBeUsedGivesMinusOne) {
    Layout layout;
    std::string good = build_zip({{"a.txt", "a"}}, "", &layout);

    EXPECT_EQ(extract(std::string(21, 'P')), -1);
    EXPECT_EQ(extract(good.substr(good.size() - 21)), -1);  // shorter than an end record

    std::string no_record = good;
    no_record[layout.end_record] = 'Q';
    EXPECT_EQ(extract(no_record), -1);

    std::string offset_outside = good;
    set32(offset_outside, layout.end_record + 16, static_cast<uint32_t>(good.size()));
    EXPECT_EQ(extract(offset_outside), -1);

    std::string no_entries = good;
    set16(no_entries, layout.end_record + 10, 0);
    EXPECT_EQ(extract(no_entries), -1);

    // The first header would need 46 bytes but only 30 remain.
    std::string first_header_short = good;
    set32(first_header_short, layout.end_record + 16, static_cast<uint32_t>(good.size() - 30));
    EXPECT_EQ(extract(first_header_short), -1);
    EXPECT_EQ(out().size(), 0u);
}

TEST_F(ZipFiles, EveryTruncationOfARealArchiveGivesMinusOne) {
    write_file(tmp.at("src/a.txt"), mixed_content(3000, 18));
    write_file(tmp.at("src/sub/b.txt"), "bee");
    ASSERT_TRUE(run_tool("cd " + shell_quote(tmp.at("src")) + " && zip -q -r " + shell_quote(tmp.at("t.zip")) + " ."));
    std::string archive = read_file(tmp.at("t.zip"));
    ASSERT_EQ(walk(archive), 2);
    for (size_t cut = 0; cut < archive.size(); ++cut) ASSERT_EQ(walk(archive.substr(0, cut)), -1) << "cut at " << cut;
}

TEST_F(ZipFiles, GarbageGivesMinusOne) {
    for (size_t size : {1u, 21u, 22u, 100u, 4096u, 70000u, 200000u})
        EXPECT_EQ(walk(random_bytes(size, static_cast<uint32_t>(size))), -1) << size;
}

// Random damage to a valid archive may change what is written, but the count
// stays within the entries and every read stays inside the buffer (which
// AddressSanitizer checks in the native-asan build).
TEST_F(ZipFiles, DamagedArchivesNeverReadOutsideTheBuffer) {
    std::string archive = build_zip({{"a/", ""},
                                     {"a/one.txt", mixed_content(600, 19), 8},
                                     {"two.txt", "two"},
                                     {"three.bin", mixed_content(900, 20), 8}},
                                    "comment");
    std::mt19937 engine(21);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = archive;
        int flips = 1 + static_cast<int>(engine() % 4);
        for (int i = 0; i < flips; ++i) damaged[engine() % damaged.size()] = static_cast<char>(engine() & 0xFF);
        if (engine() % 4 == 0) damaged.resize(engine() % damaged.size());
        Recorded r;
        int result = walk(damaged, &r);
        ASSERT_GE(result, -1);
        ASSERT_LE(result, 4);
        ASSERT_EQ(static_cast<size_t>(result < 0 ? 0 : result), r.files.size());
    }
}

// ---------------------------------------------------------------------------
// What the walk hands to its sink

TEST(ZipWalk, DirectoriesAreMadeLevelByLevelAfterTheFirstCharacter) {
    Recorded r;
    EXPECT_EQ(walk(build_zip({{"a/b/", ""}, {"c/f.txt", "f"}}), &r, "D:/out"), 1);
    std::vector<std::string> expected = {
        "D:", "D:\\out", "D:\\out\\a", "D:\\out\\a\\b", "D:\\out\\a\\b\\",  // the directory entry, whole path last
        "D:", "D:\\out", "D:\\out\\c",                                     // the file's parents, not the file
    };
    EXPECT_EQ(r.directories, expected);
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].first, "D:\\out\\c\\f.txt");
    EXPECT_EQ(r.files[0].second, "f");

    Recorded absolute;
    walk(build_zip({{"x/y.txt", "y"}}), &absolute, "/home/p");
    std::vector<std::string> from_root = {"\\home", "\\home\\p", "\\home\\p\\x"};
    EXPECT_EQ(absolute.directories, from_root);
}

TEST(ZipWalk, LongNamesAndPathsAreCutToTheirBuffers) {
    std::string name(1500, 'n');
    Recorded r;
    EXPECT_EQ(walk(build_zip({{name, "long"}, {"after.txt", "a"}}), &r, "D"), 2);
    ASSERT_EQ(r.files.size(), 2u);
    EXPECT_EQ(r.files[0].first, "D\\" + std::string(kZipNameSize - 1, 'n'));
    EXPECT_EQ(r.files[1].first, "D\\after.txt");  // the walk still advanced by the full name

    std::string dest(1390, 'd');
    Recorded cut;
    walk(build_zip({{"0123456789abcdef", "x"}}), &cut, dest.c_str());
    ASSERT_EQ(cut.files.size(), 1u);
    EXPECT_EQ(cut.files[0].first, dest + "\\01234567");
    EXPECT_EQ(cut.files[0].first.size(), static_cast<size_t>(kZipOutputPathSize - 1));
}

TEST(ZipWalk, OnlyFilesTheSinkCreatedAreCounted) {
    Recorded r;
    r.refuse_files = true;
    EXPECT_EQ(walk(build_zip({{"a.txt", "a"}, {"b.txt", "b"}}), &r), 0);
}

}  // namespace
