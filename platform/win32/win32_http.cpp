// Downloads on WinHTTP, synchronous, with the session's defaults for
// time-outs, redirects, proxies and certificate checks.
//
// WinHTTP is not one of the DLLs Windows always takes from the system folder
// (KnownDLLs). Imported the usual way, a winhttp.dll that a web page dropped
// into the download folder would be loaded beside the launcher, and run,
// before any of its code. So it is loaded here, from the system folder only,
// on the first download; without it a download fails as one without a
// response does.
#include <windows.h>
#include <winhttp.h>

#include <new>

#include "platform/win32/win32_layer.h"

namespace {

struct winhttp_functions {
    decltype(&WinHttpOpen) open;
    decltype(&WinHttpConnect) connect;
    decltype(&WinHttpOpenRequest) open_request;
    decltype(&WinHttpSendRequest) send_request;
    decltype(&WinHttpReceiveResponse) receive_response;
    decltype(&WinHttpQueryDataAvailable) query_data_available;
    decltype(&WinHttpReadData) read_data;
    decltype(&WinHttpCloseHandle) close_handle;
};

// Null when the system's winhttp.dll cannot be loaded or lacks a function.
const winhttp_functions* winhttp() {
    static winhttp_functions f;
    static bool loaded = [] {
        HMODULE m = load_system_library(L"winhttp.dll");
        return find_function(m, "WinHttpOpen", &f.open) && find_function(m, "WinHttpConnect", &f.connect) &&
               find_function(m, "WinHttpOpenRequest", &f.open_request) &&
               find_function(m, "WinHttpSendRequest", &f.send_request) &&
               find_function(m, "WinHttpReceiveResponse", &f.receive_response) &&
               find_function(m, "WinHttpQueryDataAvailable", &f.query_data_available) &&
               find_function(m, "WinHttpReadData", &f.read_data) &&
               find_function(m, "WinHttpCloseHandle", &f.close_handle);
    }();
    return loaded ? &f : nullptr;
}

struct http_handles {
    HINTERNET session;
    HINTERNET connection;
    HINTERNET request;
};

void close_all(http_handles* h) {
    if (h->request) winhttp()->close_handle(h->request);
    if (h->connection) winhttp()->close_handle(h->connection);
    if (h->session) winhttp()->close_handle(h->session);
}

const WCHAR* wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

}  // namespace

plat_http win_http_open(const plat_http_request& request) {
    const winhttp_functions* f = winhttp();
    if (!f) return nullptr;
    http_handles h = {};
    h.session = f->open(wide(request.user_agent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session) return nullptr;
    h.connection = f->connect(h.session, wide(request.host), request.port, 0);
    if (!h.connection) {
        close_all(&h);
        return nullptr;
    }
    h.request = f->open_request(h.connection, L"GET", wide(request.object), nullptr, WINHTTP_NO_REFERER,
                                WINHTTP_DEFAULT_ACCEPT_TYPES, request.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!h.request) {
        close_all(&h);
        return nullptr;
    }
    if (!f->send_request(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !f->receive_response(h.request, nullptr)) {
        close_all(&h);
        return nullptr;
    }
    auto* handles = new (std::nothrow) http_handles(h);
    if (!handles) close_all(&h);
    return handles;
}

uint32_t win_http_read(plat_http http, unsigned char* buffer, uint32_t size) {
    auto* h = static_cast<http_handles*>(http);
    DWORD available = 0;
    if (!winhttp()->query_data_available(h->request, &available) || available == 0) return 0;
    DWORD wanted = available < size ? available : size;
    DWORD read = 0;
    if (!winhttp()->read_data(h->request, buffer, wanted, &read)) return 0;
    return read;
}

void win_http_close(plat_http http) {
    auto* h = static_cast<http_handles*>(http);
    if (!h) return;
    close_all(h);
    delete h;
}
