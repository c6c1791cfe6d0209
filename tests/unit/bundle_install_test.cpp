// Installing a bundle from the update site and carrying the player's files.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "codecs/sha256.h"
#include "core/bundle_install.h"
#include "http_server.h"
#include "peer_tools.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

// Little-endian fields, each a value and its width in bytes.
void put(std::string& s, std::initializer_list<std::pair<uint64_t, int>> fields) {
    for (auto [value, width] : fields)
        for (int i = 0; i < width; ++i) s += static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0);
}

// A stored (uncompressed) ZIP archive of the given files.
std::string stored_zip(const std::map<std::string, std::string>& files) {
    std::string body, central;
    for (const auto& [name, data] : files) {
        uint32_t crc = zlib_crc32(data);
        put(central, {{0x02014b50, 4}, {20, 2}, {10, 2}, {0, 8}, {crc, 4}, {data.size(), 4}, {data.size(), 4},
                      {name.size(), 2}, {0, 12}, {body.size(), 4}});
        central += name;
        put(body, {{0x04034b50, 4}, {10, 2}, {0, 8}, {crc, 4}, {data.size(), 4}, {data.size(), 4}, {name.size(), 2},
                   {0, 2}});
        body += name + data;
    }
    std::string end;
    put(end, {{0x06054b50, 4}, {0, 4}, {files.size(), 2}, {files.size(), 2}, {central.size(), 4}, {body.size(), 4},
              {0, 2}});
    return body + central + end;
}

void set(char*& field, const std::string& value) {
    std::free(field);
    field = strdup(value.c_str());
}

class InstallBundle : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string home = tmp.at("home");
    run_context ctx{};
    std::string url, digest;

    void SetUp() override {
        make_dirs(home);
        make_dirs(tmp.at("temp"));
        fake.temp_dir = tmp.at("temp") + "/";
        std::snprintf(ctx.home, sizeof ctx.home, "%s", tmp.win("home").c_str());
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
    }
    void TearDown() override {
        g_splash.active.store(0);
        free_manifest_values(&ctx.manifest);
    }

    // Serves content as the bundle of version and fills the manifest values for it.
    void publish(const std::string& version, const std::string& content) {
        write_file(tmp.at("published.zip"), content);
        char hex[kDigestTextSize];
        ASSERT_EQ(sha256_file_hex(tmp.at("published.zip").c_str(), hex), 0);
        digest = hex;
        url = server.url("/pelko-" + version + ".zip");
        server.serve("/pelko-" + version + ".zip", {200, content});
        set(ctx.manifest.remote_version, version);
        set(ctx.manifest.bundle_url, url);
        set(ctx.manifest.bundle_sha256, digest);
    }
    void installed(const std::string& version) {
        std::snprintf(ctx.installed_version, sizeof ctx.installed_version, "%s", version.c_str());
    }
    // A version directory with a game and the given user files, named current when asked.
    std::string old_version(const std::string& version, bool current,
                            const std::map<std::string, std::string>& files = {}) {
        std::string game = home + "/app." + version + "/kestrel-core";
        write_file(game + "/Pelko.exe", "old game");
        write_file(game + "/version.txt", version + "\n");
        for (const auto& [name, content] : files) write_file(game + "/" + name, content);
        if (current) {
            write_file(home + "/current.txt", tmp.win("home/app." + version + "/kestrel-core"));
            write_file(home + "/version.txt", version + "\n");
            installed(version);
        }
        return game;
    }
    // The log of one installation.
    std::string install() {
        testing::internal::CaptureStdout();
        install_bundle(&ctx);
        return testing::internal::GetCapturedStdout();
    }
    std::string installing(const std::string& version) const {
        return "downloading " + url + " ...\n  sha256 OK.\ninstalling " + version + " ...\n";
    }
};

const std::string kGameBundle =
    stored_zip({{"kestrel-core/Pelko.exe", "new game"}, {"kestrel-core/data.bin", "data"}});

TEST_F(InstallBundle, AFirstInstallWritesTheRecordsThenTheVersionIsUpToDateUntilAFlatBundleComes) {
    publish("1.0", kGameBundle);
    EXPECT_EQ(install(), installing("1.0") + "  installed 1.0.\n");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/Pelko.exe"), "new game");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/data.bin"), "data");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/current.txt"), tmp.win("home\\app.1.0\\kestrel-core"));
    EXPECT_STREQ(ctx.installed_version, "1.0");
    EXPECT_TRUE(file_exists(tmp.at("temp/pelko_bundle.4242.zip")));

    EXPECT_EQ(install(), "  app up to date.\n");
    EXPECT_EQ(server.requests().size(), 1u);

    // A bundle without kestrel-core runs from its version directory.
    publish("2.0", stored_zip({{"Pelko.exe", "flat game"}}));
    EXPECT_EQ(install(), installing("2.0") + "  installed 2.0.\n");
    EXPECT_EQ(read_file(home + "/current.txt"), tmp.win("home\\app.2.0"));
    EXPECT_EQ(read_file(home + "/app.2.0/version.txt"), "2.0\n");
}

