// Installing a bundle from the update site and carrying the player's files.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codecs/sha256.h"
#include "core/bundle_install.h"
#include "http_server.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

// A stored (uncompressed) ZIP archive of the given files.
std::string stored_zip(const std::map<std::string, std::string>& files) {
    auto crc32 = [](const std::string& data) {
        uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char c : data) {
            crc ^= c;
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    auto u16 = [](std::string& out, uint32_t v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::string& out, uint32_t v) {
        u16(out, v & 0xFFFF);
        u16(out, v >> 16);
    };
    std::string body, central;
    for (const auto& [name, data] : files) {
        uint32_t offset = static_cast<uint32_t>(body.size()), crc = crc32(data);
        uint32_t size = static_cast<uint32_t>(data.size()), name_length = static_cast<uint32_t>(name.size());
        u32(body, 0x04034b50);
        u16(body, 10), u16(body, 0), u16(body, 0), u16(body, 0), u16(body, 0);
        u32(body, crc), u32(body, size), u32(body, size);
        u16(body, name_length), u16(body, 0);
        body += name + data;
        u32(central, 0x02014b50);
        u16(central, 20), u16(central, 10), u16(central, 0), u16(central, 0), u16(central, 0), u16(central, 0);
        u32(central, crc), u32(central, size), u32(central, size);
        u16(central, name_length), u16(central, 0), u16(central, 0), u16(central, 0), u16(central, 0);
        u32(central, 0), u32(central, offset);
        central += name;
    }
    std::string end;
    u32(end, 0x06054b50);
    u16(end, 0), u16(end, 0);
    u16(end, static_cast<uint32_t>(files.size())), u16(end, static_cast<uint32_t>(files.size()));
    u32(end, static_cast<uint32_t>(central.size())), u32(end, static_cast<uint32_t>(body.size()));
    u16(end, 0);
    return body + central + end;
}

class InstallBundle : public ::testing::Test {
protected:
    TempDir tmp;
    FakePlatform fake;
    LoopbackServer server;
    std::string home = tmp.at("home");
    run_context ctx{};
    std::string log;
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
        std::free(ctx.manifest.remote_version);
        std::free(ctx.manifest.bundle_url);
        std::free(ctx.manifest.bundle_sha256);
    }

    // Publishes a bundle and fills the manifest values for it.
    void publish(const std::string& version, const std::map<std::string, std::string>& files) {
        std::string zip = stored_zip(files);
        write_file(tmp.at("published.zip"), zip);
        char hex[kDigestTextSize];
        ASSERT_EQ(sha256_file_hex(tmp.at("published.zip").c_str(), hex), 0);
        digest = hex;
        url = server.url("/pelko-" + version + ".zip");
        server.serve("/pelko-" + version + ".zip", {200, zip});
        ctx.manifest.remote_version = strdup(version.c_str());
        ctx.manifest.bundle_url = strdup(url.c_str());
        ctx.manifest.bundle_sha256 = strdup(digest.c_str());
    }
    void installed(const std::string& version) {
        std::snprintf(ctx.installed_version, sizeof ctx.installed_version, "%s", version.c_str());
    }
    // A version directory with a game, named current when asked.
    std::string old_version(const std::string& version, bool current = true) {
        std::string game = home + "/app." + version + "/kestrel-core";
        write_file(game + "/Pelko.exe", "old game");
        write_file(game + "/version.txt", version + "\n");
        if (current) {
            write_file(home + "/current.txt", tmp.win("home/app." + version + "/kestrel-core"));
            write_file(home + "/version.txt", version + "\n");
            installed(version);
        }
        return game;
    }
    void install() {
        testing::internal::CaptureStdout();
        install_bundle(&ctx);
        log = testing::internal::GetCapturedStdout();
    }
    bool logged(const std::string& line) const { return log.find(line) != std::string::npos; }
    std::string win(const std::string& rel) const { return tmp.win(rel); }
};

const std::map<std::string, std::string> kGameBundle = {{"kestrel-core/Pelko.exe", "new game"},
                                                        {"kestrel-core/data.bin", "data"}};

