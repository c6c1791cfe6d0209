// The update path: downloads, the manifest, the bundle with the player's
// files, and the launcher's own replacement.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "build_config.h"
#include "core/manifest.h"
#include "core/self_update.h"
#include "services/http.h"
#include "services/manifest_lookup.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

std::string s(const char* text) { return text ? text : "<null>"; }

TEST(HttpUrl, SchemeHostPortAndObjectAreTakenAsWritten) {
    const struct {
        std::string url, parsed;  // secure|host|port|object, or "" when refused
    } cases[] = {
        // clang-format off
        {"https://updates.example", "1|updates.example|443|/"},
        {"http://example:8080/a/b?c=d", "0|example|8080|/a/b?c=d"},
        {"http://h//manifest.json", "0|h|80|//manifest.json"},
        // A port that does not read as 1 or more (atoi) keeps the default.
        {"http://h:0/x", "0|h|80|/x"}, {"https://h:abc/x", "1|h|443|/x"}, {"http://h: 81x/", "0|h|81|/"},
        // The host is cut to 255 bytes before the port is looked for.
        {"http://" + std::string(300, 'a') + ":8080/x", "0|" + std::string(255, 'a') + "|80|/x"},
        {"http://" + std::string(250, 'b') + ":8080/x", "0|" + std::string(250, 'b') + "|8080|/x"},
        {"HTTPS://h/x", ""}, {"ftp://h/x", ""}, {"https:/h/x", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        http_url u{};
        std::string parsed = http_parse_url(c.url.c_str(), &u) ? std::to_string(u.secure) + "|" + u.host + "|" +
                                                                     std::to_string(u.port) + "|" + u.object
                                                               : "";
        EXPECT_EQ(parsed, c.parsed) << c.url;
    }
}

// Any status is a download: the body replaces what was there, whole, and an
// endless one stops at 2^31 - 1 bytes as if cut short. Without a response, or
// with an object path too long to convert, nothing is written.
TEST(Download, TheBodyIsStoredWholeAndNothingWithoutAResponse) {
    TempDir tmp;
    FakePlatform fake;
    const std::string dest = tmp.win("out.bin"), site = "http://127.0.0.1:8080";
    std::string big(3 * kTransferSize + 123, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 300);
    const std::string fits = "/" + std::string(1022, 'p'), too_long = "/" + std::string(1023, 'p');
    for (const std::string& body : {big, std::string()}) {
        write_file(tmp.at("out.bin"), "old content");
        fake.site[site + fits] = body;
        EXPECT_EQ(http_get_to_file((site + fits).c_str(), dest.c_str()), 0);
        EXPECT_TRUE(read_file(tmp.at("out.bin")) == body);
    }
    EXPECT_EQ(fake.user_agent, "Pelko/1.0 (+https://" PELKO_UPDATE_HOST ")");
    fake.site[site + too_long] = "ok";
    const size_t asked = fake.requests.size();
    for (const std::string& url : {site + too_long, site + "/missing", std::string("file:///etc/passwd")})
        EXPECT_EQ(http_get_to_file(url.c_str(), dest.c_str()), 1) << url;
    EXPECT_EQ(fake.requests.size(), asked + 1) << "only the missing path reaches the site";
    EXPECT_EQ(read_file(tmp.at("out.bin")), "");
    EXPECT_EQ(http_get_to_file((site + fits).c_str(), tmp.win("no-such-folder\\out.bin").c_str()), 1);
    fake.endless_bodies = true;
    EXPECT_EQ(http_get_to_file((site + fits).c_str(), "/dev/null"), 0);
    EXPECT_EQ(fake.delivered, 0x7FFFFFFFu);
}

// A key matches with its quotes; its value is the first string after the
// colon, taken byte for byte.
TEST(JsonGetString, TheQuotedKeyThenTheFirstStringAfterItsColon) {
    const std::string fits(125, 'k'), too_long(126, 'k');
    const struct {
        std::string text, key, value;
    } cases[] = {
        // clang-format off
        {R"({"size": 123, "sha256": "abc"})", "size", "sha256"}, {R"({"k": "x\"y"})", "k", "x\\"},
        {R"(["k"])", "k", "<null>"}, {R"({"k": 5})", "k", "<null>"}, {R"({"k": "open)", "k", "<null>"},
        {"{\"" + fits + "\": \"v\"}", fits, "v"}, {"{\"" + too_long + "\": \"v\"}", too_long, "<null>"},
        // clang-format on
    };
    for (const auto& c : cases) {
        std::unique_ptr<char, decltype(&std::free)> value(json_get_string(c.text.c_str(), c.key.c_str()), &std::free);
        EXPECT_EQ(s(value.get()), c.value) << c.text;
    }
}

