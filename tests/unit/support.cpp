#include "support.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codecs/sha256.h"
#include "core/launcher_main.h"
#include "splash/splash_state.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pelko-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission first, so read-only leftovers go too.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); ++it)
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::at(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempDir::win(const std::string& relative) const {
    std::string tail = relative;
    std::replace(tail.begin(), tail.end(), '/', '\\');
    return path_ + "\\" + tail;
}

namespace {

FakePlatform* g_fake = nullptr;

bool fails(const char* op, const char* path) { return g_fake->fail && g_fake->fail(op, path); }

template <typename Result>
Result done(const std::string& op, const char* path, const char* to, Result result) {
    if (g_fake->after) g_fake->after(op, path, to);
    return result;
}

// Each kind of move, as "move" of its source.
template <bool (*plat_ops::*Move)(const char*, const char*)>
bool fake_move(const char* from, const char* to) {
    return done("move", from, to, !fails("move", from) && (plat_native_ops().*Move)(from, to));
}

// What the module path calls answer: the path and its NUL in buffer and the
// length without the NUL or, when it does not fit, as much as fits with a NUL
// and size.
template <typename Char>
uint32_t module_path_into(const std::basic_string<Char>& path, Char* buffer, uint32_t size) {
    if (size == 0) return 0;
    size_t length = std::min<size_t>(path.size(), size - 1);
    std::copy_n(path.c_str(), length, buffer);
    buffer[length] = 0;
    return path.size() < size ? static_cast<uint32_t>(path.size()) : size;
}

std::string ascii_of(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) out += static_cast<char>(*text < 0x80 ? *text : '?');
    return out;
}

struct fake_key {
    std::string path;
};

struct fake_body {
    std::string bytes;
    size_t position;
};

}  // namespace

void FakePlatform::release_threads() {
    for (auto& t : threads)
        if (!t->real && !t->closed) t->real = plat_native_ops().thread_start(t->main, t->parameter);
}

