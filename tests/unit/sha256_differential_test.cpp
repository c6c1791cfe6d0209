// The fast SHA-256 against the first, simple one (tests/reference), on each
// path the processor can select: every size around the block and padding
// boundaries, random sizes up to a few hundred KB, messages fed in random
// pieces, block functions from arbitrary states, and files read in chunks.
// Also the feature detection that picks the path.
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
    Bytes out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

std::string hex(const uint8_t digest[32]) {
    char text[65];
    for (int i = 0; i < 32; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

std::string reference_digest(const Bytes& m) {
    uint8_t d[32];
    sha256_ref_digest(m.data(), m.size(), d);
    return hex(d);
}

std::string fast_digest(const Bytes& m) {
    uint8_t d[32];
    sha256_digest(m.data(), m.size(), d);
    return hex(d);
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

TEST_P(Sha256Paths, EverySizeUpToFiveBlocksAndAroundEachBoundaryToSixtyFourKilobytes) {
    std::mt19937 rng(11);
    std::set<size_t> sizes;
    for (size_t size = 0; size <= 5 * 64; ++size) sizes.insert(size);
    for (size_t blocks = 5; blocks <= 1024; blocks = blocks * 3 / 2)
        for (size_t extra : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120})
            sizes.insert(blocks * 64 + extra - 1);
    for (size_t size : sizes) {
        Bytes m = random_message(rng, size);
        ASSERT_EQ(fast_digest(m), reference_digest(m)) << "size " << size;
    }
}

TEST_P(Sha256Paths, RandomSizesUpToAFewHundredKilobytesAndUniformBytes) {
    std::mt19937 rng(12);
    for (int i = 0; i < 40; ++i) {
        size_t size = rng() % (400 * 1024);
        Bytes m = random_message(rng, size);
        ASSERT_EQ(fast_digest(m), reference_digest(m)) << "size " << size;
    }
    // Words that are all ones or all zeros bring out a carry or a rotation
    // that random bytes might hide.
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) {
        Bytes m(100000, fill);
        ASSERT_EQ(fast_digest(m), reference_digest(m)) << "fill " << int{fill};
    }
}

TEST_P(Sha256Paths, AMessageFedInPiecesOfAnySizeHasTheDigestOfTheWhole) {
    std::mt19937 rng(13);
    for (int i = 0; i < 60; ++i) {
        Bytes m = random_message(rng, rng() % 5000);
        sha256_stream s;
        sha256_begin(&s);
        size_t at = 0;
        while (at < m.size()) {
            // Pieces from empty to a few blocks, so a block is completed from
            // the pending bytes, from the data directly and from both.
            size_t piece = std::min<size_t>(m.size() - at, rng() % 200);
            sha256_update(&s, m.data() + at, piece);
            at += piece;
        }
        sha256_update(&s, nullptr, 0);
        uint8_t d[32];
        sha256_end(&s, d);
        ASSERT_EQ(hex(d), reference_digest(m)) << "message " << i << " of " << m.size() << " bytes";
    }
}

// Straight against the standard's compression, from states that are not the
// initial one, so a wrong order of the state words inside the block function
// cannot hide behind a constant.
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

// Files stream through a buffer of kSha256ReadChunk bytes: sizes on both
// sides of one, two and three chunks give the reference's digest, which holds
// the whole file in memory.
TEST_P(Sha256Paths, FilesOfEverySizeAroundTheReadChunkHaveTheReferenceDigest) {
    std::mt19937 rng(15);
    const size_t c = kSha256ReadChunk;
    for (size_t size : {size_t{0}, size_t{1}, size_t{64}, c - 1, c, c + 1, c + 55, 2 * c - 64, 2 * c, 3 * c + 7}) {
        Bytes m = random_message(rng, size);
        std::string name = "f" + std::to_string(size);
        write_file(tmp.at(name), std::string(m.begin(), m.end()));
        char fast[kDigestTextSize], reference[65];
        ASSERT_EQ(sha256_file_hex(tmp.win(name).c_str(), fast), 0) << size;
        ASSERT_EQ(sha256_ref_file_hex(tmp.win(name).c_str(), reference), 0) << size;
        EXPECT_STREQ(fast, reference) << "size " << size;
    }
}

std::string path_name(const ::testing::TestParamInfo<Path>& info) {
    return info.param == Path::kPortable ? "Portable" : "ShaExtensions";
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256Paths, ::testing::Values(Path::kShaExtensions, Path::kPortable),
                         path_name);

// ---------------------------------------------------------------------------
// Files that change while they are read

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

// Both implementations on the same kind of stream: the same result code, and
// on success the same text.
template <typename File>
void expect_same_outcome(int expected_code) {
    FakePlatform fake;
    fake.ops.fopen = File::open;
    char fast[kDigestTextSize], reference[65];
    std::memset(fast, 'Q', sizeof fast);
    std::memset(reference, 'Q', sizeof reference);
    int fast_code = sha256_file_hex("C:\\changing.bin", fast);
    int reference_code = sha256_ref_file_hex("C:\\changing.bin", reference);
    EXPECT_EQ(fast_code, expected_code);
    EXPECT_EQ(reference_code, expected_code);
    EXPECT_EQ(std::string(fast, sizeof fast), std::string(reference, sizeof reference));
}

TEST(Sha256ChangingFiles, AFileThatEndsEarlyInALaterChunkFailsAndLeavesOutAsItWas) {
    constexpr long c = static_cast<long>(kSha256ReadChunk);
    expect_same_outcome<ChangingFile<3 * c, 2 * c>>(1);
    expect_same_outcome<ChangingFile<3 * c, 3 * c - 1>>(1);
    expect_same_outcome<ChangingFile<c + 1, c>>(1);
}

TEST(Sha256ChangingFiles, AFileThatGrewIsHashedUpToTheSizeMeasured) {
    constexpr long c = static_cast<long>(kSha256ReadChunk);
    expect_same_outcome<ChangingFile<c + 100, 5 * c>>(0);
    expect_same_outcome<ChangingFile<0, 100>>(0);
}

// ---------------------------------------------------------------------------
// Feature detection

std::set<std::string> cpuinfo_flags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string w; words >> w;) flags.insert(w);
        return flags;
    }
    return {};
}

