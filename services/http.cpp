#include "services/http.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "build_config.h"
#include "platform/platform.h"

namespace {

// The same for every request, whichever host the URL names.
constexpr char16_t kUserAgent[] = u"Pelko/1.0 (+https://" PELKO_UPDATE_HOST ")";

}  // namespace

bool http_parse_url(const char* url, http_url* out) {
    const char* rest;
    if (std::strncmp(url, "https://", 8) == 0) {
        out->secure = true;
        out->port = 443;
        rest = url + 8;
    } else if (std::strncmp(url, "http://", 7) == 0) {
        out->secure = false;
        out->port = 80;
        rest = url + 7;
    } else {
        return false;
    }

    const char* slash = std::strchr(rest, '/');
    size_t host_length = slash ? static_cast<size_t>(slash - rest) : std::strlen(rest);
    if (host_length > kHostSize - 1) host_length = kHostSize - 1;
    std::memcpy(out->host, rest, host_length);
    out->host[host_length] = 0;
    out->object = slash ? slash : "/";

    if (char* colon = std::strchr(out->host, ':')) {
        *colon = 0;
        int port = std::atoi(colon + 1);
        if (port >= 1) out->port = static_cast<uint16_t>(port);
    }
    return true;
}

int http_get_to_file(const char* url, const char* path) {
    http_url parts;
    if (!http_parse_url(url, &parts)) return 1;

    // A path or host that does not convert whole is never used cut short.
    char16_t object[kObjectWideSize];
    char16_t host[kHostWideSize];
    if (plat_utf8_to_wide(parts.object, -1, object, kObjectWideSize) == 0) return 1;
    if (plat_utf8_to_wide(parts.host, -1, host, kHostWideSize) == 0) return 1;

    plat_http_request request{kUserAgent, host, parts.port, object, parts.secure};
    plat_http http = plat_http_open(request);
    if (!http) return 1;

    // The status is not examined: an error page is a download like any other,
    // and the callers judge what arrived.
    FILE* file = plat_fopen(path, "wb");
    if (!file) {
        plat_http_close(http);
        return 1;
    }
    // Nothing larger than the limit can pass a digest check or the ZIP walk, so
    // an endless body ends there, as one cut off by the server does.
    unsigned char buffer[kTransferSize];
    uint64_t left = kMaxDownloadBytes;
    while (uint32_t n =
               plat_http_read(http, buffer, left < sizeof buffer ? static_cast<uint32_t>(left) : sizeof buffer)) {
        std::fwrite(buffer, 1, n, file);
        left -= n;
        if (left == 0) break;
    }
    std::fclose(file);
    plat_http_close(http);
    return 0;
}
