// Operations of the posix layer that live in files of their own.
#pragma once

#include "platform/platform.h"

plat_http posix_http_open(const plat_http_request& request);
uint32_t posix_http_read(plat_http http, unsigned char* buffer, uint32_t size);
void posix_http_close(plat_http http);

bool posix_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out);
bool posix_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length);
void posix_reg_close_key(plat_reg_key key);
