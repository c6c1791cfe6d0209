// Test doubles and helpers shared by the unit tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "platform/ops.h"

// A fresh directory under the system's temporary folder, removed with its
// contents at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    // path() + "/" + relative, for the test's own file handling.
    std::string at(const std::string& relative) const;
    // The same path as the launcher composes it: directory, backslash, name.
    std::string win(const std::string& relative) const;

private:
    std::string path_;
};

// Replaces the platform layer for the life of the object. Calls it does not
// override go to the real posix layer, so files are real files.
struct FakePlatform {
    FakePlatform();
    ~FakePlatform();

    // The process environment as the launcher sees it; absent keys are unset.
    std::map<std::string, std::string> env;
    std::vector<std::string> putenvs;
    std::vector<std::string> getenv_reads;
    std::vector<uint32_t> sleeps;
    uint32_t total_sleep() const { return std::accumulate(sleeps.begin(), sleeps.end(), 0u); }

    std::string module_path = "/downloads/Pelko-Setup.exe";  // UTF-8
    bool module_path_fails = false;
    std::string local_appdata = "/nonexistent-appdata";
    unsigned long pid = 4242;

    struct Started {
        std::string command_line;
        plat_start_options options;
    };
    std::vector<Started> started;
    bool start_succeeds = true;
    bool wait_succeeds = true;
    unsigned long exit_code = 0;

    // Counted on every thread.
    std::atomic<int> lock_enters{0};
    std::atomic<int> lock_retires{0};

    // Threads. A start is recorded and, unless run_threads is set, nothing
    // runs: launcher_main and start_game start a splash, and no test may leave
    // one running. release_threads() runs the recorded ones for real; a wait
    // on a thread that never ran succeeds at once. Each wait's time-out is
    // recorded. Real threads still running when the double
    // goes are told to stop (the splash's active flag) and waited for.
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

    // The temporary folder (with its trailing slash); the system's when empty.
    std::string temp_dir;

    // Every download the launcher asked for. Only 127.0.0.1 is ever contacted:
    // a request for any other host gets no response.
    struct HttpRequest {
        std::string host, object, user_agent;
        uint16_t port;
        bool secure;
    };
    std::vector<HttpRequest> http_requests;

    // The current user's registry: key path -> value name ("" for the unnamed
    // value) -> the bytes stored, NUL included.
    std::map<std::string, std::map<std::string, std::string>> registry;
    std::function<bool(const std::string& key)> fail_reg_create;

    // The open-file dialog: what it was shown with, and what the player picks
    // (nothing: cancelled).
    struct Dialog {
        std::string filter;  // with its NULs
        std::string title;
        uint32_t flags, size;
    };
    std::vector<Dialog> dialogs;
    std::string dialog_answer;

    // Return true to make the call fail.
    std::function<bool(const std::string& from, const std::string& to)> fail_copy, fail_move;
    std::function<bool(const std::string& path, const std::string& mode)> fail_fopen;
    std::function<bool(const std::string& path)> fail_delete, fail_create_output;

    plat_ops ops;
};

// Reads a whole file; "" when it does not exist.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);

// Bytes that pass the launcher's "usable DS ROM" test: the logo checksum
// 56 CF at 0x15C, the rest 0x11.
std::string usable_rom(size_t size = 4096);
