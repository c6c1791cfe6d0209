#include "png/png_write.h"

#include <cstdio>

namespace {

// Format notes. A PNG is the 8-byte signature and a list of chunks: a 4-byte
// big-endian length, a 4-byte type, the data, and the CRC-32 of type and data.
// IDAT holds a zlib stream of the filtered rows: each row is one filter byte
// (0: none) followed by its pixels. A zlib stream is a 2-byte header, deflate
// blocks and the Adler-32 of the uncompressed bytes, big-endian. A stored
// deflate block is one header byte (bit 0: last block, bits 1-2: type 00),
// then LEN and its complement NLEN, 16 bits little-endian each, then LEN raw
// bytes, at most 65,535.

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    if (table[1] == 0)
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32(const std::vector<uint8_t>& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start));
}

std::vector<uint8_t> zlib_stored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};  // deflate, 32 KiB window; header is a multiple of 31
    size_t offset = 0;
    do {
        const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
        const bool last = offset + length == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(length));
        z.push_back(static_cast<uint8_t>(length >> 8));
        z.push_back(static_cast<uint8_t>(~length));
        z.push_back(static_cast<uint8_t>(~length >> 8));
        z.insert(z.end(), raw.begin() + offset, raw.begin() + offset + length);
        offset += length;
    } while (offset < raw.size());
    put32(z, adler32(raw));
    return z;
}

}  // namespace

std::vector<uint8_t> png_encode(const uint8_t* rows, uint32_t width, uint32_t height, int channels) {
    std::vector<uint8_t> raw;
    const size_t stride = static_cast<size_t>(width) * channels;
    raw.reserve((stride + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rows + y * stride, rows + (y + 1) * stride);
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(header, width);
    put32(header, height);
    header.push_back(8);                      // bits per channel
    header.push_back(channels == 4 ? 6 : 2);  // colour type: RGBA or RGB
    header.push_back(0);                      // deflate
    header.push_back(0);                      // adaptive filtering (every row: none)
    header.push_back(0);                      // not interlaced
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", zlib_stored(raw));
    chunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> png_encode_xrgb(const uint32_t* pixels, uint32_t width, uint32_t height) {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgb.push_back(static_cast<uint8_t>(pixels[i] >> 16));
        rgb.push_back(static_cast<uint8_t>(pixels[i] >> 8));
        rgb.push_back(static_cast<uint8_t>(pixels[i]));
    }
    return png_encode(rgb.data(), width, height, 3);
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
