#include "services/log.h"

#include <cstdarg>

// vfprintf holds the stream's lock for the whole call, so lines never
// interleave. The stream is not flushed here: the runtime's buffering stands.
void log_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void file_printf(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}
