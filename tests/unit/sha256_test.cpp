// The digests every trust decision rests on: FIPS 180-4 values and sha256sum.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/sha256.h"
#include "peer_tools.h"
#include "support.h"

namespace {

class Sha256File : public ::testing::Test {
protected:
    TempDir tmp;

    // The digest text of content stored as a file, or "failed".
    std::string digest_of(const std::string& name, const std::string& content) {
        write_file(tmp.at(name), content);
        char out[kDigestTextSize];
        std::memset(out, 'X', sizeof out);
        if (sha256_file_hex(tmp.win(name).c_str(), out) != 0) return "failed";
        EXPECT_EQ(out[64], '\0');
        return std::string(out, strnlen(out, sizeof out));
    }
};

// The example messages of FIPS 180-4 and their published digests.
TEST_F(Sha256File, TheFipsExampleMessagesGiveThePublishedDigests) {
    EXPECT_EQ(digest_of("empty", ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc", "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_of("two-blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_of("million-a", std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Sizes around the padding boundaries: 55 still fits the length in one tail
// block, 56 needs two, 64 is one whole block and a padding-only block, and so
// on one block further; plus a few MB that run through many whole blocks.
TEST_F(Sha256File, EveryPaddingBoundaryAndALargeFileAgreeWithSha256sum) {
    std::vector<size_t> sizes = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 3 * 1024 * 1024 + 17};
    std::string command = "cd " + shell_quote(tmp.path()) + " && sha256sum";
    for (size_t size : sizes) {
        std::string name = "f" + std::to_string(size);
        write_file(tmp.at(name), random_bytes(size, static_cast<uint32_t>(size)));
        command += " " + name;
    }
    std::string listing;
    ASSERT_TRUE(run_tool(command, &listing));

    // sha256sum prints "<digest>  <name>" per file.
    size_t line_start = 0;
    size_t checked = 0;
    while (line_start < listing.size()) {
        size_t line_end = listing.find('\n', line_start);
        std::string line = listing.substr(line_start, line_end - line_start);
        line_start = line_end == std::string::npos ? listing.size() : line_end + 1;
        ASSERT_GE(line.size(), 67u) << line;
        std::string expected = line.substr(0, 64);
        std::string name = line.substr(66);
        char out[kDigestTextSize];
        ASSERT_EQ(sha256_file_hex(tmp.win(name).c_str(), out), 0) << name;
        EXPECT_EQ(std::string(out), expected) << name;

        // The in-memory digest, which a faster implementation is checked
        // through, is the same hash.
        std::string content = read_file(tmp.at(name));
        uint8_t digest[32];
        sha256_digest(reinterpret_cast<const uint8_t*>(content.data()), content.size(), digest);
        char rendered[65];
        for (int i = 0; i < 32; ++i) std::snprintf(rendered + 2 * i, 3, "%02x", digest[i]);
        EXPECT_EQ(std::string(rendered), expected) << name;
        ++checked;
    }
    EXPECT_EQ(checked, sizes.size());
}

TEST_F(Sha256File, AMissingPathFailsAndLeavesOutAsItWas) {
    char out[kDigestTextSize];
    std::memset(out, 'Q', sizeof out);
    EXPECT_EQ(sha256_file_hex(tmp.win("no-such-file").c_str(), out), 1);
    for (char c : out) ASSERT_EQ(c, 'Q');
}

TEST_F(Sha256File, ADirectoryCannotBeHashed) {
    make_dirs(tmp.at("folder"));
    char out[kDigestTextSize];
    std::memset(out, 'Q', sizeof out);
    EXPECT_EQ(sha256_file_hex(tmp.win("folder").c_str(), out), 1);
    EXPECT_EQ(out[0], 'Q');
}

// A stream that measures 1,000 bytes but delivers only 600: a file that
// shrank between measuring and reading, or a read error.
struct ShortStream {
    long position = 0;
    static constexpr long kMeasured = 1000;
    static constexpr long kDelivered = 600;
};

ssize_t short_read(void* cookie, char* buffer, size_t size) {
    auto* s = static_cast<ShortStream*>(cookie);
    long left = ShortStream::kDelivered - s->position;
    if (left <= 0) return 0;
    size_t n = size < static_cast<size_t>(left) ? size : static_cast<size_t>(left);
    std::memset(buffer, 'z', n);
    s->position += static_cast<long>(n);
    return static_cast<ssize_t>(n);
}

int short_seek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<ShortStream*>(cookie);
    if (whence == SEEK_SET) s->position = static_cast<long>(*offset);
    if (whence == SEEK_CUR) s->position += static_cast<long>(*offset);
    if (whence == SEEK_END) s->position = ShortStream::kMeasured + static_cast<long>(*offset);
    *offset = s->position;
    return 0;
}

int short_close(void* cookie) {
    delete static_cast<ShortStream*>(cookie);
    return 0;
}

FILE* open_short_stream(const char*, const char*) {
    cookie_io_functions_t io = {short_read, nullptr, short_seek, short_close};
    return fopencookie(new ShortStream, "rb", io);
}

TEST(Sha256FileFailures, AShortReadCountsAsFailureAndLeavesOutAsItWas) {
    FakePlatform fake;
    fake.ops.fopen = open_short_stream;
    char out[kDigestTextSize];
    std::memset(out, 'Q', sizeof out);
    EXPECT_EQ(sha256_file_hex("C:\\anything.bin", out), 1);
    EXPECT_EQ(out[0], 'Q');
    EXPECT_EQ(out[64], 'Q');
}

TEST(Sha256FileFailures, AFileThatCannotBeOpenedFails) {
    TempDir tmp;
    write_file(tmp.at("locked.bin"), "data");
    FakePlatform fake;
    fake.fail_fopen = [](const std::string&, const std::string&) { return true; };
    char out[kDigestTextSize] = {};
    EXPECT_EQ(sha256_file_hex(tmp.win("locked.bin").c_str(), out), 1);
}

// The compression function on its own: the padded one-block message "abc"
// from the initial hash value ends in the state FIPS 180-4 publishes.
TEST(Sha256Compress, OnePaddedBlockOfAbcEndsInThePublishedState) {
    uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;  // the message length in bits
    sha256_compress(state, block);
    const uint32_t expected[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                  0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(state[i], expected[i]) << "word " << i;
}

}  // namespace
