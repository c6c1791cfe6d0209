// Downloads: which URLs are fetched from where, and what a response leaves on disk.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "build_config.h"
#include "http_server.h"
#include "services/http.h"
#include "support.h"

namespace {

class Download : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string dest = tmp.win("out.bin");
    int get(const std::string& url) { return http_get_to_file(url.c_str(), dest.c_str()); }
};

// Each URL is parsed, and the request handed to the platform carries the same
// parts (no host but 127.0.0.1 answers, so nothing leaves the machine).
TEST_F(Download, TheUrlGivesSchemeHostPortAndObjectAsWritten) {
    struct Case {
        std::string url;
        bool secure;
        std::string host;
        uint16_t port;
        std::string object;
    };
    const Case cases[] = {
        {"https://updates.example", true, "updates.example", 443, "/"},
        {"http://example:8080/a/b?c=d", false, "example", 8080, "/a/b?c=d"},
        {"http://h//manifest.json", false, "h", 80, "//manifest.json"},
        // A port that does not read as one or more keeps the default.
        {"http://h:0/x", false, "h", 80, "/x"},
        {"https://h:abc/x", true, "h", 443, "/x"},
        {"http://h:-5/x", false, "h", 80, "/x"},
        {"http://h:/x", false, "h", 80, "/x"},
        {"http://h: 81x/", false, "h", 81, "/"},
        // A long host is cut to 255 bytes before the port is looked for.
        {"http://" + std::string(300, 'a') + ":8080/x", false, std::string(255, 'a'), 80, "/x"},
        {"http://" + std::string(250, 'b') + ":8080/x", false, std::string(250, 'b'), 8080, "/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        http_url parts{};
        ASSERT_TRUE(http_parse_url(c.url.c_str(), &parts));
        EXPECT_EQ(parts.secure, c.secure);
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.port, c.port);
        EXPECT_EQ(std::string(parts.object ? parts.object : "<null>"), c.object);

        EXPECT_EQ(get(c.url), 1);
        ASSERT_FALSE(fake.http_requests.empty());
        const FakePlatform::HttpRequest& seen = fake.http_requests.back();
        EXPECT_EQ(seen.secure, c.secure);
        EXPECT_EQ(seen.host, c.host);
        EXPECT_EQ(seen.port, c.port);
        EXPECT_EQ(seen.object, c.object);
    }
    EXPECT_EQ(fake.http_requests.size(), std::size(cases));

    // Only lower-case http and https are accepted.
    for (const char* url : {"HTTPS://h/x", "Http://h/x", "ftp://h/x", "https:/h/x", ""}) {
        http_url parts;
        EXPECT_FALSE(http_parse_url(url, &parts)) << url;
    }
}

// Any status is a download: the body is stored over what was there, whole,
// and the callers judge it.
TEST_F(Download, WhateverArrivesIsStoredWithTheLaunchersUserAgentAndExactPath) {
    std::string big(3 * kTransferSize + 123, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 300);
    std::string fits = "/" + std::string(1022, 'p');  // 1,023 units and the NUL
    server.serve("/new", {200, "the real thing"});
    struct Case {
        std::string path;
        LoopbackServer::Response response;
        std::string stored;
    };
    const Case cases[] = {
        {"/missing", {404, "<html>not found</html>"}, "<html>not found</html>"},
        {"/boom", {500, "oops"}, "oops"},
        {"/empty", {200, ""}, ""},
        {"/big", {200, big}, big},
        {"/releases/manifest.json?x=1", {200, "{}"}, "{}"},
        {fits, {200, "ok"}, "ok"},
        {"/cut", {200, std::string(50000, 'x'), "", 20000}, std::string(20000, 'x')},  // keeps what arrived
        {"/old", {302, "moved", server.url("/new")}, "the real thing"},  // followed as the system does
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        write_file(tmp.at("out.bin"), "old content");
        server.serve(c.path, c.response);
        size_t before = server.requests().size();
        EXPECT_EQ(get(server.url(c.path)), 0);
        EXPECT_TRUE(file_exists(tmp.at("out.bin")));
        EXPECT_EQ(read_file(tmp.at("out.bin")), c.stored);
        auto seen = server.requests();
        ASSERT_GT(seen.size(), before);
        EXPECT_EQ(seen[before].path, c.path);
    }
    EXPECT_EQ(server.requests().size(), std::size(cases) + 1);
    for (const auto& request : server.requests())
        EXPECT_EQ(request.user_agent, "Pelko/1.0 (+https://" PELKO_UPDATE_HOST ")");

    // A response with nowhere to store it is a failure.
    dest = tmp.win("no-such-folder\\out.bin");
    EXPECT_EQ(get(server.url("/boom")), 1);
    EXPECT_EQ(server.requests().size(), std::size(cases) + 2);
}

TEST_F(Download, WithoutAResponseNothingIsWritten) {
    uint16_t closed = refused_port();
    std::string refused = "http://127.0.0.1:" + std::to_string(closed) + "/x";
    std::string too_long = "/" + std::string(1023, 'p');
    server.serve(too_long, {200, "ok"});
    // Another scheme, or an object path too long to convert whole, fails before any request.
    const std::string urls[] = {"HTTP://127.0.0.1:" + std::to_string(server.port()) + "/x", "file:///etc/passwd",
                                server.url(too_long), refused};
    for (const std::string& url : urls) {
        EXPECT_EQ(get(url), 1) << url;
        EXPECT_FALSE(file_exists(tmp.at("out.bin"))) << url;
    }
    EXPECT_TRUE(server.requests().empty());
    ASSERT_EQ(fake.http_requests.size(), 1u);
    EXPECT_EQ(fake.http_requests[0].port, closed);

    write_file(tmp.at("out.bin"), "keep me");
    EXPECT_EQ(get(refused), 1);
    EXPECT_EQ(read_file(tmp.at("out.bin")), "keep me");
}

}  // namespace
