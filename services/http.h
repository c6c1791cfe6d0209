// The launcher's one network operation: GET a URL into a file.
#pragma once

#include <cstdint>

constexpr int kHostSize = 256;  // 255 bytes of host and a NUL
constexpr int kObjectWideSize = 1024;
constexpr int kHostWideSize = 256;
constexpr int kTransferSize = 16384;
// A download stops after this many bytes, like a body the server cut short.
constexpr uint64_t kMaxDownloadBytes = 0x7FFFFFFF;

// The parts of an http or https URL as the download uses them.
struct http_url {
    bool secure;
    char host[kHostSize];  // cut to 255 bytes, then at the first ":"
    uint16_t port;         // the scheme's default unless ":N" gives 1 or more
    const char* object;    // from the first "/" after the scheme, or "/"
};

// False for any scheme but "https://" and "http://" (case-sensitive).
bool http_parse_url(const char* url, http_url* out);

// 0 when a response arrived and its body (whatever the status, possibly empty
// or cut short) was written to path; 1 when the URL is not http(s), no
// response came, or path cannot be created. The file is created only after a
// response arrived.
int http_get_to_file(const char* url, const char* path);
