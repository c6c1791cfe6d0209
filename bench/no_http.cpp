// The benchmark never downloads. Defining the posix layer's HTTP operations
// here keeps its libcurl file (and the thirty-odd libraries libcurl loads,
// about 5 ms of start-up) out of pelko_codec, which would otherwise time the
// dynamic loader along with the codecs. The launcher on Windows has only
// WinHTTP, a system library.
#include "platform/posix/posix_layer.h"

plat_http posix_http_open(const plat_http_request&) { return nullptr; }
uint32_t posix_http_read(plat_http, unsigned char*, uint32_t) { return 0; }
void posix_http_close(plat_http) {}
