// The splash picture with any line, percentage and frame counter, and the font
// at any scale and row its callers may use: nothing is written outside the
// 460 x 250 surface (AddressSanitizer sees the exact allocation).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "splash/font.h"
#include "splash/splash_render.h"
#include "splash/splash_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    int32_t percent, frame;
    std::memcpy(&percent, data, 4);
    std::memcpy(&frame, data + 4, 4);
    const uint32_t scale = 1 + data[8] % 35;  // 7 * 35 rows still fit
    const uint32_t top = data[9] % (kSplashHeight - kGlyphRows * scale + 1);
    data += 10;
    size -= 10;

    // The splash line is at most 63 characters; the font takes any length.
    char line[kSplashLineSize];
    const size_t line_length = size < sizeof line - 1 ? size : sizeof line - 1;
    std::memcpy(line, data, line_length);
    line[line_length] = 0;
    auto text = std::make_unique<char[]>(size + 1);
    std::memcpy(text.get(), data, size);
    text[size] = 0;

    auto surface = std::make_unique<uint32_t[]>(kSplashWidth * kSplashHeight);
    splash_draw_frame(surface.get(), line, percent, frame);
    font_draw(surface.get(), top, scale, text.get(), 0x00FFFFFF);
    return 0;
}
