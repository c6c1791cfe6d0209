// Operations of the win32 layer that live in files of their own.
#pragma once

#include <windows.h>

#include "platform/platform.h"

// A DLL from the system folder only, never one beside the launcher.
inline HMODULE load_system_library(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Sets *out to the function name of module (null when module is): false when
// there is none.
template <typename Function>
bool find_function(HMODULE module, const char* name, Function* out) {
    *out = module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    return *out != nullptr;
}

plat_http win_http_open(const plat_http_request& request);
uint32_t win_http_read(plat_http http, unsigned char* buffer, uint32_t size);
void win_http_close(plat_http http);