FakePlatform::FakePlatform() : ops(plat_native_ops()) {
    g_fake = this;
    ops.fopen = [](const char* path, const char* mode) {
        const std::string op = "fopen " + std::string(mode);
        return done(op, path, "", fails(op.c_str(), path) ? nullptr : plat_native_ops().fopen(path, mode));
    };
    ops.copy_file = [](const char* from, const char* to, bool fail_if_exists) {
        return done("copy", from, to, !fails("copy", from) && plat_native_ops().copy_file(from, to, fail_if_exists));
    };
    ops.move_file = fake_move<&plat_ops::move_file>;
    ops.move_file_replace = fake_move<&plat_ops::move_file_replace>;
    ops.move_file_write_through = fake_move<&plat_ops::move_file_write_through>;
    ops.delete_file = [](const char* path) {
        return done("delete", path, "", !fails("delete", path) && plat_native_ops().delete_file(path));
    };
    ops.mkdir = [](const char* path) {
        return done("mkdir", path, "", fails("mkdir", path) ? -1 : plat_native_ops().mkdir(path));
    };
    ops.create_output_file = [](const char* path) {
        return done("create_output", path, "",
                    fails("create_output", path) ? nullptr : plat_native_ops().create_output_file(path));
    };
    ops.disk_free = [](const char*, uint64_t* bytes) { return *bytes = g_fake->disk_free, true; };
    ops.local_appdata = [](char* buffer) {
        std::snprintf(buffer, 260, "%s", g_fake->local_appdata.c_str());
        return true;
    };
    ops.module_path = [](char* buffer, uint32_t size) { return module_path_into(g_fake->module_path, buffer, size); };
    ops.module_path_wide = [](char16_t* buffer, uint32_t size) -> uint32_t {
        // UTF-16 takes no more units than UTF-8 takes bytes.
        std::u16string wide(g_fake->module_path.size() + 1, u'\0');
        int n =
            plat_native_ops().utf8_to_wide(g_fake->module_path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
        if (n <= 0) return 0;
        wide.resize(static_cast<size_t>(n - 1));
        return module_path_into(wide, buffer, size);
    };
    ops.process_id = [] { return g_fake->pid; };
    ops.getenv = [](const char* name) -> const char* {
        auto it = g_fake->env.find(name);
        return it == g_fake->env.end() ? nullptr : it->second.c_str();
    };
    ops.putenv = [](const char* assignment) {
        std::string a = assignment;
        g_fake->putenvs.push_back(a);
        g_fake->env[a.substr(0, a.find('='))] = a.substr(a.find('=') + 1);
        return 0;
    };
    ops.sleep = [](uint32_t ms) { g_fake->sleeps.push_back(ms); };
    ops.temp_path = [](char* buffer, uint32_t size) {
        if (g_fake->temp_dir.empty()) return plat_native_ops().temp_path(buffer, size);
        return static_cast<uint32_t>(std::snprintf(buffer, size, "%s", g_fake->temp_dir.c_str()));
    };
    ops.start_process = [](char* command_line, const plat_start_options& options, plat_process* out) {
        g_fake->started.push_back({command_line, options});
        if (!g_fake->start_succeeds) return false;
        out->process = reinterpret_cast<plat_handle>(0x1234);
        out->thread = reinterpret_cast<plat_handle>(0x5678);
        return true;
    };
    ops.wait_process = [](const plat_process&, uint32_t ms) {
        g_fake->sleeps.push_back(ms);
        return g_fake->wait_succeeds;
    };
    ops.process_exit_code = [](const plat_process&, unsigned long* code) {
        *code = g_fake->exit_code;
        return true;
    };
    ops.close_process = [](plat_process* p) { p->process = p->thread = nullptr; };
    ops.http_open = [](const plat_http_request& request) -> plat_http {
        std::string url = std::string(request.secure ? "https://" : "http://") + ascii_of(request.host) + ":" +
                          std::to_string(request.port) + ascii_of(request.object);
        g_fake->requests.push_back(url);
        g_fake->user_agent = ascii_of(request.user_agent);
        auto it = g_fake->site.find(url);
        return it == g_fake->site.end() ? nullptr : new fake_body{it->second, 0};
    };
    ops.http_read = [](plat_http http, unsigned char* buffer, uint32_t size) {
        if (g_fake->endless_bodies) return g_fake->delivered += size, size;
        auto* body = static_cast<fake_body*>(http);
        size_t n = std::min<size_t>(size, body->bytes.size() - body->position);
        std::memcpy(buffer, body->bytes.data() + body->position, n);
        body->position += n;
        return static_cast<uint32_t>(n);
    };
    ops.http_close = [](plat_http http) { delete static_cast<fake_body*>(http); };
    ops.reg_create_key = [](plat_reg_key parent, const char* subkey, plat_reg_key* out) {
        std::string path = parent ? static_cast<fake_key*>(parent)->path + "\\" + subkey : std::string(subkey);
        if (g_fake->fail_reg_create && g_fake->fail_reg_create(path)) return false;
        g_fake->registry[path];
        *out = new fake_key{path};
        return true;
    };
    ops.reg_set_string = [](plat_reg_key key, const char* name, const char* data, uint32_t stored_length) {
        g_fake->registry[static_cast<fake_key*>(key)->path][name ? name : ""] = std::string(data, stored_length);
        return true;
    };
    ops.reg_close_key = [](plat_reg_key key) { delete static_cast<fake_key*>(key); };
    ops.open_file_dialog = [](const plat_file_dialog& dialog, char* file, uint32_t size) {
        const char* end = dialog.filter;
        while (*end) end += std::strlen(end) + 1;  // pairs of texts up to the empty one
        g_fake->dialogs.push_back({std::string(dialog.filter, static_cast<size_t>(end - dialog.filter) + 1),
                                   dialog.title, dialog.flags, size});
        if (g_fake->dialog_answer.empty() || g_fake->dialog_answer.size() >= size) return false;
        std::memcpy(file, g_fake->dialog_answer.c_str(), g_fake->dialog_answer.size() + 1);
        return true;
    };
    ops.lock_enter = [](plat_lock* lock) {
        ++g_fake->lock_enters;
        plat_native_ops().lock_enter(lock);
    };
    ops.lock_leave = [](plat_lock* lock) {
        if (lock == &g_splash.lock && !g_fake->run_threads &&
            (g_fake->splash_lines.empty() || g_fake->splash_lines.back() != g_splash.line))
            g_fake->splash_lines.push_back(g_splash.line);
        plat_native_ops().lock_leave(lock);
    };
    ops.lock_retire = [](plat_lock* lock) {
        ++g_fake->lock_retires;
        plat_native_ops().lock_retire(lock);
    };
    ops.thread_start = [](plat_thread_main main, void* parameter) -> plat_thread {
        auto thread = std::make_unique<Thread>(Thread{main, parameter});
        if (g_fake->run_threads && !(thread->real = plat_native_ops().thread_start(main, parameter))) return nullptr;
        g_fake->threads.push_back(std::move(thread));
        return g_fake->threads.back().get();
    };
    ops.thread_wait = [](plat_thread handle, uint32_t ms) {
        g_fake->thread_waits.push_back(ms);
        g_fake->sleeps_before_thread_wait.push_back(g_fake->sleeps.size());
        auto* thread = static_cast<Thread*>(handle);
        return !thread->real || plat_native_ops().thread_wait(thread->real, ms);
    };
    ops.thread_close = [](plat_thread handle) {
        auto* thread = static_cast<Thread*>(handle);
        if (!thread) return;
        thread->closed = true;
        if (thread->real) plat_native_ops().thread_close(thread->real);
    };
    plat_install_ops(&ops);
}

// A run that ended on an error leaves its splash up, as the process end would
// take it down; here the next test must find no splash.
FakePlatform::~FakePlatform() {
    auto running = [](const std::unique_ptr<Thread>& t) { return t->real && !t->closed; };
    if (std::any_of(threads.begin(), threads.end(), running)) g_splash.active.store(0);
    for (auto& t : threads) {
        if (!running(t)) continue;
        plat_native_ops().thread_wait(t->real, 60000);
        plat_native_ops().thread_close(t->real);
        t->closed = true;
    }
    auto is_splash = [](const std::unique_ptr<Thread>& t) { return t.get() == g_splash.thread; };
    if (g_splash.thread && std::any_of(threads.begin(), threads.end(), is_splash)) splash_state_clear();
    plat_install_ops(nullptr);
    g_fake = nullptr;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string& path) { fs::create_directories(path); }

std::map<std::string, std::string> files_below(const std::string& root, bool dirs) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it)
        if (dirs || it->is_regular_file())
            files[fs::relative(it->path(), root).string()] =
                it->is_directory() ? "<dir>" : read_file(it->path().string());
    return files;
}

