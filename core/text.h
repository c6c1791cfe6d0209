// Small text rules of the launcher: letters compared without regard to case,
// ASCII only, as the C runtime's comparisons do in the "C" locale.
#pragma once

#include <cstddef>

inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when the first n bytes of a and b are equal without regard to case
// (both texts must hold n bytes).
inline bool ascii_equal_n(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

// _stricmp(a, b) == 0.
inline bool ascii_equal_nocase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (ascii_upper(*a) != ascii_upper(*b)) return false;
        if (!*a) return true;
    }
}

// The part of a path after its last backslash or slash (the whole path when
// it has neither).
template <typename Char>
const Char* base_name_of(const Char* path) {
    const Char* base = path;
    for (const Char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    return base;
}

// Whether text is well-formed UTF-8: no stray or missing continuation bytes,
// no overlong forms, no surrogates, nothing past U+10FFFF.
inline bool is_utf8(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        const unsigned lead = *p;
        const int more = lead < 0x80                    ? 0
                         : lead >= 0xC2 && lead <= 0xDF ? 1
                         : lead >= 0xE0 && lead <= 0xEF ? 2
                         : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                        : -1;
        if (more < 0) return false;
        unsigned code = lead & (0x7F >> more);
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        const bool overlong = (more == 2 && code < 0x800) || (more == 3 && code < 0x10000);
        if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
        p += more + 1;
    }
    return true;
}
