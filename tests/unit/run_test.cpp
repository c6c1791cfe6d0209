// Whole runs: from the arguments and the environment to the exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "splash/splash_state.h"
#include "support.h"

namespace {

using LauncherRun = LauncherTest;

// Each configuration variable is tested as the run reads it: present, or
// non-empty.
TEST_F(LauncherRun, NothingInstalledEndsWithTheErrorShownForEightSeconds) {
    const std::string checking = "checking https://" PELKO_UPDATE_HOST "/releases/manifest.json ...\n";
    const struct {
        const char* variable;
        std::string home;  // where the home directory is made
        bool splash;
    } cases[] = {
        {nullptr, "home", true},
        {"VELA_HOME", "appdata/Pelko", true},
        {"PELKO_UPDATE_BASE", "home", true},
        {"VELA_NO_SPLASH", "home", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable ? c.variable : "none");
        TempDir other;
        fake.env["VELA_HOME"] = other.win("home");
        fake.local_appdata = other.at("appdata");
        make_dirs(other.at("appdata"));
        if (c.variable) fake.env[c.variable] = "";
        fake.sleeps.clear();
        fake.threads.clear();
        splash_state_clear();
        EXPECT_EQ(run(), 1);
        fake.env.erase(c.variable ? c.variable : "");
        EXPECT_EQ(log, "one-tap: no room code -- this launch will host a fresh room\n" + checking +
                           "  (manifest unreachable \xE2\x80\x94 launching installed/bundled app without update)\n");
        EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
        EXPECT_TRUE(file_exists(other.at(c.home)));
        EXPECT_TRUE(fake.started.empty());
        // The splash stays up with the error until the process ends.
        EXPECT_EQ(fake.threads.size(), c.splash ? 1u : 0u);
        EXPECT_EQ(splash_is_active(), c.splash);
        EXPECT_STREQ(g_splash.line, c.splash ? "UPDATE SERVER UNREACHABLE. CHECK YOUR CONNECTION" : "");
    }
}

// The arguments reach the game only as the launch number, safe video and the
// room of an invite, where a link wins over the file name. The game inherits
// the launcher's environment and, when it could be made, a fresh game.log;
// whether anything of the start failed, the run ends the same way. A version
// record an unfinished update left is put back before the update check.
TEST_F(LauncherRun, AnInstalledGameStartsWithItsArgumentsEnvironmentAndLog) {
    install("1.0");
    const std::string game = game_dir("1.0"), plain = fake.module_path, invite_file = "/dl/Pelko-Setup-AB12.exe",
                      softrender = game + "\\softrender.txt";
    const std::vector<std::string> native = {"VELA_NOOPEN=1", "VELA_STREAM=8199", "PELKO_VIA_UPDATER=1",
                                             "VELA_NATIVE=1"};
    const struct {
        std::vector<std::string> args;
        std::string module_path, number, room, source;
        bool web;
        std::string fails, safe_log;  // the failing operation; what safe video logs
    } cases[] = {
        // clang-format off
        {{}, plain, "0", "", "", false, "", ""},
        {{"--url", "pelko://join/wxyz"}, plain, "0", "WXYZ", "a clicked pelko:// invite link)\n", false, "start", ""},
        {{}, invite_file, "0", "AB12", "the name of the installer file that was launched -- launch the INSTALLED "
                                       "launcher instead to host a fresh room)\n", true, "create_output", ""},
        {{"2", "pelko://join/WXYZ", "--safe"}, invite_file, "2", "WXYZ", "a clicked", false, "",
         "safe video: wrote " + softrender + " -- the game will use the software renderer\n"},
        {{"4", "--SAFE", "--safe-video"}, plain, "4", "", "", false, "fopen wb",
         "safe video: could NOT write " + softrender + "\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fake.started.clear(), fake.sleeps.clear(), fake.thread_waits.clear(), fake.putenvs.clear();
        fake.sleeps_before_thread_wait.clear();
        fake.module_path = c.module_path;
        fake.start_succeeds = c.fails != "start";
        fake.fail = [&c](const std::string& op, const std::string&) { return op == c.fails; };
        write_file(home + "/game.log", "previous run");
        write_file(home + "/version.txt", "5\n");
        std::remove((home + "/app.1.0/kestrel-core/softrender.txt").c_str());
        fake.env.erase("PELKO_WEB");
        if (c.web) fake.env["PELKO_WEB"] = "";
        EXPECT_EQ(run(c.args), 0);
        EXPECT_EQ(log.find("  (repaired a half-finished update: the installed app is 1.0, the record said '5')\n"),
                  log.find('\n') + 1);
        EXPECT_EQ(read_file(home + "/version.txt"), "1.0\n");
        EXPECT_TRUE(logged(c.room.empty() ? "one-tap: no room code -- this launch will host a fresh room\n"
                                          : "one-tap: joining room " + c.room + " (source: " + c.source));
        ASSERT_EQ(fake.started.size(), 1u);
        const std::string line = "\"" + game + "\\Pelko.exe\" \"" + game + "\\patched.nds\" \"" + game + "\" " +
                                 c.number + " " PELKO_GAME_SERVER " 6100" + (c.room.empty() ? "" : " --room=" + c.room);
        EXPECT_EQ(fake.started[0].command_line, line);
        EXPECT_TRUE(logged("launch: " + line + "\n" + c.safe_log));
        const bool wrote = c.safe_log.find(" wrote ") != std::string::npos;
        EXPECT_EQ(read_file(home + "/app.1.0/kestrel-core/softrender.txt"), wrote ? "1\n" : "");
        EXPECT_EQ(fake.putenvs, std::vector<std::string>(native.begin(), native.end() - (c.web ? 1 : 0)));
        const plat_start_options& o = fake.started[0].options;
        EXPECT_TRUE(o.no_window);
        EXPECT_EQ(o.inherit_handles && o.output, c.fails != "create_output");
        EXPECT_EQ(read_file(home + "/game.1.log"), "previous run");
        EXPECT_EQ(file_exists(home + "/game.log"), c.fails != "create_output");
        // The bar is full before the game starts; the splash closes after the
        // 600 and 400 ms pauses, before the last wait.
        EXPECT_EQ(fake.splash_lines.back() + " " + std::to_string(g_splash.percent), "READY - STARTING THE GAME 100");
        EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{600, 400, 6000}));
        EXPECT_EQ(fake.thread_waits, std::vector<uint32_t>{3000});
        EXPECT_EQ(fake.sleeps_before_thread_wait, std::vector<size_t>{2});
        EXPECT_FALSE(splash_is_active());
    }
}

