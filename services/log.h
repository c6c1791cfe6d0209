// The log: one English line per call on standard output, no time stamp, no
// level. Callers supply the final "\n".
#pragma once

#include <cstdio>

#include "platform/platform.h"

void log_printf(const char* format, ...) PLAT_PRINTF_FORMAT(1, 2);

// The same onto a stream the caller opened: small record files, standard error.
void file_printf(FILE* stream, const char* format, ...) PLAT_PRINTF_FORMAT(2, 3);
