// CRC-32: both paths (eight bytes per step, and carry-less multiplication
// when the processor has it) and the entry point that chooses between them
// against the reference byte-at-a-time CRC, at every length that crosses a
// block or step boundary and at every alignment; the reference against zlib
// and the standard check value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/crc32.h"
#include "peer_tools.h"
#include "tests/reference/crc32_ref.h"

namespace {

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(Crc32, EveryPathAgreesWithTheReferenceAtEveryLengthAndAlignment) {
    // Lengths around every boundary the paths have: the 8-byte step, the
    // 16-byte block, the 64-byte four-block step and where the vector path
    // starts.
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n : {511, 512, 513, 1000, 4095, 4096, 4097, 65536 + 7, 1000003}) lengths.push_back(n);
    const bool clmul = crc32_clmul_available();
    for (const std::string& data :
         {random_bytes(1000003 + 16, 41), std::string(70000, '\0'), std::string(70000, '\xff')}) {
        for (size_t offset = 0; offset < 16; ++offset) {
            for (size_t length : lengths) {
                if (offset + length > data.size()) continue;
                const uint8_t* p = bytes_of(data) + offset;
                uint32_t expected = crc32_ref_buffer(p, length);
                SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));
                ASSERT_EQ(crc32_portable(p, length), expected);
                ASSERT_EQ(crc32_buffer(p, length), expected);
                if (clmul) {
                    ASSERT_EQ(crc32_clmul(p, length), expected);
                }
            }
        }
    }
    // An empty buffer may be null.
    for (uint32_t crc : {crc32_buffer(nullptr, 0), crc32_portable(nullptr, 0), crc32_clmul(nullptr, 0),
                         crc32_ref_buffer(nullptr, 0)})
        EXPECT_EQ(crc, 0u);
    // The machines the tests run on have PCLMULQDQ; where it is missing this
    // says so rather than passing quietly.
    if (!clmul) GTEST_SKIP() << "no PCLMULQDQ here: only the portable path was checked";
}

// The CRC of the nine digits "123456789" is this CRC's standard check value.
TEST(Crc32, TheReferenceMatchesZlibAndTheCheckValue) {
    EXPECT_EQ(crc32_ref_buffer(bytes_of("123456789"), 9), 0xCBF43926u);
    std::string data = random_bytes(100000, 42);
    for (size_t length : {size_t{1}, size_t{63}, size_t{64}, size_t{99999}})
        EXPECT_EQ(crc32_ref_buffer(bytes_of(data), length), zlib_crc32(data.substr(0, length))) << length;
}

}  // namespace
