// Reading the update manifest: the lookup rules and what the update check
// makes of a manifest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/manifest.h"
#include "http_server.h"
#include "services/manifest_lookup.h"
#include "support.h"

namespace {

std::string lookup(const char* text, const char* key) {
    std::unique_ptr<char, decltype(&std::free)> value(json_get_string(text, key), &std::free);
    return value ? std::string(value.get()) : std::string("<null>");
}

TEST(JsonGetString, FindsTheQuotedKeyOnlyWhole) {
    EXPECT_EQ(lookup(R"({"version": "1.2.3"})", "version"), "1.2.3");
    EXPECT_EQ(lookup(R"({"version": "1.2.3"})", "versio"), "<null>");
    EXPECT_EQ(lookup(R"({"updater_url": "u1", "url": "u2"})", "url"), "u2");
    EXPECT_EQ(lookup(R"({"updater_url": "u1"})", "url"), "<null>");
}

TEST(JsonGetString, ANonStringValueYieldsTheNextStringInTheText) {
    EXPECT_EQ(lookup(R"({"size": 123, "sha256": "abc"})", "size"), "sha256");
    EXPECT_EQ(lookup(R"({"version": 2, "name": "x"})", "version"), "name");
}

TEST(JsonGetString, EscapesAreNotDecoded) {
    EXPECT_EQ(lookup(R"({"k": "x\"y"})", "k"), "x\\");
    EXPECT_EQ(lookup(R"({"k": "a\\nb"})", "k"), "a\\\\nb");
}

TEST(JsonGetString, AnEmptyStringIsAnEmptyTextNotNull) { EXPECT_EQ(lookup(R"({"k": ""})", "k"), ""); }

TEST(JsonGetString, AKeyWithoutColonOrQuotesAfterItYieldsNull) {
    EXPECT_EQ(lookup(R"(["k"])", "k"), "<null>");
    EXPECT_EQ(lookup(R"({"k": 5})", "k"), "<null>");
    EXPECT_EQ(lookup(R"({"k": "unterminated)", "k"), "<null>");
}

TEST(JsonGetString, SearchingFromAPositionIgnoresEverythingBefore) {
    const char* text = R"({"url": "first", "windows": {"url": "second"}})";
    EXPECT_EQ(lookup(text, "url"), "first");
    EXPECT_EQ(lookup(std::strstr(text, "\"windows\""), "url"), "second");
}

TEST(JsonGetString, AKeyTooLongForThePatternIsNeverFound) {
    std::string key(126, 'k');
    std::string text = "{\"" + key + "\": \"v\"}";
    EXPECT_EQ(lookup(text.c_str(), key.c_str()), "<null>");
    std::string fits(125, 'k');
    std::string text2 = "{\"" + fits + "\": \"v\"}";
    EXPECT_EQ(lookup(text2.c_str(), fits.c_str()), "v");
}

struct Read {
    manifest_outcome outcome;
    manifest_values values;
    std::string log;
    Read() : outcome(), values(), log() {}
    Read(const Read&) = delete;
    ~Read() { free_manifest_values(&values); }
};

manifest_outcome outcome_of(const std::string& text);

void read_into(Read& r, const std::string& text) {
    testing::internal::CaptureStdout();
    r.outcome = read_manifest(text.c_str(), &r.values);
    r.log = testing::internal::GetCapturedStdout();
}

manifest_outcome outcome_of(const std::string& text) {
    Read r;
    read_into(r, text);
    return r.outcome;
}

std::string s(const char* text) { return text ? text : "<null>"; }

constexpr char kFull[] = R"({
  "version": "1.4",
  "windows": {
    "url": "http://site/pelko-1.4.zip",
    "sha256": "aaaa",
    "updater_url": "http://site/Pelko-Setup.exe",
    "updater_sha256": "bbbb"
  }
})";

TEST(ReadManifest, AFullManifestGivesEveryValueAndLogsTheVersion) {
    Read r;
    read_into(r, kFull);
    EXPECT_EQ(r.outcome, manifest_outcome::values);
    EXPECT_EQ(r.log, "remote version: 1.4\n");
    EXPECT_EQ(s(r.values.remote_version), "1.4");
    EXPECT_EQ(s(r.values.bundle_url), "http://site/pelko-1.4.zip");
    EXPECT_EQ(s(r.values.bundle_sha256), "aaaa");
    EXPECT_EQ(s(r.values.launcher_url), "http://site/Pelko-Setup.exe");
    EXPECT_EQ(s(r.values.launcher_sha256), "bbbb");
}

TEST(ReadManifest, TheOrderOfKeysInsideTheWindowsEntryIsFree) {
    Read r;
    read_into(r, R"({"version": "2", "windows": {"updater_sha256": "b", "sha256": "a", "updater_url": "u", "url": "z"}})");
    EXPECT_EQ(r.outcome, manifest_outcome::values);
    EXPECT_EQ(s(r.values.bundle_url), "z");
    EXPECT_EQ(s(r.values.bundle_sha256), "a");
    EXPECT_EQ(s(r.values.launcher_url), "u");
    EXPECT_EQ(s(r.values.launcher_sha256), "b");
}

