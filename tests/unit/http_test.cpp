// Downloads: which URLs are fetched from where, and what a response leaves on disk.
#include <gtest/gtest.h>

#include <string>

#include "build_config.h"
#include "http_server.h"
#include "services/http.h"
#include "support.h"

namespace {

// The parts with the object path copied out of the URL it points into.
struct Parsed {
    bool secure;
    std::string host;
    uint16_t port;
    std::string object;
};

Parsed parse(const std::string& url) {
    http_url parts{};
    EXPECT_TRUE(http_parse_url(url.c_str(), &parts)) << url;
    return {parts.secure, parts.host, parts.port, parts.object ? parts.object : ""};
}

TEST(HttpUrl, AnHttpsUrlWithNothingAfterTheHostAsksForSlashOn443) {
    Parsed u = parse("https://updates.example");
    EXPECT_TRUE(u.secure);
    EXPECT_EQ(u.host, "updates.example");
    EXPECT_EQ(u.port, 443);
    EXPECT_EQ(u.object, "/");
}

TEST(HttpUrl, PortAndPathWithQueryAreTakenAsWritten) {
    Parsed u = parse("http://example:8080/a/b?c=d");
    EXPECT_FALSE(u.secure);
    EXPECT_EQ(u.host, "example");
    EXPECT_EQ(u.port, 8080);
    EXPECT_EQ(u.object, "/a/b?c=d");
    EXPECT_EQ(parse("http://h//manifest.json").object, "//manifest.json");
}

TEST(HttpUrl, APortThatDoesNotReadAsOneOrMoreKeepsTheDefault) {
    EXPECT_EQ(parse("http://h:0/x").port, 80);
    EXPECT_EQ(parse("https://h:abc/x").port, 443);
    EXPECT_EQ(parse("http://h:-5/x").port, 80);
    EXPECT_EQ(parse("http://h:/x").port, 80);
    EXPECT_EQ(parse("http://h: 81x/").port, 81);
    EXPECT_EQ(parse("http://h:abc/x").host, "h");
}

TEST(HttpUrl, ALongHostIsCutTo255BytesBeforeThePortIsLookedFor) {
    Parsed u = parse("http://" + std::string(300, 'a') + ":8080/x");
    EXPECT_EQ(u.host, std::string(255, 'a'));
    EXPECT_EQ(u.port, 80);
    Parsed v = parse("http://" + std::string(250, 'b') + ":8080/x");
    EXPECT_EQ(v.host, std::string(250, 'b'));
    EXPECT_EQ(v.port, 8080);
}

TEST(HttpUrl, OnlyLowerCaseHttpAndHttpsAreAccepted) {
    http_url u;
    EXPECT_FALSE(http_parse_url("HTTPS://h/x", &u));
    EXPECT_FALSE(http_parse_url("Http://h/x", &u));
    EXPECT_FALSE(http_parse_url("ftp://h/x", &u));
    EXPECT_FALSE(http_parse_url("https:/h/x", &u));
    EXPECT_FALSE(http_parse_url("", &u));
}

class Download : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string dest = tmp.win("out.bin");
    int get(const std::string& url) { return http_get_to_file(url.c_str(), dest.c_str()); }
};

TEST_F(Download, AnyStatusIsADownloadAndTheBodyIsStored) {
    server.serve("/missing", {404, "<html>not found</html>"});
    EXPECT_EQ(get(server.url("/missing")), 0);
    EXPECT_EQ(read_file(tmp.at("out.bin")), "<html>not found</html>");
    server.serve("/boom", {500, "oops"});
    EXPECT_EQ(get(server.url("/boom")), 0);
    EXPECT_EQ(read_file(tmp.at("out.bin")), "oops");
}

TEST_F(Download, AnEmptyBodyGivesAnEmptyFile) {
    write_file(tmp.at("out.bin"), "old content");
    server.serve("/empty", {200, ""});
    EXPECT_EQ(get(server.url("/empty")), 0);
    EXPECT_TRUE(file_exists(tmp.at("out.bin")));
    EXPECT_EQ(read_file(tmp.at("out.bin")), "");
}