// Each failure says why and leaves the records and the installed version; the
// status names the game until one is installed.
TEST_F(InstallBundle, AFailedDownloadAMismatchedDigestOrABrokenArchiveChangesNothing) {
    publish("1.1", kGameBundle);
    std::string refused = "http://127.0.0.1:" + std::to_string(refused_port()) + "/x.zip";
    set(ctx.manifest.bundle_url, refused);
    EXPECT_EQ(install(), "downloading " + refused + " ...\n  (download failed)\n");
    EXPECT_STREQ(g_splash.line, "DOWNLOADING THE GAME");
    EXPECT_FALSE(file_exists(home + "/version.txt"));
    EXPECT_FALSE(file_exists(home + "/current.txt"));
    EXPECT_STREQ(ctx.installed_version, "");

    // The digest is compared as written, so upper case never matches.
    old_version("1.0", true);
    set(ctx.manifest.bundle_url, url);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    set(ctx.manifest.bundle_sha256, upper);
    EXPECT_EQ(install(), "downloading " + url + " ...\n  SHA256 MISMATCH (expected " + upper + ", got " + digest +
                         ") \xE2\x80\x94 refusing to update\n");
    EXPECT_STREQ(g_splash.line, "DOWNLOADING THE UPDATE");
    EXPECT_FALSE(file_exists(home + "/app.1.1"));

    publish("1.1", "garbage, not a zip");
    EXPECT_EQ(install(), installing("1.1") + "  (extract failed)\n");
    EXPECT_EQ(read_file(home + "/current.txt"), tmp.win("home\\app.1.0\\kestrel-core"));
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
    EXPECT_STREQ(ctx.installed_version, "1.0");
}

// Every user file is carried from the current version, or else from the newest
// older one that has it (never the old or new directory itself); one that
// existed but cannot be carried is lost aloud, one found nowhere silently.
TEST_F(InstallBundle, UserFilesFollowTheNewVersion) {
    old_version("3", false, {{"keymap.txt", "keys from 3"}, {"player_name.txt", "ana"}});
    old_version("2", false, {{"keymap.txt", "keys from 2"}, {"savestate.vela", "old save"}});
    std::string old = old_version("4", true, {{"patched.nds", "rom"}, {"keymap.txt", "locked keys"},
                                              {"ui_lang.txt", "fr"}, {"savestate.vela", "save"}});
    fake.fail_copy = [](const std::string& from, const std::string&) {
        return (from.find("app.4") != std::string::npos && from.find("keymap.txt") != std::string::npos) ||
               from.find("savestate.vela") != std::string::npos;
    };
    publish("5", stored_zip({{"kestrel-core/Pelko.exe", "new"}, {"kestrel-core/keymap.txt", "bundled keys"},
                             {"kestrel-core/ui_lang.txt", "bundled language"}}));
    std::string old_dir = tmp.win("home\\app.4\\kestrel-core");
    EXPECT_EQ(install(), installing("5") +
                         "  (kept patched.nds)\n"
                         "  (kept player_name.txt, recovered from an older version)\n"
                         "  !! could not carry keymap.txt forward from " + old_dir + " -- looking in older versions\n"
                         "  (kept keymap.txt, recovered from an older version)\n"
                         "  (kept ui_lang.txt)\n"
                         "  !! could not carry savestate.vela forward from " + old_dir + " -- looking in older "
                         "versions\n"
                         "  !! savestate.vela IS LOST. If this was patched.nds you will be asked for your game file "
                         "again.\n"
                         "  installed 5.\n");
    std::string game = home + "/app.5/kestrel-core";
    EXPECT_EQ(read_file(game + "/patched.nds"), "rom");
    EXPECT_EQ(read_file(game + "/player_name.txt"), "ana");
    EXPECT_EQ(read_file(game + "/keymap.txt"), "keys from 3");
    EXPECT_EQ(read_file(game + "/ui_lang.txt"), "fr");
    EXPECT_FALSE(file_exists(game + "/savestate.vela"));
    EXPECT_EQ(read_file(old + "/patched.nds"), "rom");
}

// An installed version that differs even by a trailing space is installed
// again, into an emptied directory whose user files come from older versions.
TEST_F(InstallBundle, ReinstallingTheCurrentVersionEmptiesItBeforeTheCarry) {
    old_version("1", false, {{"patched.nds", "rom from 1"}});
    old_version("2", true, {{"patched.nds", "rom from 2"}, {"stale.dat", "leftover"}});
    installed("2 ");
    publish("2", kGameBundle);
    EXPECT_EQ(install(), installing("2") + "  (kept patched.nds, recovered from an older version)\n  installed 2.\n");
    std::string game = home + "/app.2/kestrel-core";
    EXPECT_FALSE(file_exists(game + "/stale.dat"));
    EXPECT_EQ(read_file(game + "/patched.nds"), "rom from 1");
    EXPECT_STREQ(ctx.installed_version, "2");
}

}  // namespace
