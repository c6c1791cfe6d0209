// The splash picture, redrawn from scratch on every tick into the 460 x 250
// surface: a dark background, the title, a ring of eight dots around which a
// bright dot runs, the splash line and, only while a percentage is set, a
// progress bar with the percentage under it. Every pixel is written here; no
// GDI drawing is involved.
//
// From the top: title (rows 26 to 46), spinner (79 to 137), splash line (158
// to 171), progress bar (190 to 205), percentage (216 to 229).
#pragma once

#include <cstdint>

// Colours, 0x00RRGGBB.
constexpr uint32_t kSplashBackground = 0x000E0F1A;
constexpr uint32_t kSplashTitle = 0x00FF5C8A;  // also the progress fill
constexpr uint32_t kSplashLineText = 0x00C8CDE1;
constexpr uint32_t kSplashPercentText = 0x008A90AD;
constexpr uint32_t kProgressTrough = 0x00191B2E;
constexpr uint32_t kProgressLightEdge = 0x002A2D45;  // top and left
constexpr uint32_t kProgressDarkEdge = 0x000A0B14;   // bottom and right

constexpr char kSplashTitleText[] = "SUNSET TIDES";

// Spinner geometry: eight 7 x 7 dots, clockwise from the top, 26 pixels apart
// along each axis around the centre pixel (230, 108).
constexpr int kSpinnerDots = 8;
constexpr int kSpinnerDotSize = 7;
constexpr int kSpinnerStep = 26;
constexpr int kSpinnerOriginX = 227;  // top-left of the (invisible) centre dot
constexpr int kSpinnerOriginY = 105;
constexpr int kSpinnerDirections[kSpinnerDots][2] = {{0, -1}, {1, -1}, {1, 0},  {1, 1},
                                                     {0, 1},  {-1, 1}, {-1, 0}, {-1, -1}};

// The brightness of dot i at a frame: 235 for the head, which moves one place
// clockwise every 4 ticks, then 26 less for each place behind it, never below 60.
uint32_t spinner_level(int32_t frame, int dot);

// A dot of level L: red L, green L * 92 / 235, blue L * 138 / 235, so the
// brightest dot has the title's hue.
uint32_t spinner_colour(uint32_t level);

// Draws one complete frame into the splash state's surface from its line,
// percentage and frame counter, which it reads under the splash lock. Splash
// thread only.
void splash_render();

// The same picture from given values into any kSplashWidth x kSplashHeight
// surface (splash_render's drawing, for tools and tests).
void splash_draw_frame(uint32_t* pixels, const char* line, int32_t percent, int32_t frame);
