// Draws one splash frame natively, as the launcher's splash thread would, and
// writes it as PNG (for a person to look at) and/or as raw RGB bytes (for the
// end-to-end tests, which compare it with a screenshot of the real window).
//
//   splash_frame [--status TEXT | --line TEXT] [--percent N] [--frame N]
//                [--png PATH] [--rgb PATH]
//
// --status passes TEXT through the status line's reduction (upper case, six
// words, font characters only), as status_set does; --line draws TEXT as it is.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "png/png_write.h"
#include "services/status.h"
#include "splash/splash_render.h"
#include "splash/splash_state.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: splash_frame [--status TEXT | --line TEXT] [--percent N] [--frame N] "
                 "[--png PATH] [--rgb PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string line = "STARTING UP", png_path, rgb_path;
    bool reduce = false;
    int percent = -1, frame = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (option == "--status" || option == "--line") {
            line = value;
            reduce = option == "--status";
        } else if (option == "--percent") {
            percent = std::atoi(value);
        } else if (option == "--frame") {
            frame = std::atoi(value);
        } else if (option == "--png") {
            png_path = value;
        } else if (option == "--rgb") {
            rgb_path = value;
        } else {
            return usage();
        }
    }
    if (png_path.empty() && rgb_path.empty()) return usage();

    // The same path as the splash thread: the line and numbers in the splash
    // state, then splash_render into the surface.
    std::vector<uint32_t> surface(kSplashWidth * kSplashHeight);
    splash_state_clear();
    plat_lock_init(&g_splash.lock);
    if (reduce) {
        splash_set_line(line.c_str(), percent);
    } else {
        std::snprintf(g_splash.line, sizeof g_splash.line, "%s", line.c_str());
        g_splash.percent = percent;
    }
    g_splash.frame = frame;
    g_splash.surface_bits = surface.data();
    splash_render();
    plat_lock_retire(&g_splash.lock);

    if (!png_path.empty() && !write_bytes(png_path, png_encode_xrgb(surface.data(), kSplashWidth, kSplashHeight))) {
        std::fprintf(stderr, "splash_frame: cannot write %s\n", png_path.c_str());
        return 1;
    }
    if (!rgb_path.empty()) {
        std::vector<uint8_t> rgb;
        for (uint32_t p : surface) {
            rgb.push_back(static_cast<uint8_t>(p >> 16));
            rgb.push_back(static_cast<uint8_t>(p >> 8));
            rgb.push_back(static_cast<uint8_t>(p));
        }
        if (!write_bytes(rgb_path, rgb)) {
            std::fprintf(stderr, "splash_frame: cannot write %s\n", rgb_path.c_str());
            return 1;
        }
    }
    return 0;
}
