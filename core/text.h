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
