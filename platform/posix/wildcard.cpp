#include "platform/posix/wildcard.h"

#include <cstring>
#include <string>

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool match(const char* p, const char* n) {
    while (*p) {
        if (*p == '*') {
            while (*p == '*') ++p;
            if (!*p) return true;
            for (const char* s = n; *s; ++s)
                if (match(p, s)) return true;
            return match(p, n + std::strlen(n));
        }
        if (!*n) return false;
        if (*p != '?' && upper(*p) != upper(*n)) return false;
        ++p;
        ++n;
    }
    return !*n;
}

int dot_rank(const char* name) {
    if (std::strcmp(name, ".") == 0) return 0;
    if (std::strcmp(name, "..") == 0) return 1;
    return 2;
}

}  // namespace

bool windows_name_matches(const char* pattern, const char* name) {
    if (match(pattern, name)) return true;
    size_t len = std::strlen(pattern);
    if (len >= 2 && pattern[len - 2] == '.' && pattern[len - 1] == '*') {
        std::string bare(pattern, len - 2);
        if (std::strchr(name, '.') == nullptr && match(bare.c_str(), name)) return true;
    }
    return false;
}

int windows_listing_order(const char* a, const char* b) {
    int ra = dot_rank(a), rb = dot_rank(b);
    if (ra != rb || ra < 2) return ra - rb;
    for (;; ++a, ++b) {
        char ca = upper(*a), cb = upper(*b);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        if (!*a) break;
    }
    return 0;
}