// Each manifest with its outcome, its log and the values version, bundle URL
// and digest, launcher URL and digest.
TEST(ReadManifest, OutcomeLogAndValues) {
    const auto values = manifest_outcome::values, no_build = manifest_outcome::no_windows_build;
    const std::string v2 = "remote version: 2\n", no_build_log = v2 + "  (no windows build in manifest)\n";
    const struct {
        const char* text;
        manifest_outcome outcome;
        std::string log, values;
    } cases[] = {
        {R"({"version": "2", "windows": {"updater_sha256": "b", "sha256": "a", "updater_url": "u", "url": "z"}})",
         values, v2, "2 z a u b"},
        {R"({"version": "2", "windows": {"url": "z", "sha256": "a"}})", values, v2, "2 z a <null> <null>"},
        {R"({"windows": {"url": "z", "sha256": "a"}})", manifest_outcome::no_version, "  (no version in manifest)\n",
         "<null> <null> <null> <null> <null>"},
        // Without both bundle keys, after the entry, the launcher's are not read either.
        {R"({"version": "2", "windows": {"url": "z", "updater_url": "u", "updater_sha256": "b"}})", no_build,
         no_build_log, "<null> <null> <null> <null> <null>"},
        {R"({"version": "2", "windows": {"sha256": "a"}})", no_build, no_build_log,
         "<null> <null> <null> <null> <null>"},
        {R"({"url": "z", "sha256": "a", "version": "2", "linux": {}})", no_build, no_build_log,
         "<null> <null> <null> <null> <null>"},
        {R"({"version": "2", "windows": {"url": "z"}, "linux": {"sha256": "l"}})", values, v2, "2 z l <null> <null>"},
        // The first version anywhere wins.
        {R"({"windows": {"version": "in", "url": "z", "sha256": "a"}, "version": "out"})", values,
         "remote version: in\n", "in z a <null> <null>"},
    };
    for (const auto& c : cases) {
        manifest_values read;
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_manifest(c.text, &read), c.outcome) << c.text;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log) << c.text;
        EXPECT_EQ(s(read.remote_version) + " " + s(read.bundle_url) + " " + s(read.bundle_sha256) + " " +
                      s(read.launcher_url) + " " + s(read.launcher_sha256),
                  c.values)
            << c.text;
        free_manifest_values(&read);
    }
}

// --- The bundle, through whole runs

class Update : public LauncherTest {};

