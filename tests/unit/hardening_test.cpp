// What the launcher keeps safe where nothing else would: runs killed half way,
// full disks and endless downloads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "core/launcher_main.h"
#include "support.h"
#include "tools/rom_standin/rom_standin.h"

namespace {

class Hardening : public LauncherTest {
protected:
    const std::map<std::string, std::string> user_files = {
        {"patched.nds", usable_rom(600)}, {"keymap.txt", "A=X"}, {"savestate.vela", std::string(3000, 's')}};

    // The run killed right after its nth write (any file operation but an
    // open for reading), a copy half done: true when it got that far.
    bool killed_after(int n) {
        pid_t child = fork();
        if (child == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1), dup2(null, 2);
            int writes = 0;
            fake.after = [&](const std::string& op, const std::string&, std::string to) {
                if (op.rfind("fopen r", 0) == 0 || ++writes < n) return;
                std::replace(to.begin(), to.end(), '\\', '/');
                if (op == "copy") truncate(to.c_str(), static_cast<off_t>(read_file(to).size() / 2));
                _exit(0);
            };
            std::vector<char*> argv = {const_cast<char*>("Pelko-Setup.exe")};
            _exit(10 + launcher_main(1, argv.data()));
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

// Whenever a first install, an update or the ROM step is killed, the next run
// (and the update after it) ends in a whole state: the published version
// starts with a usable ROM and every one of the player's files.
TEST_F(Hardening, AfterARunKilledAtAnyWriteTheNextRunsEndWhole) {
    const std::vector<uint8_t> dump = standin_dump(), target = standin_target(dump);
    write_file(tmp.at("dump.nds"), std::string(dump.begin(), dump.end()));
    write_file(tmp.at("other.nds"), usable_rom(9000));
    const struct {
        const char* name;
        bool installed;   // 1.0 is installed with the player's files
        const char* rom;  // the dump VELA_ROM names, with patched.nds missing
        std::string expected_rom;
    } cases[] = {
        {"first install", false, nullptr, ""},
        {"update", true, nullptr, user_files.at("patched.nds")},
        {"ROM patched", true, "dump.nds", std::string(target.begin(), target.end())},
        {"ROM copied for Download Play", true, "other.nds", usable_rom(9000)},
    };
    for (const auto& c : cases) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(c.name) + ", killed after write " + std::to_string(n));
            move_home(std::string(c.name) + " " + std::to_string(n));
            fake.env["VELA_ROM"] = c.rom ? tmp.win(c.rom) : "";
            fake.site.clear();
            if (c.installed) install("1.0", user_files);
            if (c.rom) std::remove((home + "/app.1.0/kestrel-core/patched.nds").c_str());
            if (!c.rom) publish("1.1", {{"kestrel-core/Pelko.exe", "game 1.1"}});
            const bool killed = killed_after(n);
            fake.after = nullptr;
            if (!c.rom) publish("1.2", {{"kestrel-core/Pelko.exe", "game 1.2"}});
            ASSERT_EQ(run(c.installed ? std::vector<std::string>{} : std::vector<std::string>{"pelko://join/ab12"}), 0)
                << log;
            const std::string version = c.rom ? "1.0" : "1.2", game = home + "/app." + version + "/kestrel-core/";
            EXPECT_EQ(read_file(home + "/current.txt"), game_dir(version));
            EXPECT_EQ(fake.started.back().command_line.find("\"" + game_dir(version) + "\\Pelko.exe\""), 0u);
            for (const auto& [name, content] : user_files) {
                const std::string expected = name == "patched.nds" ? c.expected_rom : c.installed ? content : "";
                EXPECT_TRUE(read_file(game + name) == expected) << name;
            }
            if (!killed) break;
        }
    }
}

// A bundle that does not fit on the disk writes nothing, and files whose
// writes fall short are not counted: either way the install fails and the
// installed version starts. A ROM without room fails as a disk error.
TEST_F(Hardening, AFullDiskKeepsTheInstalledVersion) {
    install("1.0", user_files);
    publish("1.1", {{"kestrel-core/Pelko.exe", std::string(5000, 'g')}, {"kestrel-core/data.bin", "1234"}});
    static bool writes_fall_short;
    fake.ops.fopen = [](const char* path, const char* mode) {
        return writes_fall_short && std::strstr(path, "app.1.1") ? std::fopen("/dev/full", mode)
                                                                 : plat_native_ops().fopen(path, mode);
    };
    const struct {
        uint64_t free;
        bool short_writes;
        const char* version;
    } cases[] = {{5003, false, "1.0"}, {UINT64_MAX, true, "1.0"}, {5004, false, "1.1"}};
    for (const auto& c : cases) {
        fake.disk_free = c.free;
        writes_fall_short = c.short_writes;
        EXPECT_EQ(run(), 0);
        EXPECT_TRUE(logged(std::string(c.version) == "1.0" ? "  (extract failed)\n" : "  installed 1.1.\n")) << log;
        EXPECT_EQ(read_file(home + "/version.txt"), c.version + std::string("\n"));
        if (c.free == 5003) { EXPECT_EQ(files_below(home + "/app.1.1"), (std::map<std::string, std::string>{})); }
        EXPECT_EQ(file_exists(home + "/app.1.1/kestrel-core/Pelko.exe"), std::string(c.version) == "1.1");
    }
    const std::vector<uint8_t> dump = standin_dump();
    write_file(tmp.at("dump.nds"), std::string(dump.begin(), dump.end()));
    fake.env["VELA_ROM"] = tmp.win("dump.nds");
    std::remove((home + "/app.1.1/kestrel-core/patched.nds").c_str());
    fake.disk_free = 23288695;  // one byte short of the ROM
    fake.sleeps.clear();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{10000});
    EXPECT_FALSE(file_exists(home + "/app.1.1/kestrel-core/patched.nds"));
    EXPECT_FALSE(file_exists(home + "/app.1.1/kestrel-core/patched.nds.part"));
}

}  // namespace
