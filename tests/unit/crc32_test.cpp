// CRC-32 on both paths and through the entry point that chooses between them,
// against zlib at every length around a step or block boundary and alignment.
#include <gtest/gtest.h>
#include <zlib.h>

#include "codecs/crc32.h"
#include "peer_tools.h"

namespace {

TEST(Crc32, EveryPathAgreesWithZlibAtEveryLengthAndAlignment) {
    std::vector<size_t> lengths = {511, 512, 513, 4095, 4096, 4097, 65536 + 7, 1000003};
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (const std::string& data : {random_bytes(1000019, 41), std::string(70000, '\0'), std::string(70000, '\xff')})
        for (size_t offset = 0; offset < 16; ++offset)
            for (size_t length : lengths) {
                if (offset + length > data.size()) continue;
                const auto* p = reinterpret_cast<const uint8_t*>(data.data()) + offset;
                const uint32_t expected = static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(length)));
                ASSERT_EQ(crc32_portable(p, length), expected) << "offset " << offset << ", length " << length;
                ASSERT_EQ(crc32_buffer(p, length), expected) << "offset " << offset << ", length " << length;
                if (crc32_clmul_available()) { ASSERT_EQ(crc32_clmul(p, length), expected) << offset << " " << length; }
                const size_t cut = length / 3;  // the same bytes in two pieces
                ASSERT_EQ(crc32_continue(crc32_buffer(p, cut), p + cut, length - cut), expected) << length;
            }
    EXPECT_EQ(crc32_buffer(nullptr, 0) | crc32_portable(nullptr, 0), 0u);  // an empty buffer may be null
    if (!crc32_clmul_available()) GTEST_SKIP() << "no PCLMULQDQ here: only the portable path was checked";
}

}  // namespace