TEST_F(Update, AFirstRunInstallsTheReleaseThenFindsItUpToDate) {
    publish("1.0");
    EXPECT_EQ(run({"pelko://join/ab12"}), 0);
    const std::string game = game_dir("1.0");
    // clang-format off
    EXPECT_EQ(log, "one-tap: joining room AB12 (source: a clicked pelko:// invite link)\n"
                   "checking " + std::string(kSite) + "/manifest.json ...\n"
                   "remote version: 1.0\n"
                   "downloading " + kSite + "/pelko-1.0.zip ...\n"
                   "  sha256 OK.\n"
                   "installing 1.0 ...\n"
                   "  installed 1.0.\n"
                   "launch: \"" + game + "\\Pelko.exe\" \"" + game + "\\patched.nds\" \"" + game +
                   "\" 0 " PELKO_GAME_SERVER " 6100 --room=AB12\n");
    // clang-format on
    EXPECT_EQ(err, "[rom] joining room AB12 with no local ROM -> the app will fetch it from the host\n");
    EXPECT_FALSE(file_exists(home + "/app.1.0/kestrel-core/patched.nds"));
    EXPECT_EQ(read_file(home + "/current.txt"), game);
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/Pelko.exe"), "game");
    EXPECT_EQ(read_file(tmp.at("temp/pelko_manifest.4242.json")), fake.site[std::string(kSite) + "/manifest.json"]);
    EXPECT_TRUE(file_exists(tmp.at("temp/pelko_bundle.4242.zip")));
    EXPECT_EQ(fake.splash_lines, (std::vector<std::string>{"CHECKING FOR UPDATES", "DOWNLOADING THE GAME", "INSTALLING",
                                                           "JOINING     THE HOST WILL SEND YOU", "STARTING THE GAME",
                                                           "READY - STARTING THE GAME"}));
    fake.requests.clear();
    EXPECT_EQ(run({"pelko://join/ab12"}), 0);
    EXPECT_TRUE(logged("remote version: 1.0\n  app up to date.\nlaunch: "));
    EXPECT_EQ(fake.requests, std::vector<std::string>{std::string(kSite) + "/manifest.json"});

    // A bundle without kestrel-core\Pelko.exe runs from its version directory.
    publish("2.0", {{"Pelko.exe", "flat game"}});
    EXPECT_EQ(run({"pelko://join/ab12"}), 0);
    EXPECT_EQ(read_file(home + "/current.txt"), tmp.win("home/app.2.0"));
    EXPECT_EQ(read_file(home + "/app.2.0/version.txt"), "2.0\n");
}

// Each failure says why, changes no record and starts the installed version.
TEST_F(Update, AFailedDownloadAWrongDigestOrABrokenArchiveKeepsTheInstalledVersion) {
    install("1.0");
    publish("1.1");
    const std::string bundle = std::string(kSite) + "/pelko-1.1.zip", digest = digest_of(tmp.at("pelko-1.1.zip"));
    const std::string upper = upper_case(digest);
    write_file(tmp.at("junk"), "not a zip");
    const struct {
        std::string body, digest, log;
    } cases[] = {
        {"", digest, "  (download failed)\n"},
        {fake.site[bundle], upper,
         "  SHA256 MISMATCH (expected " + upper + ", got " + digest + ") \xE2\x80\x94 refusing to update\n"},
        {"not a zip", digest_of(tmp.at("junk")), "installing 1.1 ...\n  (extract failed)\n"},
    };
    for (const auto& c : cases) {
        fake.site[bundle] = c.body;
        if (c.body.empty()) fake.site.erase(bundle);
        fake.site[std::string(kSite) + "/manifest.json"] =
            R"({"version": "1.1", "windows": {"url": ")" + bundle + R"(", "sha256": ")" + c.digest + "\"}}";
        fake.splash_lines.clear();
        EXPECT_EQ(run(), 0);
        EXPECT_TRUE(logged("downloading " + bundle + " ...\n")) << log;
        EXPECT_TRUE(logged(c.log)) << log;
        EXPECT_EQ(fake.splash_lines[1], "DOWNLOADING THE UPDATE");
        EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
        EXPECT_EQ(read_file(home + "/current.txt"), game_dir("1.0"));
        EXPECT_EQ(fake.started.back().command_line.substr(0, game_dir("1.0").size() + 1), "\"" + game_dir("1.0"));
    }
}

