// SHA-256 on each block function the processor can select: files around the
// padding and read-chunk boundaries against sha256sum; messages whole, in
// pieces and block by block against the first, simple implementation
// (tests/reference). Files that cannot be read in full; the feature detection
// that picks the block function.
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
    TempDir tmp;
};

// 55 bytes still leave room for the length in the last block, 56 do not;
// files stream through a buffer of kSha256ReadChunk bytes; a few MB run
// through many whole chunks.
TEST_P(Sha256Paths, FilesAroundThePaddingAndReadChunkBoundariesAgreeWithSha256sum) {
    const size_t c = kSha256ReadChunk;
    const std::vector<size_t> sizes = {0,   1,     55,    56,     63,     64,    65,    119,
                                       120, 128,   c - 1, c,      c + 1,  c + 55, 2 * c, 3 * c + 7,
                                       size_t{3 << 20} + 17};
    std::string command = "cd " + shell_quote(tmp.path()) + " && sha256sum";
    for (size_t size : sizes) {
        write_file(tmp.at("f" + std::to_string(size)), random_bytes(size, static_cast<uint32_t>(size)));
        command += " f" + std::to_string(size);
    }
    std::string listing;
    ASSERT_TRUE(run_tool(command, &listing));
    std::istringstream lines(listing);
    size_t checked = 0;
    for (std::string expected, name; lines >> expected >> name; ++checked) {
        char out[kDigestTextSize];
        std::memset(out, 'X', sizeof out);
        EXPECT_EQ(sha256_file_hex(tmp.win(name).c_str(), out), 0) << name;
        EXPECT_EQ(std::string(out, sizeof out), expected + '\0') << name;
    }
    EXPECT_EQ(checked, sizes.size());
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
        ASSERT_TRUE(std::memcmp(whole, expected, 32) == 0) << m.size() << " bytes";
        ASSERT_TRUE(std::memcmp(pieces, expected, 32) == 0) << m.size() << " bytes in pieces";
    }
}

// The block function, and the simple sha256_compress block by block, from
// states that are not the initial one, so a wrong order of the state words
// cannot hide behind a constant.
TEST_P(Sha256Paths, TheBlockFunctionsMatchTheReferenceCompressionFromAnyState) {
    std::mt19937 rng(14);
    for (int i = 0; i < 200; ++i) {
        uint32_t state[8], simple[8], expected[8];
        for (uint32_t& w : state) w = rng();
        std::memcpy(expected, state, sizeof state);
        std::memcpy(simple, state, sizeof state);
        size_t count = 1 + rng() % 9;
        Bytes blocks = random_message(rng, count * 64);
        for (size_t b = 0; b < count; ++b) {
            sha256_ref_compress(expected, blocks.data() + 64 * b);
            sha256_compress(simple, blocks.data() + 64 * b);
        }
        if (GetParam() == Path::kPortable)
            sha256_blocks_portable(state, blocks.data(), count);
        else
            sha256_blocks_sha_extensions(state, blocks.data(), count);
        for (int w = 0; w < 8; ++w) ASSERT_EQ(state[w], expected[w]) << "round " << i << ", word " << w;
        for (int w = 0; w < 8; ++w) ASSERT_EQ(simple[w], expected[w]) << "sha256_compress, round " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256Paths, ::testing::Values(Path::kShaExtensions, Path::kPortable),
                         [](const auto& info) { return info.param == Path::kPortable ? "Portable" : "ShaExtensions"; });

// ---------------------------------------------------------------------------
// Files that cannot be read as measured

// A stream that measures `measured` bytes but delivers `delivered`: a file
// that shrank or grew between measuring and reading (or a read error).
struct ChangingFile {
    long measured, delivered, position;
} g_changing;

FILE* open_changing(const char*, const char*) {
    auto read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
        auto* s = static_cast<ChangingFile*>(cookie);
        size_t n = std::min<size_t>(size, static_cast<size_t>(std::max(0L, s->delivered - s->position)));
        for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>((s->position + i) * 7);
        s->position += static_cast<long>(n);
        return static_cast<ssize_t>(n);
    };
    auto seek = [](void* cookie, off64_t* offset, int whence) {
        auto* s = static_cast<ChangingFile*>(cookie);
        s->position = static_cast<long>(*offset) +
                      (whence == SEEK_CUR ? s->position : whence == SEEK_END ? s->measured : 0);
        *offset = s->position;
        return 0;
    };
    g_changing.position = 0;
    return fopencookie(&g_changing, "rb", cookie_io_functions_t{read, nullptr, seek, nullptr});
}

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

