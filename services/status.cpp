#include "services/status.h"

#include <cstring>

#include "platform/platform.h"
#include "splash/splash_state.h"

namespace {

// The glyphs of the splash font, apart from the space.
bool drawable(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '%' || c == '-' || c == '.' ||
           c == '/' || c == ':';
}

constexpr int kMaxWords = 6;

}  // namespace

void status_set(const char* message) {
    if (splash_is_active()) splash_set_line(message, -1);
}

// Separators are not merged: each one becomes a space, so an em dash between
// spaces shows as five of them. A word is counted when it ends; the walk stops
// at the separator that ends the sixth.
void splash_set_line(const char* text, int32_t percent) {
    char line[kSplashLineSize];
    size_t length = 0;
    int words_ended = 0;
    bool in_word = false;

    plat_lock_enter(&g_splash.lock);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        unsigned char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        if (drawable(c)) {
            line[length++] = static_cast<char>(c);
            in_word = true;
        } else {
            if (in_word && ++words_ended >= kMaxWords) break;
            if (length > 0) line[length++] = ' ';
            in_word = false;
        }
        if (length == kSplashLineSize - 1) break;
    }
    while (length > 0 && line[length - 1] == ' ') --length;
    line[length] = 0;

    std::memcpy(g_splash.line, line, length + 1);
    g_splash.percent = percent;
    plat_lock_leave(&g_splash.lock);
}
