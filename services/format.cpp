#include "services/format.h"

#include <cstdarg>
#include <cstdio>

int format_into(char* buffer, uint64_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(size ? buffer : nullptr, static_cast<size_t>(size), format, args);
    va_end(args);
    return length;
}