TEST(ReadManifest, LauncherKeysAreOptional) {
    Read r;
    read_into(r, R"({"version": "2", "windows": {"url": "z", "sha256": "a"}})");
    EXPECT_EQ(r.outcome, manifest_outcome::values);
    EXPECT_EQ(r.values.launcher_url, nullptr);
    EXPECT_EQ(r.values.launcher_sha256, nullptr);
}

TEST(ReadManifest, WithoutAVersionNothingElseIsRead) {
    Read r;
    read_into(r, R"({"windows": {"url": "z", "sha256": "a"}})");
    EXPECT_EQ(r.outcome, manifest_outcome::no_version);
    EXPECT_EQ(r.log, "  (no version in manifest)\n");
    EXPECT_EQ(outcome_of("<html>404 Not Found</html>"), manifest_outcome::no_version);
}

TEST(ReadManifest, AWindowsEntryWithOnlyLauncherKeysIsNoWindowsBuild) {
    Read r;
    read_into(r, R"({"version": "2", "windows": {"updater_url": "u", "updater_sha256": "b"}})");
    EXPECT_EQ(r.outcome, manifest_outcome::no_windows_build);
    EXPECT_EQ(r.log, "remote version: 2\n  (no windows build in manifest)\n");
    EXPECT_EQ(r.values.launcher_url, nullptr);
}

TEST(ReadManifest, NoWindowsEntryOrAKeyMissingIsNoWindowsBuild) {
    EXPECT_EQ(outcome_of(R"({"version": "2", "linux": {"url": "z", "sha256": "a"}})"),
              manifest_outcome::no_windows_build);
    EXPECT_EQ(outcome_of(R"({"version": "2", "windows": {"url": "z"}})"), manifest_outcome::no_windows_build);
    EXPECT_EQ(outcome_of(R"({"version": "2", "windows": {"sha256": "a"}})"), manifest_outcome::no_windows_build);
    // Keys before the entry do not count for it.
    EXPECT_EQ(outcome_of(R"({"url": "z", "sha256": "a", "version": "2", "windows": {}})"),
              manifest_outcome::no_windows_build);
}

TEST(ReadManifest, TheFirstVersionAnywhereWins) {
    Read r;
    read_into(r, R"({"windows": {"version": "inner", "url": "z", "sha256": "a"}, "version": "outer"})");
    EXPECT_EQ(s(r.values.remote_version), "inner");
}

TEST(ReadManifest, ANumericVersionTakesTheNextString) {
    Read r;
    read_into(r, R"({"version": 3, "windows": {"url": "z", "sha256": "a"}})");
    EXPECT_EQ(s(r.values.remote_version), "windows");
}

TEST(ReadManifest, AMissingKeyIsTakenFromWhateverFollowsTheEntry) {
    Read r;
    read_into(r, R"({"version": "2", "windows": {"url": "z"}, "linux": {"sha256": "from-linux"}})");
    EXPECT_EQ(r.outcome, manifest_outcome::values);
    EXPECT_EQ(s(r.values.bundle_sha256), "from-linux");
}

class FetchManifest : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string log;
    void SetUp() override { fake.temp_dir = tmp.path() + "/"; }
    std::unique_ptr<char, decltype(&std::free)> fetch(const std::string& base) {
        testing::internal::CaptureStdout();
        char* text = fetch_manifest(base.c_str());
        log = testing::internal::GetCapturedStdout();
        return {text, &std::free};
    }
};

TEST_F(FetchManifest, DownloadsIntoATempFileNamedByTheProcessIdAndReadsItWhole) {
    server.serve("/releases/manifest.json", {200, kFull});
    auto text = fetch(server.url("/releases"));
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), kFull);
    EXPECT_EQ(log, "checking " + server.url("/releases/manifest.json") + " ...\n");
    EXPECT_EQ(read_file(tmp.at("pelko_manifest.4242.json")), kFull);
}

TEST_F(FetchManifest, ABaseWithATrailingSlashAsksForTwoSlashes) {
    server.serve("/releases//manifest.json", {200, "{}"});
    auto text = fetch(server.url("/releases/"));
    EXPECT_TRUE(text);
    EXPECT_EQ(log, "checking " + server.url("/releases//manifest.json") + " ...\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/releases//manifest.json");
}

TEST_F(FetchManifest, AnUnreachableSiteIsLoggedAndGivesNothing) {
    auto text = fetch("http://127.0.0.1:" + std::to_string(refused_port()) + "/releases");
    EXPECT_FALSE(text);
    EXPECT_NE(log.find("  (manifest unreachable \xE2\x80\x94 launching installed/bundled app without update)\n"),
              std::string::npos);
}

TEST_F(FetchManifest, AnErrorPageIsReadAsTheManifest) {
    auto text = fetch(server.url("/nothing-here"));
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), "not here");
}

TEST_F(FetchManifest, AnUnreadableCopyGivesNothingWithoutALine) {
    server.serve("/r/manifest.json", {200, "{}"});
    fake.fail_fopen = [](const std::string& path, const std::string& mode) {
        return mode == "rb" && path.find("pelko_manifest") != std::string::npos;
    };
    auto text = fetch(server.url("/r"));
    EXPECT_FALSE(text);
    EXPECT_EQ(log, "checking " + server.url("/r/manifest.json") + " ...\n");
}

}  // namespace
