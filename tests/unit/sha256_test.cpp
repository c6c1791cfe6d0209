// SHA-256 on each path the processor can select: the FIPS 180-4 examples,
// files around the padding and read-chunk boundaries against sha256sum, and
// messages whole, in pieces and block by block against the first, simple
// implementation (tests/reference). Files that cannot be read in full; the
// feature detection that picks the path.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/cpu_features.h"
#include "codecs/sha256.h"
#include "peer_tools.h"
#include "support.h"
#include "tests/reference/sha256_ref.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_message(std::mt19937& rng, size_t size) {
    std::string bytes = random_bytes(size, rng());
    return Bytes(bytes.begin(), bytes.end());
}

std::string hex(const uint8_t digest[32]) {
    char text[65];
    for (int i = 0; i < 32; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

// Each test runs once per path: the processor's SHA instructions (skipped
// where it has none) and the portable code, forced by hiding every feature.
enum class Path { kShaExtensions, kPortable };

class Sha256Paths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (GetParam() == Path::kPortable) {
            cpu_features none{};
            cpu_features_limit(&none);
            ASSERT_STREQ(sha256_implementation(), "portable");
        } else {
            cpu_features f = cpu_features_detected();
            if (!(f.sha && f.ssse3 && f.sse41)) GTEST_SKIP() << "this processor has no SHA instructions";
            ASSERT_STREQ(sha256_implementation(), "sha-extensions");
        }
    }
    void TearDown() override { cpu_features_limit(nullptr); }

    // The digest text sha256_file_hex gives for a file holding content.
    std::string file_digest(const std::string& name, const std::string& content) {
        write_file(tmp.at(name), content);
        char out[kDigestTextSize];
        std::memset(out, 'X', sizeof out);
        EXPECT_EQ(sha256_file_hex(tmp.win(name).c_str(), out), 0) << name;
        EXPECT_EQ(out[64], '\0');
        return std::string(out, strnlen(out, sizeof out));
    }

    TempDir tmp;
};

