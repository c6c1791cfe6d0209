// Test doubles and helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/signed_manifest.h"
#include "platform/ops.h"

// A fresh temporary directory, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string at(const std::string& relative) const;   // path() + "/" + relative
    std::string win(const std::string& relative) const;  // the same as the launcher writes it, with "\\"

private:
    std::string path_;
};

// Replaces the platform layer for its lifetime; files stay real files.
struct FakePlatform {
    FakePlatform();
    ~FakePlatform();

    std::map<std::string, std::string> env;  // what the launcher's getenv sees
    std::vector<std::string> putenvs;
    std::vector<uint32_t> sleeps;

    std::string module_path = "/downloads/Pelko-Setup.exe";  // UTF-8
    std::string local_appdata = "/nonexistent-appdata";
    unsigned long pid = 4242;
    std::string temp_dir;  // with its trailing slash; the system's when empty

    struct Started {
        std::string command_line;
        plat_start_options options;
    };
    std::vector<Started> started;
    bool start_succeeds = true;
    bool wait_succeeds = true;
    unsigned long exit_code = 0;

    std::atomic<int> lock_enters{0}, lock_retires{0};  // on every thread
    std::vector<std::string> splash_lines;             // every splash line, in order

    // Threads are recorded and run only with run_threads or release_threads();
    // a wait on one that never ran succeeds at once. Real threads still running
    // at the end are told to stop (the splash's active flag) and waited for.
    struct Thread {
        plat_thread_main main = nullptr;
        void* parameter = nullptr;
        plat_thread real = nullptr;
        bool closed = false;
    };
    std::vector<std::unique_ptr<Thread>> threads;
    bool run_threads = false;
    std::vector<uint32_t> thread_waits;
    std::vector<size_t> sleeps_before_thread_wait;  // sleeps.size() at each wait
    void release_threads();

    // The update site: bodies by URL ("scheme://host:port/object"); others get no response.
    std::map<std::string, std::string> site;
    std::vector<std::string> requests;
    bool endless_bodies = false;  // every body goes on for ever; `delivered` counts its bytes
    uint64_t delivered = 0;
    uint64_t disk_free = UINT64_MAX;  // what every volume has left
    std::string user_agent;           // of the last request

    // Key path -> value name ("" unnamed) -> the bytes stored, NUL included.
    std::map<std::string, std::map<std::string, std::string>> registry;
    std::function<bool(const std::string& key)> fail_reg_create;

    // The open-file dialog: how it was shown, and the player's pick ("": cancel).
    struct Dialog {
        std::string filter;  // with its NULs
        std::string title;
        uint32_t flags, size;
    };
    std::vector<Dialog> dialogs;
    std::string dialog_answer;

    // True fails the call: op is "fopen MODE", "copy" or "move" (of path), "delete", "mkdir" or "create_output".
    std::function<bool(const std::string& op, const std::string& path)> fail;
    // Called after each of those calls was made, with the target of a copy or move.
    std::function<void(const std::string& op, const std::string& path, const std::string& to)> after;

    plat_ops ops;
};

std::string read_file(const std::string& path);  // "" when missing
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);
// Relative path -> content of every file below root, and "<dir>" for every directory with dirs.
std::map<std::string, std::string> files_below(const std::string& root, bool dirs = false);
// The program's name and then args, as main receives them; the pointers point into args.
std::vector<char*> argv_of(std::vector<std::string>& args);
std::string upper_case(std::string text);

// Bytes that pass the "usable DS ROM" test: 56 CF at 0x15C, the rest 0x11.
std::string usable_rom(size_t size = 4096);

// The whole launcher run in a home of its own, against the fake platform; publish() puts a release on kSite.
class LauncherTest : public ::testing::Test {
protected:
    static constexpr const char* kSite = "http://127.0.0.1:8080/releases";
    TempDir tmp;
    FakePlatform fake;
    std::string home = tmp.at("home"), log, err;
    const release_keys* keys = &kBuiltInReleaseKeys;  // what run() checks signed manifests with

    void SetUp() override;
    void TearDown() override;
    std::string game_dir(const std::string& version) const;  // as the launcher names it
    void move_home(const std::string& name);                 // home becomes tmp's folder name, not yet made
    // A version directory with a game, a usable ROM and these files, and the records naming it.
    void install(const std::string& version, const std::map<std::string, std::string>& files = {});
    // Serves the files zipped with Info-ZIP as version, and the manifest naming them (returned).
    std::string publish(const std::string& version, const std::map<std::string, std::string>& files);
    std::string publish(const std::string& version) { return publish(version, {{"kestrel-core/Pelko.exe", "game"}}); }
    // launcher_main with these arguments; log and err receive its standard output and error.
    int run(std::vector<std::string> args = {});
    bool logged(const std::string& line) const { return log.find(line) != std::string::npos; }
};

std::string digest_of(const std::string& path);  // the launcher's own SHA-256 text
void show_splash();                              // active without a thread, so that status lines land in it
