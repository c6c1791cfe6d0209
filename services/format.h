// Bounded formatting: every path, command line and message the launcher
// composes goes through here into a fixed buffer of the caller's.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The separator every path is composed with, passed to a "%c" conversion.
constexpr char kPathSeparator = '\\';

// C99 snprintf: with size above 0 writes at most size - 1 bytes and a NUL;
// with size 0 writes nothing. Returns the length the whole text would have.
int format_into(char* buffer, uint64_t size, const char* format, ...) PLAT_PRINTF_FORMAT(3, 4);
