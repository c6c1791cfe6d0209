// The splash's own 5x7 bitmap font: upper-case letters, digits and "-.:/!%".
// Text is drawn pixel by pixel, one line centred on the splash surface; no
// system font is involved.
#pragma once

#include <cstdint>

// A character cell is 6 columns (5 glyph columns and one blank) by 7 rows,
// both multiplied by the scale.
constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;
constexpr int kCellColumns = 6;

// Draws text as one line centred horizontally on the splash surface (the
// state's surface bits), its top at row top, each font dot a scale x scale
// square of colour (0x00RRGGBB).
void font_draw_text(uint32_t top, uint32_t scale, const char* text, uint32_t colour);

// The same onto any kSplashWidth x kSplashHeight surface.
//
// Pixels left or right of the surface are skipped, so a line wider than the
// surface loses columns evenly on both sides. Rows are not checked: the caller
// keeps top + 7 * scale within the surface's rows.
void font_draw(uint32_t* pixels, uint32_t top, uint32_t scale, const char* text, uint32_t colour);