std::vector<char*> argv_of(std::vector<std::string>& args) {
    args.insert(args.begin(), "Pelko-Setup.exe");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    return argv;
}

std::string upper_case(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string usable_rom(size_t size) {
    std::string rom(size, '\x11');
    rom[0x15C] = '\x56';
    rom[0x15D] = '\xCF';
    return rom;
}

std::string digest_of(const std::string& path) {
    char hex[kDigestTextSize] = "";
    sha256_file_hex(path.c_str(), hex);
    return hex;
}

void LauncherTest::SetUp() {
    splash_state_clear();
    fake.env["VELA_HOME"] = tmp.win("home");
    fake.local_appdata = tmp.at("appdata");
    fake.temp_dir = tmp.at("temp") + "/";
    make_dirs(tmp.at("appdata"));
    make_dirs(tmp.at("temp"));
}

void LauncherTest::TearDown() { g_splash.active.store(0); }

std::string LauncherTest::game_dir(const std::string& version) const {
    return fake.env.at("VELA_HOME") + "\\app." + version + "\\kestrel-core";
}

void LauncherTest::install(const std::string& version, const std::map<std::string, std::string>& files) {
    std::string game = home + "/app." + version + "/kestrel-core/";
    write_file(game + "Pelko.exe", "game " + version);
    write_file(game + "version.txt", version + "\n");
    write_file(game + "patched.nds", usable_rom(512));
    for (const auto& [name, content] : files) write_file(game + name, content);
    write_file(home + "/version.txt", version + "\n");
    write_file(home + "/current.txt", game_dir(version));
}

std::string LauncherTest::publish(const std::string& version, const std::map<std::string, std::string>& files) {
    const std::string folder = tmp.at("release-" + version), archive = tmp.at("pelko-" + version + ".zip");
    for (const auto& [name, content] : files) write_file(folder + "/" + name, content);
    std::remove(archive.c_str());
    EXPECT_EQ(std::system(("cd '" + folder + "' && zip -qrX '" + archive + "' .").c_str()), 0);
    const std::string url = std::string(kSite) + "/pelko-" + version + ".zip";
    fake.site[url] = read_file(archive);
    std::string manifest = "{\"version\": \"" + version + "\", \"windows\": {\"url\": \"" + url + "\", \"sha256\": \"" +
                           digest_of(archive) + "\"}}";
    fake.site[std::string(kSite) + "/manifest.json"] = manifest;
    fake.env["PELKO_UPDATE_BASE"] = kSite;
    return manifest;
}

void LauncherTest::move_home(const std::string& name) {
    home = tmp.at(name);
    fake.env["VELA_HOME"] = tmp.win(name);
}

int LauncherTest::run(std::vector<std::string> args) {
    std::vector<char*> argv = argv_of(args);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int code = run_launcher(static_cast<int>(argv.size()), argv.data(), *keys);
    err = testing::internal::GetCapturedStderr();
    log = testing::internal::GetCapturedStdout();
    return code;
}

void show_splash() {
    splash_state_clear();
    plat_lock_init(&g_splash.lock);
    g_splash.active.store(1);
}