TEST(Sha256Files, AFileNotReadInFullFailsAndLeavesOutAsItWasOneThatGrewIsHashedToItsMeasuredSize) {
    TempDir tmp;
    make_dirs(tmp.at("folder"));
    expect_file_outcome(tmp.win("no-such-file").c_str(), 1);
    expect_file_outcome(tmp.win("folder").c_str(), 1);
    write_file(tmp.at("locked.bin"), "data");
    expect_file_outcome(tmp.win("locked.bin").c_str(), 1, [](const char*, const char*) -> FILE* { return nullptr; });
    const long c = static_cast<long>(kSha256ReadChunk);
    struct {
        long measured, delivered;
        int code;
    } cases[] = {
        {1000, 600, 1}, {c + 1, c, 1}, {3 * c, 2 * c, 1}, {3 * c, 3 * c - 1, 1},  // ends in the first chunk or a later one
        {c + 100, 5 * c, 0}, {0, 100, 0},                                        // grew
    };
    for (auto [measured, delivered, code] : cases) {
        SCOPED_TRACE(std::to_string(measured) + " bytes measured, " + std::to_string(delivered) + " delivered");
        g_changing = {measured, delivered, 0};
        expect_file_outcome("C:\\changing.bin", code, open_changing);
    }
}

// ---------------------------------------------------------------------------
// Feature detection

std::string as_text(cpu_features f) {
    return std::to_string(f.ssse3) + std::to_string(f.sse41) + std::to_string(f.sha) + std::to_string(f.pclmul) +
           std::to_string(f.avx2) + std::to_string(f.bmi2) + std::to_string(f.bmi1);
}

TEST(CpuFeatures, DetectionAgreesWithWhatTheKernelReports) {
    std::ifstream in("/proc/cpuinfo");
    std::set<std::string> flags;
    for (std::string line; flags.empty() && std::getline(in, line);) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        for (std::string w; words >> w;) flags.insert(w);
    }
    if (!flags.count("sse2")) GTEST_SKIP() << "not an x86 processor, or no /proc/cpuinfo";
    std::string expected;
    for (const char* flag : {"ssse3", "sse4_1", "sha_ni", "pclmulqdq", "avx2", "bmi2", "bmi1"})
        expected += flags.count(flag) ? '1' : '0';
    EXPECT_EQ(as_text(cpu_features_detected()), expected) << "ssse3 sse4_1 sha_ni pclmulqdq avx2 bmi2 bmi1";
}

TEST(CpuFeatures, ALimitOnlyTurnsFeaturesOffAndLiftingItRestoresDetection) {
    const cpu_features detected = cpu_features_detected(), all{true, true, true, true, true, true, true},
                       only_sha{false, false, true, false, false, false, false};
    cpu_features_limit(&all);
    EXPECT_EQ(as_text(cpu_features_in_use()), as_text(detected));
    cpu_features_limit(&only_sha);  // the SHA path also needs SSSE3 and SSE4.1
    EXPECT_STREQ(sha256_implementation(), "portable");
    cpu_features_limit(nullptr);
    EXPECT_EQ(as_text(cpu_features_in_use()), as_text(detected));
    EXPECT_STREQ(sha256_implementation(),
                 detected.sha && detected.ssse3 && detected.sse41 ? "sha-extensions" : "portable");
}

}  // namespace