TEST(CpuFeatures, DetectionAgreesWithWhatTheKernelReports) {
    std::set<std::string> flags = cpuinfo_flags();
    if (flags.empty() || !flags.count("sse2")) GTEST_SKIP() << "not an x86 processor, or no /proc/cpuinfo";
    cpu_features f = cpu_features_detected();
    EXPECT_EQ(f.ssse3, flags.count("ssse3") == 1);
    EXPECT_EQ(f.sse41, flags.count("sse4_1") == 1);
    EXPECT_EQ(f.sha, flags.count("sha_ni") == 1);
    EXPECT_EQ(f.pclmul, flags.count("pclmulqdq") == 1);
    EXPECT_EQ(f.avx2, flags.count("avx2") == 1);
    EXPECT_EQ(f.bmi2, flags.count("bmi2") == 1);
}

TEST(CpuFeatures, ALimitOnlyTurnsFeaturesOffAndLiftingItRestoresDetection) {
    cpu_features detected = cpu_features_detected();
    cpu_features all{true, true, true, true, true, true};
    cpu_features_limit(&all);
    cpu_features in_use = cpu_features_in_use();
    EXPECT_EQ(in_use.sha, detected.sha);
    EXPECT_EQ(in_use.ssse3, detected.ssse3);
    EXPECT_EQ(in_use.sse41, detected.sse41);
    EXPECT_EQ(in_use.pclmul, detected.pclmul);
    EXPECT_EQ(in_use.avx2, detected.avx2);
    EXPECT_EQ(in_use.bmi2, detected.bmi2);

    cpu_features only_sha{};
    only_sha.sha = true;
    cpu_features_limit(&only_sha);
    // The SHA path also needs SSSE3 and SSE4.1; without them it is not taken.
    EXPECT_STREQ(sha256_implementation(), "portable");

    cpu_features_limit(nullptr);
    in_use = cpu_features_in_use();
    EXPECT_EQ(in_use.sha, detected.sha);
    EXPECT_EQ(in_use.avx2, detected.avx2);
    EXPECT_STREQ(sha256_implementation(),
                 detected.sha && detected.ssse3 && detected.sse41 ? "sha-extensions" : "portable");
}

}  // namespace
