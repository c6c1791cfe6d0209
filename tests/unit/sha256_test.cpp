// SHA-256 against libcrypto on each block function the processor can select.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>

#include "codecs/cpu_features.h"
#include "codecs/sha256.h"
#include "peer_tools.h"
#include "support.h"

namespace {

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// libcrypto's digest of message as the text sha256_file_hex writes, its NUL included, or with raw as its 32 bytes.
std::string libcrypto(const std::string& message, bool raw = false) {
    uint8_t digest[32];
    SHA256(bytes_of(message), message.size(), digest);
    std::string text(kDigestTextSize, '\0');
    for (int i = 0; i < 32; ++i) std::snprintf(&text[2 * i], 3, "%02x", digest[i]);
    return raw ? std::string(digest, digest + 32) : text;
}

// Once on the SHA instructions (skipped where the processor has none), once on the portable code: every feature hidden.
class Sha256Paths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        const cpu_features f = cpu_features_detected(), none{};
        if (GetParam()) cpu_features_limit(&none);
        else if (!(f.sha && f.ssse3 && f.sse41)) GTEST_SKIP() << "this processor has no SHA instructions";
        ASSERT_STREQ(sha256_implementation(), GetParam() ? "portable" : "sha-extensions");
    }
    void TearDown() override { cpu_features_limit(nullptr); }
};

// Files around the padding (55 bytes leave room for the length, 56 do not) and the read chunk, and unreadable ones;
// messages up to five blocks, whole and in 0 to 200 byte pieces: blocks completed from pending bytes, data or both.
TEST_P(Sha256Paths, FilesAndMessagesWholeOrInPiecesHaveLibcryptosDigest) {
    TempDir tmp;
    for (size_t size : std::vector<size_t>{0, 55, 56, kSha256ReadChunk - 1, kSha256ReadChunk + 1, 3 << 20}) {
        write_file(tmp.at("f"), random_bytes(size, static_cast<uint32_t>(size)));
        std::string out(kDigestTextSize, 'Q');
        EXPECT_EQ(sha256_file_hex(tmp.win("f").c_str(), &out[0]), 0) << size;
        EXPECT_EQ(out, libcrypto(read_file(tmp.at("f")))) << size;
    }
    for (const char* name : {"missing", "."}) {  // cannot be opened; a folder, cannot be measured
        std::string out(kDigestTextSize, 'Q');
        EXPECT_EQ(sha256_file_hex(tmp.win(name).c_str(), &out[0]), 1) << name;
        EXPECT_EQ(out, std::string(kDigestTextSize, 'Q')) << "changed by a failure: " << name;
    }
    std::mt19937 rng(11);
    for (size_t size = 0; size <= 5 * 64; ++size) {
        const std::string m = random_bytes(size, rng());
        uint8_t whole[32], pieces[32];
        sha256_digest(bytes_of(m), m.size(), whole);
        sha256_stream s;
        sha256_begin(&s);
        for (size_t at = 0, piece; at < m.size(); at += piece)
            sha256_update(&s, bytes_of(m) + at, piece = std::min<size_t>(m.size() - at, rng() % 200));
        sha256_update(&s, nullptr, 0);
        sha256_end(&s, pieces);
        ASSERT_EQ(std::string(whole, whole + 32), libcrypto(m, true)) << m.size() << " bytes";
        ASSERT_EQ(std::string(pieces, pieces + 32), libcrypto(m, true)) << m.size() << " bytes in pieces";
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256Paths, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Portable" : "ShaExtensions"; });

}  // namespace