TEST_F(InstallBundle, TheSameVersionIsUpToDateAndNothingIsFetched) {
    old_version("12");
    publish("12", kGameBundle);
    install();
    EXPECT_EQ(log, "  app up to date.\n");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(InstallBundle, AVersionThatDiffersByATrailingSpaceIsInstalled) {
    old_version("12 ");
    publish("12", kGameBundle);
    install();
    EXPECT_TRUE(logged("  installed 12.\n")) << log;
    EXPECT_STREQ(ctx.installed_version, "12");
}

TEST_F(InstallBundle, AFirstInstallWritesTheRecordsAndCarriesNothing) {
    publish("1.0", kGameBundle);
    install();
    EXPECT_EQ(log, "downloading " + url + " ...\n  sha256 OK.\ninstalling 1.0 ...\n  installed 1.0.\n");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/Pelko.exe"), "new game");
    EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
    EXPECT_EQ(read_file(home + "/current.txt"), win("home\\app.1.0\\kestrel-core"));
    EXPECT_STREQ(ctx.installed_version, "1.0");
    EXPECT_TRUE(file_exists(tmp.at("temp/pelko_bundle.4242.zip")));
}

TEST_F(InstallBundle, TheStatusSaysUpdateOrGameByWhatIsInstalled) {
    publish("1.0", kGameBundle);
    server.serve("/pelko-1.0.zip", {200, "not the bundle"});
    install();
    EXPECT_STREQ(g_splash.line, "DOWNLOADING THE GAME");
    old_version("0.9");
    install();
    EXPECT_STREQ(g_splash.line, "DOWNLOADING THE UPDATE");
}

TEST_F(InstallBundle, AnUpperCaseDigestNeverMatchesAndNothingChanges) {
    std::string game = old_version("1.0");
    publish("1.1", kGameBundle);
    for (char& c : digest) c = static_cast<char>(std::toupper(c));
    std::free(ctx.manifest.bundle_sha256);
    ctx.manifest.bundle_sha256 = strdup(digest.c_str());
    install();
    std::string actual = digest;
    for (char& c : actual) c = static_cast<char>(std::tolower(c));
    EXPECT_TRUE(logged("  SHA256 MISMATCH (expected " + digest + ", got " + actual +
                       ") \xE2\x80\x94 refusing to update\n"))
        << log;
    EXPECT_FALSE(file_exists(home + "/app.1.1"));
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
    EXPECT_STREQ(ctx.installed_version, "1.0");
}

TEST_F(InstallBundle, FailedDownloadAndBrokenArchiveLeaveTheRecords) {
    old_version("1.0");
    publish("1.1", kGameBundle);
    std::free(ctx.manifest.bundle_url);
    ctx.manifest.bundle_url = strdup(("http://127.0.0.1:" + std::to_string(refused_port()) + "/x.zip").c_str());
    install();
    EXPECT_TRUE(logged("  (download failed)\n"));

    std::free(ctx.manifest.bundle_url);
    ctx.manifest.bundle_url = strdup(url.c_str());
    server.serve("/pelko-1.1.zip", {200, "garbage, not a zip"});
    write_file(tmp.at("garbage.zip"), "garbage, not a zip");
    char hex[kDigestTextSize];
    sha256_file_hex(tmp.at("garbage.zip").c_str(), hex);
    std::free(ctx.manifest.bundle_sha256);
    ctx.manifest.bundle_sha256 = strdup(hex);
    install();
    EXPECT_TRUE(logged("  (extract failed)\n")) << log;
    EXPECT_EQ(read_file(home + "/current.txt"), win("home\\app.1.0\\kestrel-core"));
    EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
}

TEST_F(InstallBundle, AFlatBundleRunsFromItsVersionDirectory) {
    publish("2.0", {{"Pelko.exe", "flat game"}});
    install();
    EXPECT_EQ(read_file(home + "/current.txt"), win("home\\app.2.0"));
    EXPECT_EQ(read_file(home + "/app.2.0/version.txt"), "2.0\n");
}

TEST_F(InstallBundle, UserFilesFollowTheNewVersion) {
    std::string old = old_version("1.0");
    write_file(old + "/patched.nds", "rom");
    write_file(old + "/keymap.txt", "keys");
    write_file(old + "/savestate.vela", "save");
    publish("1.1", {{"kestrel-core/Pelko.exe", "new"}, {"kestrel-core/keymap.txt", "bundled default"}});
    install();
    EXPECT_EQ(log, "downloading " + url +
                       " ...\n  sha256 OK.\ninstalling 1.1 ...\n  (kept patched.nds)\n  (kept keymap.txt)\n"
                       "  (kept savestate.vela)\n  installed 1.1.\n");
    std::string game = home + "/app.1.1/kestrel-core";
    EXPECT_EQ(read_file(game + "/patched.nds"), "rom");
    EXPECT_EQ(read_file(game + "/keymap.txt"), "keys");
    EXPECT_EQ(read_file(game + "/savestate.vela"), "save");
    EXPECT_TRUE(file_exists(old + "/patched.nds"));
}

TEST_F(InstallBundle, ALockedFileIsRecoveredFromTheNewestOlderVersion) {
    std::string app3 = old_version("3", false);
    write_file(app3 + "/keymap.txt", "keys from 3");
    std::string app2 = old_version("2", false);
    write_file(app2 + "/keymap.txt", "keys from 2");
    std::string old = old_version("4");
    write_file(old + "/keymap.txt", "locked keys");
    fake.fail_copy = [](const std::string& from, const std::string&) {
        return from.find("app.4") != std::string::npos && from.find("keymap.txt") != std::string::npos;
    };
    publish("5", kGameBundle);
    install();
    std::string old_dir = win("home\\app.4\\kestrel-core");
    EXPECT_TRUE(logged("  !! could not carry keymap.txt forward from " + old_dir + " -- looking in older versions\n"))
        << log;
    EXPECT_TRUE(logged("  (kept keymap.txt, recovered from an older version)\n"));
    EXPECT_EQ(read_file(home + "/app.5/kestrel-core/keymap.txt"), "keys from 3");
}

TEST_F(InstallBundle, AFileMissingFromTheOldVersionIsLookedForSilently) {
    std::string app1 = old_version("1", false);
    write_file(app1 + "/player_name.txt", "ana");
    old_version("2");
    publish("3", kGameBundle);
    install();
    EXPECT_FALSE(logged("could not carry"));
    EXPECT_TRUE(logged("  (kept player_name.txt, recovered from an older version)\n"));
    EXPECT_FALSE(logged("patched.nds"));
    EXPECT_EQ(read_file(home + "/app.3/kestrel-core/player_name.txt"), "ana");
}

TEST_F(InstallBundle, AFileThatExistedButCannotBeCarriedAnywhereIsLost) {
    std::string old = old_version("1");
    write_file(old + "/savestate.vela", "save");
    fake.fail_copy = [](const std::string&, const std::string&) { return true; };
    publish("2", kGameBundle);
    install();
    EXPECT_TRUE(logged("  !! savestate.vela IS LOST. If this was patched.nds you will be asked for your game file "
                       "again.\n"));
    EXPECT_TRUE(logged("  installed 2.\n"));
}

TEST_F(InstallBundle, ReinstallingTheCurrentVersionEmptiesItBeforeTheCarry) {
    std::string app1 = old_version("1", false);
    write_file(app1 + "/patched.nds", "rom from 1");
    std::string current = old_version("2");
    write_file(current + "/patched.nds", "rom from 2");
    write_file(current + "/stale.dat", "leftover");
    installed("2 (broken)");
    publish("2", kGameBundle);
    install();
    std::string game = home + "/app.2/kestrel-core";
    EXPECT_FALSE(file_exists(game + "/stale.dat"));
    EXPECT_EQ(read_file(game + "/patched.nds"), "rom from 1");
    EXPECT_TRUE(logged("  (kept patched.nds, recovered from an older version)\n")) << log;
}

}  // namespace
