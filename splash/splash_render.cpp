#include "splash/splash_render.h"

#include <cstring>

#include "platform/platform.h"
#include "services/format.h"
#include "splash/font.h"
#include "splash/splash_state.h"

namespace {

constexpr uint32_t kTitleTop = 26, kTitleScale = 3;
constexpr uint32_t kLineTop = 158, kLineScale = 2;
constexpr uint32_t kPercentTop = 216, kPercentScale = 2;

// The progress frame: a trough with two-pixel edges, and inside it the fill.
constexpr int kBarLeft = 80, kBarRight = 379, kBarTop = 190, kBarBottom = 205;
constexpr int kFillLeft = 82, kFillTop = 192, kFillBottom = 203;
constexpr int kFillWidth = 296;  // columns 82 to 377 at 100 percent

constexpr int kPercentTextSize = 16;

// Columns and rows inclusive; the callers stay inside the surface.
void fill_rect(uint32_t* pixels, int left, int top, int right, int bottom, uint32_t colour) {
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) pixels[y * kSplashWidth + x] = colour;
}

void draw_spinner(uint32_t* pixels, int32_t frame) {
    for (int i = 0; i < kSpinnerDots; ++i) {
        const uint32_t colour = spinner_colour(spinner_level(frame, i));
        const int left = kSpinnerOriginX + kSpinnerStep * kSpinnerDirections[i][0];
        const int top = kSpinnerOriginY + kSpinnerStep * kSpinnerDirections[i][1];
        for (int y = top; y < top + kSpinnerDotSize; ++y) {
            if (y >= kSplashHeight) continue;
            for (int x = left; x < left + kSpinnerDotSize; ++x)
                if (x >= 0 && x < kSplashWidth) pixels[y * kSplashWidth + x] = colour;
        }
    }
}

// Drawing order matters: the dark bottom and right edges go over the light
// top and left ones, so the top-right and bottom-left corners come out dark.
void draw_progress(uint32_t* pixels, int32_t percent) {
    fill_rect(pixels, kBarLeft, kBarTop, kBarRight, kBarBottom, kProgressTrough);
    fill_rect(pixels, kBarLeft, kBarTop, kBarRight, kBarTop + 1, kProgressLightEdge);
    fill_rect(pixels, kBarLeft, kBarTop, kBarLeft + 1, kBarBottom, kProgressLightEdge);
    fill_rect(pixels, kBarLeft, kBarBottom - 1, kBarRight, kBarBottom, kProgressDarkEdge);
    fill_rect(pixels, kBarRight - 1, kBarTop, kBarRight, kBarBottom, kProgressDarkEdge);

    const int32_t q = percent > 100 ? 100 : percent;
    const int32_t filled = q * kFillWidth / 100;
    if (filled > 0) fill_rect(pixels, kFillLeft, kFillTop, kFillLeft + filled - 1, kFillBottom, kSplashTitle);

    char text[kPercentTextSize];
    format_into(text, sizeof text, "%d%%", static_cast<int>(q));
    font_draw(pixels, kPercentTop, kPercentScale, text, kSplashPercentText);
}

}  // namespace

uint32_t spinner_level(int32_t frame, int dot) {
    // The counter only grows from 0; as unsigned it stays in order even if it
    // ever wrapped.
    const uint32_t head = (static_cast<uint32_t>(frame) / 4) % kSpinnerDots;
    const uint32_t behind = (head + kSpinnerDots - static_cast<uint32_t>(dot)) % kSpinnerDots;
    const int32_t level = 235 - 26 * static_cast<int32_t>(behind);
    return level < 60 ? 60u : static_cast<uint32_t>(level);
}

uint32_t spinner_colour(uint32_t level) { return level << 16 | (level * 92 / 235) << 8 | (level * 138 / 235); }

void splash_draw_frame(uint32_t* pixels, const char* line, int32_t percent, int32_t frame) {
    for (int i = 0; i < kSplashWidth * kSplashHeight; ++i) pixels[i] = kSplashBackground;
    font_draw(pixels, kTitleTop, kTitleScale, kSplashTitleText, kSplashTitle);
    draw_spinner(pixels, frame);
    font_draw(pixels, kLineTop, kLineScale, line, kSplashLineText);
    if (percent >= 0) draw_progress(pixels, percent);
}

// The lock is held for the copy only, never while drawing, so the main thread
// waits at most for 64 bytes when it sets a new line.
void splash_render() {
    char line[kSplashLineSize];
    plat_lock_enter(&g_splash.lock);
    format_into(line, sizeof line, "%s", g_splash.line);
    const int32_t percent = g_splash.percent;
    const int32_t frame = g_splash.frame;
    plat_lock_leave(&g_splash.lock);
    splash_draw_frame(g_splash.surface_bits, line, percent, frame);
}
