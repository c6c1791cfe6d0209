#include "platform/posix/utf.h"

#include <cstring>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

std::string wide_to_utf8_string(const char16_t* in, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        char32_t c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        append_utf8(out, c);
    }
    return out;
}

std::u16string utf8_to_wide_string(const unsigned char* in, size_t n) {
    std::u16string out;
    size_t i = 0;
    while (i < n) {
        unsigned char b = in[i];
        if (b < 0x80) {
            out += b;
            ++i;
            continue;
        }
        size_t len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
        char32_t c = len == 4 ? b & 0x07 : len == 3 ? b & 0x0F : b & 0x1F;
        size_t k = 1;
        for (; len && k < len && i + k < n && (in[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (in[i + k] & 0x3F);
        bool ok = len && k == len && !(len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
                  !(len == 4 && (c < 0x10000 || c > 0x10FFFF));
        if (!ok) {
            out += static_cast<char16_t>(kReplacement);
            i += k > 1 ? k : 1;
            continue;
        }
        append_utf16(out, c);
        i += len;
    }
    return out;
}

template <typename Out>
int deliver(const Out& converted, typename Out::value_type* out, int out_size) {
    int needed = static_cast<int>(converted.size());
    if (out_size == 0) return needed;
    if (needed > out_size) return 0;
    std::memcpy(out, converted.data(), converted.size() * sizeof(typename Out::value_type));
    return needed;
}

}  // namespace

int windows_wide_to_utf8(const char16_t* in, int in_length, char* out, int out_size) {
    if (!in || in_length == 0 || in_length < -1 || out_size < 0) return 0;
    size_t n = 0;
    if (in_length == -1) {
        while (in[n]) ++n;
        ++n;  // the NUL is converted too
    } else {
        n = static_cast<size_t>(in_length);
    }
    return deliver(wide_to_utf8_string(in, n), out, out_size);
}

int windows_utf8_to_wide(const char* in, int in_length, char16_t* out, int out_size) {
    if (!in || in_length == 0 || in_length < -1 || out_size < 0) return 0;
    size_t n = in_length == -1 ? std::strlen(in) + 1 : static_cast<size_t>(in_length);
    return deliver(utf8_to_wide_string(reinterpret_cast<const unsigned char*>(in), n), out, out_size);
}

std::u16string utf8_to_utf16(const std::string& text) {
    return utf8_to_wide_string(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}