TEST_P(Sha256Paths, TheFipsExampleMessagesGiveThePublishedDigests) {
    EXPECT_EQ(file_digest("empty", ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(file_digest("abc", "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(file_digest("two-blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(file_digest("million-a", std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// 55 bytes still leave room for the length in the last block, 56 do not;
// files stream through a buffer of kSha256ReadChunk bytes; a few MB run
// through many whole chunks.
TEST_P(Sha256Paths, FilesAroundThePaddingAndReadChunkBoundariesAgreeWithSha256sum) {
    const size_t c = kSha256ReadChunk;
    std::string command = "cd " + shell_quote(tmp.path()) + " && sha256sum";
    for (size_t size : {size_t{0}, size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, size_t{65},
                        size_t{119}, size_t{120}, size_t{128}, c - 1, c, c + 1, c + 55, 2 * c, 3 * c + 7,
                        size_t{3 << 20} + 17}) {
        write_file(tmp.at("f" + std::to_string(size)), random_bytes(size, static_cast<uint32_t>(size)));
        command += " f" + std::to_string(size);
    }
    std::string listing;
    ASSERT_TRUE(run_tool(command, &listing));
    std::istringstream lines(listing);
    int checked = 0;
    for (std::string expected, name; lines >> expected >> name; ++checked)
        EXPECT_EQ(file_digest(name, read_file(tmp.at(name))), expected);
    EXPECT_EQ(checked, 17);
}

// Every size up to five blocks and around each boundary up to 64 KB, uniform
// bytes (all-ones or all-zero words bring out a carry or rotation that random
// bytes might hide) and a few larger random messages: whole, and fed in
// pieces from empty to a few blocks, so a block is completed from the pending
// bytes, from the data directly and from both.
TEST_P(Sha256Paths, EveryMessageWholeOrInPiecesHasTheReferenceDigest) {
    std::mt19937 rng(11);
    std::vector<Bytes> messages;
    std::set<size_t> sizes;
    for (size_t size = 0; size <= 5 * 64; ++size) sizes.insert(size);
    for (size_t blocks = 5; blocks <= 1024; blocks = blocks * 3 / 2)
        for (size_t extra : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120}) sizes.insert(blocks * 64 + extra - 1);
    for (int i = 0; i < 6; ++i) sizes.insert(rng() % (400 * 1024));
    for (size_t size : sizes) messages.push_back(random_message(rng, size));
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) messages.push_back(Bytes(100000, fill));

    for (const Bytes& m : messages) {
        uint8_t expected[32], whole[32], pieces[32];
        sha256_ref_digest(m.data(), m.size(), expected);
        sha256_digest(m.data(), m.size(), whole);
        sha256_stream s;
        sha256_begin(&s);
        for (size_t at = 0, piece; at < m.size(); at += piece) {
            piece = std::min<size_t>(m.size() - at, rng() % 200);
            sha256_update(&s, m.data() + at, piece);
        }
        sha256_update(&s, nullptr, 0);
        sha256_end(&s, pieces);
        ASSERT_EQ(hex(whole), hex(expected)) << m.size() << " bytes";
        ASSERT_EQ(hex(pieces), hex(expected)) << m.size() << " bytes in pieces";
    }
}

// From states that are not the initial one, so a wrong order of the state
// words inside the block function cannot hide behind a constant.
TEST_P(Sha256Paths, TheBlockFunctionMatchesTheReferenceCompressionFromAnyState) {
    std::mt19937 rng(14);
    for (int i = 0; i < 200; ++i) {
        uint32_t state[8], expected[8];
        for (uint32_t& w : state) w = rng();
        std::memcpy(expected, state, sizeof state);
        size_t count = 1 + rng() % 9;
        Bytes blocks = random_message(rng, count * 64);
        for (size_t b = 0; b < count; ++b) sha256_ref_compress(expected, blocks.data() + 64 * b);
        if (GetParam() == Path::kPortable)
            sha256_blocks_portable(state, blocks.data(), count);
        else
            sha256_blocks_sha_extensions(state, blocks.data(), count);
        for (int w = 0; w < 8; ++w) ASSERT_EQ(state[w], expected[w]) << "round " << i << ", word " << w;
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256Paths, ::testing::Values(Path::kShaExtensions, Path::kPortable),
                         [](const auto& info) { return info.param == Path::kPortable ? "Portable" : "ShaExtensions"; });

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

// ---------------------------------------------------------------------------
// Files that cannot be read as measured

// A stream that measures kMeasured bytes but delivers kDelivered: a file that
// shrank or grew between measuring and reading (or a read error).
template <long kMeasured, long kDelivered>
struct ChangingFile {
    long position = 0;

    static ssize_t read(void* cookie, char* buffer, size_t size) {
        auto* s = static_cast<ChangingFile*>(cookie);
        long left = kDelivered - s->position;
        if (left <= 0) return 0;
        size_t n = size < static_cast<size_t>(left) ? size : static_cast<size_t>(left);
        for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>((s->position + i) * 7);
        s->position += static_cast<long>(n);
        return static_cast<ssize_t>(n);
    }
    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* s = static_cast<ChangingFile*>(cookie);
        if (whence == SEEK_SET) s->position = static_cast<long>(*offset);
        if (whence == SEEK_CUR) s->position += static_cast<long>(*offset);
        if (whence == SEEK_END) s->position = kMeasured + static_cast<long>(*offset);
        *offset = s->position;
        return 0;
    }
    static int close(void* cookie) {
        delete static_cast<ChangingFile*>(cookie);
        return 0;
    }
    static FILE* open(const char*, const char*) {
        cookie_io_functions_t io = {read, nullptr, seek, close};
        return fopencookie(new ChangingFile, "rb", io);
    }
};

// sha256_file_hex on path, which must give the result code expected and, on
// failure, leave out as it was. The reference implementation, on the same
// file, must give the same code and text.
void expect_file_outcome(const char* path, int expected_code, FILE* (*open)(const char*, const char*) = nullptr) {
    FakePlatform fake;
    if (open) fake.ops.fopen = open;
    char fast[kDigestTextSize], reference[kDigestTextSize];
    std::memset(fast, 'Q', sizeof fast);
    std::memset(reference, 'Q', sizeof reference);
    EXPECT_EQ(sha256_file_hex(path, fast), expected_code) << path;
    EXPECT_EQ(sha256_ref_file_hex(path, reference), expected_code) << path;
    EXPECT_EQ(std::string(fast, sizeof fast), std::string(reference, sizeof reference)) << path;
    if (expected_code != 0) {
        EXPECT_EQ(std::string(fast, sizeof fast), std::string(sizeof fast, 'Q')) << path;
    }
}

constexpr long kChunk = static_cast<long>(kSha256ReadChunk);

TEST(Sha256Files, AFileThatCannotBeReadInFullFailsAndLeavesOutAsItWas) {
    TempDir tmp;
    make_dirs(tmp.at("folder"));
    expect_file_outcome(tmp.win("no-such-file").c_str(), 1);
    expect_file_outcome(tmp.win("folder").c_str(), 1);
    write_file(tmp.at("locked.bin"), "data");
    expect_file_outcome(tmp.win("locked.bin").c_str(), 1, [](const char*, const char*) -> FILE* { return nullptr; });
    // Files that end early, in the first chunk or a later one.
    expect_file_outcome("C:\\changing.bin", 1, ChangingFile<1000, 600>::open);
    expect_file_outcome("C:\\changing.bin", 1, ChangingFile<kChunk + 1, kChunk>::open);
    expect_file_outcome("C:\\changing.bin", 1, ChangingFile<3 * kChunk, 2 * kChunk>::open);
    expect_file_outcome("C:\\changing.bin", 1, ChangingFile<3 * kChunk, 3 * kChunk - 1>::open);
}

TEST(Sha256Files, AFileThatGrewIsHashedUpToTheSizeMeasured) {
    expect_file_outcome("C:\\changing.bin", 0, ChangingFile<kChunk + 100, 5 * kChunk>::open);
    expect_file_outcome("C:\\changing.bin", 0, ChangingFile<0, 100>::open);
}

// ---------------------------------------------------------------------------
// Feature detection

TEST(CpuFeatures, DetectionAgreesWithWhatTheKernelReports) {
    std::ifstream in("/proc/cpuinfo");
    std::set<std::string> flags;
    for (std::string line; flags.empty() && std::getline(in, line);) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        for (std::string w; words >> w;) flags.insert(w);
    }
    if (!flags.count("sse2")) GTEST_SKIP() << "not an x86 processor, or no /proc/cpuinfo";
    cpu_features f = cpu_features_detected();
    EXPECT_EQ(f.ssse3, flags.count("ssse3") == 1);
    EXPECT_EQ(f.sse41, flags.count("sse4_1") == 1);
    EXPECT_EQ(f.sha, flags.count("sha_ni") == 1);
    EXPECT_EQ(f.pclmul, flags.count("pclmulqdq") == 1);
    EXPECT_EQ(f.avx2, flags.count("avx2") == 1);
    EXPECT_EQ(f.bmi2, flags.count("bmi2") == 1);
    EXPECT_EQ(f.bmi1, flags.count("bmi1") == 1);
}

TEST(CpuFeatures, ALimitOnlyTurnsFeaturesOffAndLiftingItRestoresDetection) {
    auto as_text = [](cpu_features f) {
        return std::to_string(f.ssse3) + std::to_string(f.sse41) + std::to_string(f.sha) + std::to_string(f.pclmul) +
               std::to_string(f.avx2) + std::to_string(f.bmi2) + std::to_string(f.bmi1);
    };
    cpu_features detected = cpu_features_detected();
    cpu_features all{true, true, true, true, true, true, true};
    cpu_features_limit(&all);
    EXPECT_EQ(as_text(cpu_features_in_use()), as_text(detected));
    // The SHA path also needs SSSE3 and SSE4.1; without them it is not taken.
    cpu_features only_sha{};
    only_sha.sha = true;
    cpu_features_limit(&only_sha);
    EXPECT_STREQ(sha256_implementation(), "portable");
    cpu_features_limit(nullptr);
    EXPECT_EQ(as_text(cpu_features_in_use()), as_text(detected));
    EXPECT_STREQ(sha256_implementation(),
                 detected.sha && detected.ssse3 && detected.sse41 ? "sha-extensions" : "portable");
}

}  // namespace