// Test mode installs and registers, then reports and ends the run without
// contacting the site, whether the code came from the file name or a link.
TEST_F(LauncherRun, OneTapTestModeReportsTheInviteAfterTheSelfInstall) {
    fake.env["VELA_ONETAP_TEST"] = tmp.win("report.txt");
    write_file(tmp.at("Downloads/Pelko-Setup-AB12.exe"), "launcher");
    fake.module_path = tmp.win("Downloads\\Pelko-Setup-AB12.exe");
    const struct {
        std::vector<std::string> args;
        const char* report;
        std::string module_path;
    } cases[] = {
        {{}, "roomcode=AB12 from_filename=1\n", fake.module_path},
        {{"pelko://join/abcd"}, "roomcode=ABCD from_filename=0\n", tmp.win("Downloads\\Pelko-Setup.exe")},
        {{}, "roomcode= from_filename=0\n", tmp.win("Downloads\\Pelko-Setup.exe")},
    };
    for (const auto& c : cases) {
        fake.module_path = c.module_path;
        EXPECT_EQ(run(c.args), 0);
        EXPECT_EQ(read_file(tmp.at("report.txt")), c.report);
    }
    EXPECT_EQ(read_file(home + "/Pelko-Setup.exe"), "launcher");
    EXPECT_FALSE(fake.registry.empty());
    fake.env["VELA_ONETAP_TEST"] = "";  // an empty value is test mode too; the report cannot be opened
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_TRUE(fake.sleeps.empty());
}

}  // namespace
