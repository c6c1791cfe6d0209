// Downloads on WinHTTP, synchronous, with the session's defaults for
// time-outs, redirects, proxies and certificate checks.
#include <windows.h>
#include <winhttp.h>

#include <new>

#include "platform/win32/win32_layer.h"

namespace {

struct http_handles {
    HINTERNET session;
    HINTERNET connection;
    HINTERNET request;
};

void close_all(http_handles* h) {
    if (h->request) WinHttpCloseHandle(h->request);
    if (h->connection) WinHttpCloseHandle(h->connection);
    if (h->session) WinHttpCloseHandle(h->session);
}

const WCHAR* wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

}  // namespace

plat_http win_http_open(const plat_http_request& request) {
    http_handles h = {};
    h.session = WinHttpOpen(wide(request.user_agent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session) return nullptr;
    h.connection = WinHttpConnect(h.session, wide(request.host), request.port, 0);
    if (!h.connection) {
        close_all(&h);
        return nullptr;
    }
    h.request = WinHttpOpenRequest(h.connection, L"GET", wide(request.object), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, request.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!h.request) {
        close_all(&h);
        return nullptr;
    }
    if (!WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(h.request, nullptr)) {
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
    if (!WinHttpQueryDataAvailable(h->request, &available) || available == 0) return 0;
    DWORD wanted = available < size ? available : size;
    DWORD read = 0;
    if (!WinHttpReadData(h->request, buffer, wanted, &read)) return 0;
    return read;
}

void win_http_close(plat_http http) {
    auto* h = static_cast<http_handles*>(http);
    if (!h) return;
    close_all(h);
    delete h;
}
