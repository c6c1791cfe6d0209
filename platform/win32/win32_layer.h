// Operations of the win32 layer that live in files of their own.
#pragma once

#include "platform/platform.h"

plat_http win_http_open(const plat_http_request& request);
uint32_t win_http_read(plat_http http, unsigned char* buffer, uint32_t size);
void win_http_close(plat_http http);
