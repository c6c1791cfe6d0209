// Operations of the posix layer that live in files of their own.
#pragma once

#include "platform/platform.h"

plat_http posix_http_open(const plat_http_request& request);
uint32_t posix_http_read(plat_http http, unsigned char* buffer, uint32_t size);
void posix_http_close(plat_http http);
