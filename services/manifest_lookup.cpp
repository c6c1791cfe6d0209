// Not a JSON parser: the manifest's values are all strings, and these search
// rules are what manifest authors rely on. A key is matched with its quotes,
// so "url" never matches inside "updater_url"; whatever stands between a key
// and its value is skipped, so a key whose value is not a string yields the
// next string in the text.
#include "services/manifest_lookup.h"

#include <cstdlib>
#include <cstring>

#include "services/format.h"

namespace {
constexpr int kPatternSize = 128;
}

char* json_get_string(const char* text, const char* key) {
    char pattern[kPatternSize];
    // A key too long for the pattern buffer is never looked up cut short.
    if (format_into(pattern, sizeof pattern, "\"%s\"", key) >= kPatternSize) return nullptr;

    const char* found = std::strstr(text, pattern);
    if (!found) return nullptr;
    const char* colon = std::strchr(found + std::strlen(pattern), ':');
    if (!colon) return nullptr;
    const char* open = std::strchr(colon, '"');
    if (!open) return nullptr;
    const char* close = std::strchr(open + 1, '"');
    if (!close) return nullptr;

    size_t length = static_cast<size_t>(close - open - 1);
    char* value = static_cast<char*>(std::malloc(length + 1));
    if (!value) return nullptr;
    std::memcpy(value, open + 1, length);
    value[length] = 0;
    return value;
}