// Every user file comes from the current version, or else from the newest
// older one that has it (never the old or new directory itself); one that
// existed but cannot be carried is lost aloud, one found nowhere silently.
TEST_F(Update, ThePlayersFilesFollowTheNewVersion) {
    install("3", {{"keymap.txt", "keys from 3"}, {"player_name.txt", "ana"}});
    install("2", {{"keymap.txt", "keys from 2"}, {"savestate.vela", "old save"}});
    install("4", {{"patched.nds", "rom"}, {"keymap.txt", "locked"}, {"ui_lang.txt", "fr"}, {"savestate.vela", "save"}});
    fake.fail = [](const std::string& op, const std::string& from) {
        return op == "copy" && ((from.find("app.4") != from.npos && from.find("keymap") != from.npos) ||
                                from.find("savestate.vela") != from.npos);
    };
    publish("5",
            {{"kestrel-core/Pelko.exe", "new"}, {"kestrel-core/keymap.txt", "b"}, {"kestrel-core/ui_lang.txt", "b"}});
    EXPECT_EQ(run({"pelko://join/abcd"}), 0);
    const std::string old = game_dir("4");
    // clang-format off
    EXPECT_TRUE(logged("installing 5 ...\n"
                       "  (kept patched.nds)\n"
                       "  (kept player_name.txt, recovered from an older version)\n"
                       "  !! could not carry keymap.txt forward from " + old + " -- looking in older versions\n"
                       "  (kept keymap.txt, recovered from an older version)\n"
                       "  (kept ui_lang.txt)\n"
                       "  !! could not carry savestate.vela forward from " + old + " -- looking in older versions\n"
                       "  !! savestate.vela IS LOST. If this was patched.nds you will be asked for your game file "
                       "again.\n"
                       "  installed 5.\n")) << log;
    EXPECT_EQ(files_below(home + "/app.5/kestrel-core"),
              (std::map<std::string, std::string>{{"Pelko.exe", "new"}, {"keymap.txt", "keys from 3"},
                                                  {"patched.nds", "rom"}, {"player_name.txt", "ana"},
                                                  {"ui_lang.txt", "fr"}, {"version.txt", "5\n"}}));
    // clang-format on
    EXPECT_EQ(read_file(home + "/app.4/kestrel-core/patched.nds"), "rom");
}

// A version that differs from the installed one even by a trailing space is
// installed again, into an emptied directory: its own user files go to a
// backup of their own (three are kept) and come from older versions.
TEST_F(Update, ReinstallingTheCurrentVersionEmptiesItBeforeTheCarry) {
    install("1", {{"patched.nds", "rom from 1"}});
    make_dirs(home + "/backup/app.2.7");
    for (int n = 1; n <= 4; ++n) {
        const std::string keys = "keys " + std::to_string(n);
        install("2", {{"patched.nds", "rom from 2"}, {"keymap.txt", keys}, {"stale.dat", "leftover"}});
        write_file(home + "/version.txt", "2 \n");
        write_file(home + "/app.2/kestrel-core/version.txt", "2 \n");
        publish("2");
        EXPECT_EQ(run({"pelko://join/abcd"}), 0);
        EXPECT_TRUE(logged("  (kept patched.nds, recovered from an older version)\n  installed 2.\n")) << log;
        EXPECT_FALSE(file_exists(home + "/app.2/kestrel-core/stale.dat"));
        EXPECT_EQ(read_file(home + "/app.2/kestrel-core/patched.nds"), "rom from 1");
        EXPECT_EQ(files_below(home + "/backup/app.2." + std::to_string(n + 7)),
                  (std::map<std::string, std::string>{{"keymap.txt", keys}, {"patched.nds", "rom from 2"}}));
    }
    for (int n = 7; n <= 11; ++n) EXPECT_EQ(file_exists(home + "/backup/app.2." + std::to_string(n)), n >= 9);
}

// --- The launcher's own replacement

