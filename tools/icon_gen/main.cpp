// Draws the launcher's icon and writes resources/pelko.ico: the splash's
// spinner (its eight dots at the levels of the first frame, the brightest on
// top) on the splash background, in a square with rounded corners, at 16 x 16
// and 32 x 32 pixels. Both images are 32-bit RGBA PNGs inside the .ico.
//
//   icon_gen PATH          writes the icon file
//   icon_gen --check PATH  exits 1 unless PATH holds exactly what it would write
//
// The icon is committed; the check keeps it in step with this drawing and the
// splash palette, so the Windows cross build never has to run a tool.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "png/png_write.h"
#include "splash/splash_render.h"

namespace {

struct icon_image {
    uint32_t size;
    std::vector<uint8_t> rgba;
    void set(uint32_t x, uint32_t y, uint32_t colour, uint8_t alpha) {
        uint8_t* p = &rgba[(y * size + x) * 4];
        p[0] = static_cast<uint8_t>(colour >> 16);
        p[1] = static_cast<uint8_t>(colour >> 8);
        p[2] = static_cast<uint8_t>(colour);
        p[3] = alpha;
    }
};

// The splash's spinner scaled down: dots of size / 8 pixels, size * 5 / 16
// apart, around the middle of the icon.
icon_image draw_icon(uint32_t size) {
    icon_image image{size, std::vector<uint8_t>(size * size * 4, 0)};
    const int radius = static_cast<int>(size) / 5;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            // Distance from the pixel's centre to the nearest corner circle's
            // centre, in half pixels, so the test stays in integers.
            const int cx = 2 * static_cast<int>(x) + 1, cy = 2 * static_cast<int>(y) + 1;
            const int lo = 2 * radius, hi = 2 * (static_cast<int>(size) - radius);
            const int dx = cx < lo ? lo - cx : (cx > hi ? cx - hi : 0);
            const int dy = cy < lo ? lo - cy : (cy > hi ? cy - hi : 0);
            if (dx * dx + dy * dy <= 4 * radius * radius) image.set(x, y, kSplashBackground, 255);
        }

    const int dot = static_cast<int>(size) / 8;
    const int step = static_cast<int>(size) * 5 / 16;
    const int middle = static_cast<int>(size) / 2 - dot / 2;
    for (int i = 0; i < kSpinnerDots; ++i) {
        const uint32_t colour = spinner_colour(spinner_level(0, i));
        const int left = middle + step * kSpinnerDirections[i][0];
        const int top = middle + step * kSpinnerDirections[i][1];
        for (int y = top; y < top + dot; ++y)
            for (int x = left; x < left + dot; ++x) image.set(x, y, colour, 255);
    }
    return image;
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// Format notes: an .ico is a 6-byte header (0, type 1, count), one 16-byte
// entry per image (width, height, colour count 0, reserved 0, planes,
// bits per pixel, size, offset; little-endian) and the images. An image may be
// a whole PNG file; windres copies it into an RT_ICON resource unchanged.
std::vector<uint8_t> icon_file() {
    const uint32_t sizes[] = {16, 32};
    std::vector<std::vector<uint8_t>> pngs;
    for (uint32_t size : sizes) {
        icon_image image = draw_icon(size);
        pngs.push_back(png_encode(image.rgba.data(), size, size, 4));
    }
    std::vector<uint8_t> ico;
    put16(ico, 0);
    put16(ico, 1);
    put16(ico, static_cast<uint16_t>(pngs.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * pngs.size());
    for (size_t i = 0; i < pngs.size(); ++i) {
        ico.push_back(static_cast<uint8_t>(sizes[i]));
        ico.push_back(static_cast<uint8_t>(sizes[i]));
        ico.push_back(0);
        ico.push_back(0);
        put16(ico, 1);
        put16(ico, 32);
        put32(ico, static_cast<uint32_t>(pngs[i].size()));
        put32(ico, offset);
        offset += static_cast<uint32_t>(pngs[i].size());
    }
    for (const auto& png : pngs) ico.insert(ico.end(), png.begin(), png.end());
    return ico;
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
        if (read_bytes(argv[2]) == icon_file()) return 0;
        std::fprintf(stderr, "icon_gen: %s differs from what icon_gen draws; run icon_gen %s\n", argv[2], argv[2]);
        return 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon_gen PATH | icon_gen --check PATH\n");
        return 2;
    }
    if (!write_bytes(argv[1], icon_file())) {
        std::fprintf(stderr, "icon_gen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
