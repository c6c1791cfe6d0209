// Reading the update manifest: the lookup rules and what the update check
// makes of a manifest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/manifest.h"
#include "http_server.h"
#include "services/manifest_lookup.h"
#include "support.h"

namespace {

std::string s(const char* text) { return text ? text : "<null>"; }

TEST(JsonGetString, TheQuotedKeyWholeThenTheFirstStringAfterItsColon) {
    const std::string too_long(126, 'k'), fits(125, 'k');
    struct Case {
        std::string text, key, value;
    };
    const Case cases[] = {
        {R"({"version": "1.2.3"})", "version", "1.2.3"},
        {R"({"version": "1.2.3"})", "versio", "<null>"},
        {R"({"updater_url": "u1", "url": "u2"})", "url", "u2"},
        {R"({"updater_url": "u1"})", "url", "<null>"},
        {R"({"url": "first", "windows": {"url": "second"}})", "url", "first"},
        // A value that is not a string yields the next string in the text.
        {R"({"size": 123, "sha256": "abc"})", "size", "sha256"},
        {R"({"version": 2, "name": "x"})", "version", "name"},
        // Escapes are not decoded.
        {R"({"k": "x\"y"})", "k", "x\\"},
        {R"({"k": "a\\nb"})", "k", "a\\\\nb"},
        {R"({"k": ""})", "k", ""},
        // No colon, no string after it, or no closing quote.
        {R"(["k"])", "k", "<null>"},
        {R"({"k": 5})", "k", "<null>"},
        {R"({"k": "unterminated)", "k", "<null>"},
        // A key too long for the pattern is never looked up cut short.
        {"{\"" + too_long + "\": \"v\"}", too_long, "<null>"},
        {"{\"" + fits + "\": \"v\"}", fits, "v"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<char, decltype(&std::free)> value(json_get_string(c.text.c_str(), c.key.c_str()), &std::free);
        EXPECT_EQ(s(value.get()), c.value) << c.text << " [" << c.key << "]";
    }
}

constexpr char kFull[] = R"({"version": "1.4",
  "windows": {"url": "http://site/pelko-1.4.zip", "sha256": "aaaa",
              "updater_url": "http://site/Pelko-Setup.exe", "updater_sha256": "bbbb"}})";

// Each manifest with its outcome, its log and the five values (version,
// bundle URL and digest, launcher URL and digest).
TEST(ReadManifest, OutcomeLogAndValues) {
    constexpr auto values = manifest_outcome::values;
    constexpr auto no_build = manifest_outcome::no_windows_build;
    constexpr char kNoBuild[] = "remote version: 2\n  (no windows build in manifest)\n";
    struct Case {
        const char* text;
        manifest_outcome outcome;
        const char* log;
        const char* values[5];
    };
    const Case cases[] = {
        {kFull, values, "remote version: 1.4\n",
         {"1.4", "http://site/pelko-1.4.zip", "aaaa", "http://site/Pelko-Setup.exe", "bbbb"}},
        // The keys inside the entry come in any order; the launcher's are optional.
        {R"({"version": "2", "windows": {"updater_sha256": "b", "sha256": "a", "updater_url": "u", "url": "z"}})",
         values, "remote version: 2\n", {"2", "z", "a", "u", "b"}},
        {R"({"version": "2", "windows": {"url": "z", "sha256": "a"}})", values, "remote version: 2\n",
         {"2", "z", "a", nullptr, nullptr}},
        // Without a version nothing else is read.
        {R"({"windows": {"url": "z", "sha256": "a"}})", manifest_outcome::no_version,
         "  (no version in manifest)\n", {}},
        {"<html>404 Not Found</html>", manifest_outcome::no_version, "  (no version in manifest)\n", {}},
        // Without both bundle keys the launcher's are not read either.
        {R"({"version": "2", "windows": {"updater_url": "u", "updater_sha256": "b"}})", no_build, kNoBuild, {}},
        {R"({"version": "2", "linux": {"url": "z", "sha256": "a"}})", no_build, kNoBuild, {}},
        {R"({"version": "2", "windows": {"url": "z"}})", no_build, kNoBuild, {}},
        {R"({"version": "2", "windows": {"sha256": "a"}})", no_build, kNoBuild, {}},
        // Keys before the entry do not count for it; whatever follows it does.
        {R"({"url": "z", "sha256": "a", "version": "2", "windows": {}})", no_build, kNoBuild, {}},
        {R"({"version": "2", "windows": {"url": "z"}, "linux": {"sha256": "from-linux"}})", values,
         "remote version: 2\n", {"2", "z", "from-linux", nullptr, nullptr}},
        // The first version anywhere wins, and a number is not one.
        {R"({"windows": {"version": "inner", "url": "z", "sha256": "a"}, "version": "outer"})", values,
         "remote version: inner\n", {"inner", "z", "a", nullptr, nullptr}},
        {R"({"version": 3, "windows": {"url": "z", "sha256": "a"}})", values, "remote version: windows\n",
         {"windows", "z", "a", nullptr, nullptr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        manifest_values read;
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_manifest(c.text, &read), c.outcome);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
        const char* got[] = {read.remote_version, read.bundle_url, read.bundle_sha256, read.launcher_url,
                             read.launcher_sha256};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(s(got[i]), s(c.values[i])) << "value " << i;
        free_manifest_values(&read);
    }
}

class FetchManifest : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string log;
    void SetUp() override { fake.temp_dir = tmp.path() + "/"; }
    std::string fetch(const std::string& base) {
        testing::internal::CaptureStdout();
        std::unique_ptr<char, decltype(&std::free)> text(fetch_manifest(base.c_str()), &std::free);
        log = testing::internal::GetCapturedStdout();
        return s(text.get());
    }
};

// The base is taken as given, so a trailing slash asks for two.
TEST_F(FetchManifest, DownloadsIntoATempFileNamedByTheProcessIdAndReadsItWhole) {
    server.serve("/releases//manifest.json", {200, kFull});
    EXPECT_EQ(fetch(server.url("/releases/")), kFull);
    EXPECT_EQ(log, "checking " + server.url("/releases//manifest.json") + " ...\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/releases//manifest.json");
    EXPECT_EQ(read_file(tmp.at("pelko_manifest.4242.json")), kFull);

    EXPECT_EQ(fetch(server.url("/nothing-here")), "not here");  // an error page is read as the manifest
}

TEST_F(FetchManifest, AnUnreachableSiteOrAnUnreadableCopyGivesNothingAndOnlyTheFirstIsLogged) {
    std::string base = "http://127.0.0.1:" + std::to_string(refused_port()) + "/releases";
    EXPECT_EQ(fetch(base), "<null>");
    EXPECT_EQ(log, "checking " + base + "/manifest.json ...\n"
                   "  (manifest unreachable \xE2\x80\x94 launching installed/bundled app without update)\n");

    server.serve("/r/manifest.json", {200, "{}"});
    fake.fail_fopen = [](const std::string& path, const std::string& mode) {
        return mode == "rb" && path.find("pelko_manifest") != std::string::npos;
    };
    EXPECT_EQ(fetch(server.url("/r")), "<null>");
    EXPECT_EQ(log, "checking " + server.url("/r/manifest.json") + " ...\n");
}

}  // namespace
