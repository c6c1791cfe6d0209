// Downloads on libcurl for the native build. The whole response body is
// received into a temporary file when the request is opened, then handed out
// in pieces, which gives the same observable results as the product's
// streamed transfer: any status is a response, no response is a failure,
// redirects are followed.
#include <curl/curl.h>

#include <cstdio>
#include <string>

#include "platform/posix/posix_layer.h"
#include "platform/posix/utf.h"

namespace {

struct Download {
    FILE* body;
};

std::string narrow(const char16_t* text) {
    std::u16string wide = text ? text : u"";
    int n = windows_wide_to_utf8(wide.c_str(), static_cast<int>(wide.size()), nullptr, 0);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) windows_wide_to_utf8(wide.c_str(), static_cast<int>(wide.size()), &out[0], n);
    return out;
}

size_t write_body(char* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

}  // namespace

plat_http posix_http_open(const plat_http_request& request) {
    std::string url = std::string(request.secure ? "https://" : "http://") + narrow(request.host) + ":" +
                      std::to_string(request.port) + narrow(request.object);
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    FILE* body = std::tmpfile();
    if (!body) {
        curl_easy_cleanup(curl);
        return nullptr;
    }
    std::string agent = narrow(request.user_agent);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");  // the product uses the system's (usually no) proxy, not the environment's
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (status == 0) {  // nothing came back: no connection, no response
        std::fclose(body);
        return nullptr;
    }
    std::rewind(body);
    return new Download{body};
}

uint32_t posix_http_read(plat_http http, unsigned char* buffer, uint32_t size) {
    auto* d = static_cast<Download*>(http);
    return static_cast<uint32_t>(std::fread(buffer, 1, size, d->body));
}

void posix_http_close(plat_http http) {
    auto* d = static_cast<Download*>(http);
    if (!d) return;
    std::fclose(d->body);
    delete d;
}
