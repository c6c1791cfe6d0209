// Replacing the installed launcher and handing the run over to the new build.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "codecs/sha256.h"
#include "core/self_update.h"
#include "http_server.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

using Files = std::map<std::string, std::string>;

std::string digest_of(const std::string& path) {
    char hex[kDigestTextSize] = "";
    EXPECT_EQ(sha256_file_hex(path.c_str(), hex), 0);
    return hex;
}

// Every file in a folder, with its content.
Files files_in(const std::string& dir) {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

TEST(SelfUpdate, EachOutcomeLeavesItsFilesLogAndHandOver) {
    TempDir tmp;
    LoopbackServer server;
    const std::string build1 = "MZ launcher build 1", build2 = "MZ launcher build 2";
    server.serve("/Pelko-Setup.exe", {200, build2});
    write_file(tmp.at("build1.exe"), build1);
    write_file(tmp.at("build2.exe"), build2);
    const std::string own = digest_of(tmp.at("build1.exe")), fresh = digest_of(tmp.at("build2.exe"));
    std::string upper = own;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    const std::string url = server.url("/Pelko-Setup.exe"),
                      refused = "http://127.0.0.1:" + std::to_string(refused_port()) + "/x.exe",
                      fetching = "self-update: a newer updater is available -> fetching\n";
    const Files kept = {{"Pelko-Setup.exe", build1}},
                untouched = {{"Pelko-Setup.exe", build1}, {"Pelko-Setup.old.exe", "build 0"}},
                swapped = {{"Pelko-Setup.exe", build2}, {"Pelko-Setup.old.exe", build1}};
    auto none = [](FakePlatform&) {};
    auto swap_fails = [](FakePlatform& f) {
        f.fail_move = [](const std::string& from, const std::string&) { return from.find(".new.exe") != from.npos; };
    };
    struct Case {
        std::function<void(FakePlatform&)> arrange;
        std::string digest, url, room;
        int result;
        std::string log;
        Files after;       // the home's files
        const char* args;  // the new build's command line after its quoted path; nullptr: none started
    };
    const Case cases[] = {
        // A current digest, or an own file that cannot be read, removes the old build and fetches nothing.
        {none, own, url, "", kRunGoesOn, "", kept, nullptr},
        {[&](FakePlatform& f) { f.module_path = tmp.win("gone\\Pelko-Setup.exe"); }, fresh, url, "", kRunGoesOn, "",
         kept, nullptr},
        // An upper-case digest is never current, and the download does not match it either.
        {none, upper, url, "", kRunGoesOn, fetching + "self-update: sha mismatch -> keeping the current updater\n",
         untouched, nullptr},
        {none, fresh, refused, "", kRunGoesOn, fetching, untouched, nullptr},
        // A failed swap, or a new build that cannot start, puts the installed launcher back.
        {swap_fails, fresh, url, "", kRunGoesOn, fetching, kept, nullptr},
        {[](FakePlatform& f) { f.start_succeeds = false; }, fresh, url, "", kRunGoesOn, fetching, kept, ""},
        // The new build runs the rest, given the invite alone, and its outcome is the run's.
        {none, fresh, url, "AB12", 0, fetching + "self-update: swapped in the new updater; it finished the update.\n",
         swapped, " --url \"pelko://join/AB12\""},
        {[](FakePlatform& f) { f.exit_code = 3; }, fresh, url, "", 3,
         fetching + "!! self-update: the new updater exited with 3 -- the app may not have been updated.\n", swapped,
         ""},
        {[](FakePlatform& f) { f.wait_succeeds = false; }, fresh, url, "", 1,
         fetching + "!! self-update: the new updater did not finish in time -- the app may not have been updated.\n",
         swapped, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        // A fresh home: this process is its installed launcher, build 1, with build 0 still beside it.
        const std::string home = "case" + std::to_string(++n), whome = tmp.win(home);
        SCOPED_TRACE(home);
        write_file(tmp.at(home + "/Pelko-Setup.exe"), build1);
        write_file(tmp.at(home + "/Pelko-Setup.old.exe"), "build 0");
        FakePlatform fake;
        fake.module_path = whome + "\\Pelko-Setup.exe";
        c.arrange(fake);
        splash_state_clear();
        plat_lock_init(&g_splash.lock);
        g_splash.active.store(1);
        const size_t fetched = server.requests().size();

        testing::internal::CaptureStdout();
        EXPECT_EQ(self_update(whome.c_str(), c.room.c_str(), c.url.c_str(), c.digest.c_str()), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
        g_splash.active.store(0);
        EXPECT_EQ(files_in(tmp.at(home)), c.after);
        EXPECT_STREQ(g_splash.line, c.log.empty() ? "" : "UPDATING THE INSTALLER");
        EXPECT_EQ(server.requests().size(), fetched + (c.log.empty() || c.url == refused ? 0 : 1));
        EXPECT_EQ(fake.sleeps, c.result == kRunGoesOn ? std::vector<uint32_t>{} : std::vector<uint32_t>{900000});
        ASSERT_EQ(fake.started.size(), c.args ? 1u : 0u);
        if (!c.args) continue;
        EXPECT_EQ(fake.started[0].command_line, "\"" + whome + "\\Pelko-Setup.exe\"" + c.args);
        const plat_start_options& options = fake.started[0].options;  // no handles, a window, no output file
        EXPECT_TRUE(!options.inherit_handles && !options.no_window && options.output == nullptr);
    }
}

}  // namespace