TEST(SelfUpdate, EachOutcomeLeavesItsFilesLogAndHandOver) {
    TempDir tmp;
    const std::string build1 = "MZ build 1", build2 = "MZ build 2", url = "http://127.0.0.1:8080/L.exe";
    write_file(tmp.at("build1.exe"), build1);
    write_file(tmp.at("build2.exe"), build2);
    const std::string own = digest_of(tmp.at("build1.exe")), fresh = digest_of(tmp.at("build2.exe"));
    const std::string upper = upper_case(own);
    const std::string fetching = "self-update: a newer updater is available -> fetching\n";
    using Files = std::map<std::string, std::string>;
    const Files kept = {{"Pelko-Setup.exe", build1}},
                untouched = {{"Pelko-Setup.exe", build1}, {"Pelko-Setup.old.exe", "build 0"}},
                swapped = {{"Pelko-Setup.exe", build2}, {"Pelko-Setup.old.exe", build1}};
    const struct {
        std::function<void(FakePlatform&)> arrange;
        std::string digest, room;
        int result;
        std::string log;
        Files after;       // the home's files
        const char* args;  // the new build's command line after its quoted path; nullptr: none started
    } cases[] = {
        // A current digest, or an own file that cannot be read, removes the old build and fetches nothing.
        {nullptr, own, "", kRunGoesOn, "", kept, nullptr},
        {[](FakePlatform& f) { f.module_path += ".gone"; }, fresh, "", kRunGoesOn, "", kept, nullptr},
        // An upper-case digest is never current, and the download does not match it either.
        {nullptr, upper, "", kRunGoesOn, fetching + "self-update: sha mismatch -> keeping the current updater\n",
         untouched, nullptr},
        {[](FakePlatform& f) { f.site.clear(); }, fresh, "", kRunGoesOn, fetching, untouched, nullptr},
        // A failed swap, or a new build that cannot start, puts the installed launcher back.
        {[](FakePlatform& f) { f.fail = [](auto& op, auto& p) { return op == "move" && p.find(".new") != p.npos; }; },
         fresh, "", kRunGoesOn, fetching, kept, nullptr},
        {[](FakePlatform& f) { f.start_succeeds = false; }, fresh, "", kRunGoesOn, fetching, kept, ""},
        // The new build runs the rest, given the invite alone, and its outcome is the run's.
        {nullptr, fresh, "AB12", 0, fetching + "self-update: swapped in the new updater; it finished the update.\n",
         swapped, " --url \"pelko://join/AB12\""},
        {[](FakePlatform& f) { f.exit_code = 3; }, fresh, "", 3,
         fetching + "!! self-update: the new updater exited with 3 -- the app may not have been updated.\n", swapped,
         ""},
        {[](FakePlatform& f) { f.wait_succeeds = false; }, fresh, "", 1,
         fetching + "!! self-update: the new updater did not finish in time -- the app may not have been updated.\n",
         swapped, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        // A fresh home: this process is its installed launcher, build 1, with build 0 still beside it.
        const std::string home = "case" + std::to_string(++n), whome = tmp.win(home);
        SCOPED_TRACE(home);
        write_file(tmp.at(home + "/Pelko-Setup.exe"), build1);
        write_file(tmp.at(home + "/Pelko-Setup.old.exe"), "build 0");
        FakePlatform fake;
        fake.module_path = whome + "\\Pelko-Setup.exe";
        fake.site[url] = build2;
        if (c.arrange) c.arrange(fake);
        show_splash();
        testing::internal::CaptureStdout();
        EXPECT_EQ(self_update(whome.c_str(), c.room.c_str(), url.c_str(), c.digest.c_str()), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
        g_splash.active.store(0);
        EXPECT_EQ(files_below(tmp.at(home)), c.after);
        EXPECT_STREQ(g_splash.line, c.log.empty() ? "" : "UPDATING THE INSTALLER");
        EXPECT_EQ(fake.requests.size(), c.log.empty() ? 0u : 1u);
        EXPECT_EQ(fake.sleeps, c.result == kRunGoesOn ? std::vector<uint32_t>{} : std::vector<uint32_t>{900000});
        ASSERT_EQ(fake.started.size(), c.args ? 1u : 0u);
        if (!c.args) continue;
        EXPECT_EQ(fake.started[0].command_line, "\"" + whome + "\\Pelko-Setup.exe\"" + c.args);
        const plat_start_options& options = fake.started[0].options;  // no handles, a window, no output file
        EXPECT_TRUE(!options.inherit_handles && !options.no_window && options.output == nullptr);
    }
}

}  // namespace
