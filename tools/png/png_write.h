// A minimal PNG writer for the build tools: 8-bit RGB or RGBA, no filtering,
// the image data in stored (uncompressed) deflate blocks. Byte for byte the
// same output for the same pixels, so generated files can be committed and
// checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rows: height rows of width pixels, channels (3: RGB, 4: RGBA) bytes each.
std::vector<uint8_t> png_encode(const uint8_t* rows, uint32_t width, uint32_t height, int channels);

// The picture in 0x00RRGGBB words (the splash surface's form) as an RGB PNG.
std::vector<uint8_t> png_encode_xrgb(const uint32_t* pixels, uint32_t width, uint32_t height);

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