TEST_F(Download, ABodyLargerThanTheTransferBufferArrivesWhole) {
    std::string big(3 * kTransferSize + 123, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 300);
    server.serve("/big", {200, big});
    EXPECT_EQ(get(server.url("/big")), 0);
    EXPECT_EQ(read_file(tmp.at("out.bin")), big);
}

TEST_F(Download, ATransferThatBreaksOffKeepsWhatArrived) {
    server.serve("/cut", {200, std::string(50000, 'x'), "", 20000});
    EXPECT_EQ(get(server.url("/cut")), 0);
    EXPECT_EQ(read_file(tmp.at("out.bin")), std::string(20000, 'x'));
}

TEST_F(Download, RedirectsAreFollowedAsTheSystemDoes) {
    server.serve("/old", {302, "moved", server.url("/new")});
    server.serve("/new", {200, "the real thing"});
    EXPECT_EQ(get(server.url("/old")), 0);
    EXPECT_EQ(read_file(tmp.at("out.bin")), "the real thing");
}

TEST_F(Download, EveryRequestCarriesTheLaunchersUserAgentAndExactPath) {
    server.serve("/releases/manifest.json?x=1", {200, "{}"});
    EXPECT_EQ(get(server.url("/releases/manifest.json?x=1")), 0);
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/releases/manifest.json?x=1");
    EXPECT_EQ(seen[0].user_agent, "Pelko/1.0 (+https://" PELKO_UPDATE_HOST ")");
}

TEST_F(Download, NoResponseFailsAndCreatesNothing) {
    EXPECT_EQ(get("http://127.0.0.1:" + std::to_string(refused_port()) + "/x"), 1);
    EXPECT_FALSE(file_exists(tmp.at("out.bin")));
}

TEST_F(Download, AnotherSchemeFailsBeforeAnyRequest) {
    EXPECT_EQ(get("HTTP://127.0.0.1:" + std::to_string(server.port()) + "/x"), 1);
    EXPECT_EQ(get("file:///etc/passwd"), 1);
    EXPECT_FALSE(file_exists(tmp.at("out.bin")));
    EXPECT_TRUE(fake.http_requests.empty());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Download, ADestinationThatCannotBeCreatedFailsAfterTheRequest) {
    server.serve("/x", {200, "data"});
    dest = tmp.win("no-such-folder\\out.bin");
    EXPECT_EQ(get(server.url("/x")), 1);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(Download, AnExistingFileStaysWhenNoResponseCame) {
    write_file(tmp.at("out.bin"), "keep me");
    EXPECT_EQ(get("http://127.0.0.1:" + std::to_string(refused_port()) + "/x"), 1);
    EXPECT_EQ(read_file(tmp.at("out.bin")), "keep me");
}

TEST_F(Download, AnObjectPathTooLongToConvertWholeFailsBeforeAnyRequest) {
    std::string fits = "/" + std::string(1022, 'p');  // 1,023 units and the NUL
    server.serve(fits, {200, "ok"});
    EXPECT_EQ(get(server.url(fits)), 0);
    EXPECT_EQ(get(server.url(fits + "p")), 1);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(Download, TheSchemeDecidesSecurityAndDefaultPort) {
    get("https://updates.example");
    get("http://updates.example/a?b");
    ASSERT_EQ(fake.http_requests.size(), 2u);
    EXPECT_TRUE(fake.http_requests[0].secure);
    EXPECT_EQ(fake.http_requests[0].port, 443);
    EXPECT_EQ(fake.http_requests[0].object, "/");
    EXPECT_EQ(fake.http_requests[0].host, "updates.example");
    EXPECT_FALSE(fake.http_requests[1].secure);
    EXPECT_EQ(fake.http_requests[1].port, 80);
    EXPECT_EQ(fake.http_requests[1].object, "/a?b");
}

}  // namespace
