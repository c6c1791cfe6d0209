#include "splash/font.h"

#include <cassert>
#include <cstring>

#include "splash/splash_state.h"

namespace {

// Format notes: one byte per glyph column, left to right; bit 0 is the top row
// and bit 6 the bottom one, bit 7 is never set. Index 0 is the blank glyph of
// the space and of every byte the font has no glyph for.
constexpr unsigned char kGlyphs[43][kGlyphColumns] = {
    {0x00, 0x00, 0x00, 0x00, 0x00},  // blank
    {0x3E, 0x51, 0x49, 0x45, 0x3E},  // 0
    {0x00, 0x42, 0x7F, 0x40, 0x00},  // 1
    {0x42, 0x61, 0x51, 0x49, 0x46},  // 2
    {0x21, 0x41, 0x45, 0x4B, 0x31},  // 3
    {0x18, 0x14, 0x12, 0x7F, 0x10},  // 4
    {0x27, 0x45, 0x45, 0x45, 0x39},  // 5
    {0x3C, 0x4A, 0x49, 0x49, 0x30},  // 6
    {0x01, 0x71, 0x09, 0x05, 0x03},  // 7
    {0x36, 0x49, 0x49, 0x49, 0x36},  // 8
    {0x06, 0x49, 0x49, 0x29, 0x1E},  // 9
    {0x7E, 0x11, 0x11, 0x11, 0x7E},  // A
    {0x7F, 0x49, 0x49, 0x49, 0x36},  // B
    {0x3E, 0x41, 0x41, 0x41, 0x22},  // C
    {0x7F, 0x41, 0x41, 0x22, 0x1C},  // D
    {0x7F, 0x49, 0x49, 0x49, 0x41},  // E
    {0x7F, 0x09, 0x09, 0x09, 0x01},  // F
    {0x3E, 0x41, 0x49, 0x49, 0x7A},  // G
    {0x7F, 0x08, 0x08, 0x08, 0x7F},  // H
    {0x00, 0x41, 0x7F, 0x41, 0x00},  // I
    {0x20, 0x40, 0x41, 0x3F, 0x01},  // J
    {0x7F, 0x08, 0x14, 0x22, 0x41},  // K
    {0x7F, 0x40, 0x40, 0x40, 0x40},  // L
    {0x7F, 0x02, 0x0C, 0x02, 0x7F},  // M
    {0x7F, 0x04, 0x08, 0x10, 0x7F},  // N
    {0x3E, 0x41, 0x41, 0x41, 0x3E},  // O
    {0x7F, 0x09, 0x09, 0x09, 0x06},  // P
    {0x3E, 0x41, 0x51, 0x21, 0x5E},  // Q
    {0x7F, 0x09, 0x19, 0x29, 0x46},  // R
    {0x46, 0x49, 0x49, 0x49, 0x31},  // S
    {0x01, 0x01, 0x7F, 0x01, 0x01},  // T
    {0x3F, 0x40, 0x40, 0x40, 0x3F},  // U
    {0x1F, 0x20, 0x40, 0x20, 0x1F},  // V
    {0x3F, 0x40, 0x38, 0x40, 0x3F},  // W
    {0x63, 0x14, 0x08, 0x14, 0x63},  // X
    {0x07, 0x08, 0x70, 0x08, 0x07},  // Y
    {0x61, 0x51, 0x49, 0x45, 0x43},  // Z
    {0x08, 0x08, 0x08, 0x08, 0x08},  // -
    {0x00, 0x60, 0x60, 0x00, 0x00},  // .
    {0x00, 0x36, 0x36, 0x00, 0x00},  // :
    {0x20, 0x10, 0x08, 0x04, 0x02},  // /
    {0x00, 0x00, 0x5F, 0x00, 0x00},  // !
    {0x23, 0x13, 0x08, 0x64, 0x62},  // %
};

int glyph_index(unsigned char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') return 1 + (c - '0');
    if (c >= 'A' && c <= 'Z') return 11 + (c - 'A');
    switch (c) {
        case '-': return 37;
        case '.': return 38;
        case ':': return 39;
        case '/': return 40;
        case '!': return 41;
        case '%': return 42;
        default: return 0;
    }
}

// One font dot: a scale x scale square, cut at the left and right edges.
void fill_dot(uint32_t* pixels, int64_t left, int64_t top, int64_t scale, uint32_t colour) {
    int64_t first = left < 0 ? 0 : left;
    int64_t last = left + scale - 1 < kSplashWidth - 1 ? left + scale - 1 : kSplashWidth - 1;
    for (int64_t y = top; y < top + scale; ++y)
        for (int64_t x = first; x <= last; ++x) pixels[y * kSplashWidth + x] = colour;
}

}  // namespace

// The line is 6 n s - s wide (the blank column after the last glyph does not
// count) and starts at 230 - width / 2: centred on the surface, rounding the
// odd half pixel to the right.
void font_draw(uint32_t* pixels, uint32_t top, uint32_t scale, const char* text, uint32_t colour) {
    const int64_t n = static_cast<int64_t>(std::strlen(text));
    if (n == 0) return;
    const int64_t s = scale;
    assert(static_cast<int64_t>(top) + kGlyphRows * s <= kSplashHeight);
    const int64_t width = kCellColumns * n * s - s;
    const int64_t x0 = kSplashWidth / 2 - width / 2;

    for (int64_t j = 0; j < n; ++j) {
        const int64_t start = x0 + kCellColumns * s * j;
        if (start >= kSplashWidth) break;              // this and every later cell lie right of the surface
        if (start + kGlyphColumns * s <= 0) continue;  // left of it
        const unsigned char* glyph = kGlyphs[glyph_index(static_cast<unsigned char>(text[j]))];
        for (int c = 0; c < kGlyphColumns; ++c)
            for (int r = 0; r < kGlyphRows; ++r)
                if (glyph[c] & (1u << r)) fill_dot(pixels, start + c * s, top + r * s, s, colour);
    }
}

void font_draw_text(uint32_t top, uint32_t scale, const char* text, uint32_t colour) {
    font_draw(g_splash.surface_bits, top, scale, text, colour);
}
