#include "support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "splash/splash_state.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pelko-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) std::abort();
    path_ = buffer.data();
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
    for (char& c : tail)
        if (c == '/') c = '\\';
    return path_ + "\\" + tail;
}

namespace {

FakePlatform* g_fake = nullptr;

std::string text(const char* p) { return p ? p : ""; }

FILE* fake_fopen(const char* path, const char* mode) {
    if (g_fake->fail_fopen && g_fake->fail_fopen(text(path), text(mode))) return nullptr;
    return plat_native_ops().fopen(path, mode);
}

bool fake_copy_file(const char* from, const char* to, bool fail_if_exists) {
    if (g_fake->fail_copy && g_fake->fail_copy(text(from), text(to))) return false;
    return plat_native_ops().copy_file(from, to, fail_if_exists);
}

bool fake_move_file(const char* from, const char* to) {
    if (g_fake->fail_move && g_fake->fail_move(text(from), text(to))) return false;
    return plat_native_ops().move_file(from, to);
}

bool fake_move_file_replace(const char* from, const char* to) {
    if (g_fake->fail_move && g_fake->fail_move(text(from), text(to))) return false;
    return plat_native_ops().move_file_replace(from, to);
}

bool fake_delete_file(const char* path) {
    if (g_fake->fail_delete && g_fake->fail_delete(text(path))) return false;
    return plat_native_ops().delete_file(path);
}

bool fake_local_appdata(char* buffer) {
    std::snprintf(buffer, 260, "%s", g_fake->local_appdata.c_str());
    return true;
}

uint32_t fake_module_path(char* buffer, uint32_t size) {
    if (g_fake->module_path_fails || size == 0) return 0;
    const std::string& p = g_fake->module_path;
    if (p.size() + 1 > size) {
        std::memcpy(buffer, p.data(), size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, p.c_str(), p.size() + 1);
    return static_cast<uint32_t>(p.size());
}

uint32_t fake_module_path_wide(char16_t* buffer, uint32_t size) {
    if (g_fake->module_path_fails || size == 0) return 0;
    std::vector<char16_t> wide(g_fake->module_path.size() * 2 + 2);
    int n = plat_native_ops().utf8_to_wide(g_fake->module_path.c_str(), -1, wide.data(),
                                           static_cast<int>(wide.size()));
    if (n <= 0) return 0;
    uint32_t length = static_cast<uint32_t>(n - 1);
    if (length + 1 > size) {
        std::memcpy(buffer, wide.data(), (size - 1) * sizeof(char16_t));
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, wide.data(), (length + 1) * sizeof(char16_t));
    return length;
}

unsigned long fake_process_id() { return g_fake->pid; }

const char* fake_getenv(const char* name) {
    g_fake->getenv_reads.push_back(name);
    auto it = g_fake->env.find(name);
    return it == g_fake->env.end() ? nullptr : it->second.c_str();
}

int fake_putenv(const char* assignment) {
    std::string a = assignment;
    g_fake->putenvs.push_back(a);
    size_t eq = a.find('=');
    if (eq != std::string::npos) g_fake->env[a.substr(0, eq)] = a.substr(eq + 1);
    return 0;
}

void fake_sleep(uint32_t ms) { g_fake->sleeps.push_back(ms); }

plat_handle fake_create_output_file(const char* path) {
    if (g_fake->fail_create_output && g_fake->fail_create_output(text(path))) return nullptr;
    return plat_native_ops().create_output_file(path);
}

bool fake_start_process(char* command_line, const plat_start_options& options, plat_process* out) {
    g_fake->started.push_back({command_line, options});
    if (!g_fake->start_succeeds) return false;
    out->process = reinterpret_cast<plat_handle>(0x1234);
    out->thread = reinterpret_cast<plat_handle>(0x5678);
    return true;
}

bool fake_wait_process(const plat_process&, uint32_t ms) {
    g_fake->sleeps.push_back(ms);
    return g_fake->wait_succeeds;
}

bool fake_process_exit_code(const plat_process&, unsigned long* code) {
    *code = g_fake->exit_code;
    return true;
}

void fake_close_process(plat_process* p) { p->process = p->thread = nullptr; }

void fake_lock_enter(plat_lock* lock) {
    ++g_fake->lock_enters;
    plat_native_ops().lock_enter(lock);
}

uint32_t fake_temp_path(char* buffer, uint32_t size) {
    if (g_fake->temp_dir.empty()) return plat_native_ops().temp_path(buffer, size);
    return static_cast<uint32_t>(std::snprintf(buffer, size, "%s", g_fake->temp_dir.c_str()));
}

std::string utf8_of(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) out += static_cast<char>(*text < 0x80 ? *text : '?');
    return out;
}

plat_http fake_http_open(const plat_http_request& request) {
    FakePlatform::HttpRequest seen{utf8_of(request.host), request.port, utf8_of(request.object), request.secure,
                                   utf8_of(request.user_agent)};
    g_fake->http_requests.push_back(seen);
    if (seen.host != "127.0.0.1") return nullptr;
    return plat_native_ops().http_open(request);
}

struct FakeKey {
    std::string path;
};

bool fake_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out) {
    std::string path = parent ? static_cast<FakeKey*>(parent)->path + "\\" + subkey : std::string(subkey);
    if (g_fake->fail_reg_create && g_fake->fail_reg_create(path)) return false;
    g_fake->registry[path];
    *out = new FakeKey{path};
    return true;
}

bool fake_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length) {
    g_fake->registry[static_cast<FakeKey*>(key)->path][name ? name : ""] = std::string(data, stored_length);
    return true;
}

void fake_reg_close_key(plat_reg_key key) { delete static_cast<FakeKey*>(key); }

bool fake_open_file_dialog(const plat_file_dialog& dialog, char* file, uint32_t size) {
    const char* end = dialog.filter;
    while (*end) end += std::strlen(end) + 1;  // pairs of texts up to the empty one
    g_fake->dialogs.push_back({std::string(dialog.filter, static_cast<size_t>(end - dialog.filter) + 1),
                               dialog.title, dialog.flags, size});
    if (g_fake->dialog_answer.empty() || g_fake->dialog_answer.size() >= size) return false;
    std::memcpy(file, g_fake->dialog_answer.c_str(), g_fake->dialog_answer.size() + 1);
    return true;
}

void fake_lock_retire(plat_lock* lock) {
    ++g_fake->lock_retires;
    plat_native_ops().lock_retire(lock);
}

plat_thread fake_thread_start(plat_thread_main main, void* parameter) {
    auto thread = std::make_unique<FakePlatform::Thread>();
    thread->main = main;
    thread->parameter = parameter;
    if (g_fake->run_threads) {
        thread->real = plat_native_ops().thread_start(main, parameter);
        if (!thread->real) return nullptr;
    }
    g_fake->threads.push_back(std::move(thread));
    return g_fake->threads.back().get();
}

bool fake_thread_wait(plat_thread handle, uint32_t ms) {
    g_fake->thread_waits.push_back(ms);
    g_fake->sleeps_before_thread_wait.push_back(g_fake->sleeps.size());
    auto* thread = static_cast<FakePlatform::Thread*>(handle);
    if (!thread->real) return g_fake->threads_end_in_time;
    return plat_native_ops().thread_wait(thread->real, ms);
}

void fake_thread_close(plat_thread handle) {
    auto* thread = static_cast<FakePlatform::Thread*>(handle);
    if (!thread) return;
    thread->closed = true;
    if (thread->real) plat_native_ops().thread_close(thread->real);
}

bool is_fake_thread(plat_thread handle) {
    for (auto& t : g_fake->threads)
        if (t.get() == handle) return true;
    return false;
}

}  // namespace

void FakePlatform::release_threads() {
    for (auto& t : threads)
        if (!t->real && !t->closed) t->real = plat_native_ops().thread_start(t->main, t->parameter);
}

FakePlatform::FakePlatform() : ops(plat_native_ops()) {
    g_fake = this;
    ops.fopen = fake_fopen;
    ops.copy_file = fake_copy_file;
    ops.move_file = fake_move_file;
    ops.move_file_replace = fake_move_file_replace;
    ops.delete_file = fake_delete_file;
    ops.local_appdata = fake_local_appdata;
    ops.module_path = fake_module_path;
    ops.module_path_wide = fake_module_path_wide;
    ops.process_id = fake_process_id;
    ops.getenv = fake_getenv;
    ops.putenv = fake_putenv;
    ops.sleep = fake_sleep;
    ops.create_output_file = fake_create_output_file;
    ops.start_process = fake_start_process;
    ops.wait_process = fake_wait_process;
    ops.process_exit_code = fake_process_exit_code;
    ops.close_process = fake_close_process;
    ops.lock_enter = fake_lock_enter;
    ops.temp_path = fake_temp_path;
    ops.http_open = fake_http_open;
    ops.reg_create_key = fake_reg_create_key;
    ops.reg_set_string = fake_reg_set_string;
    ops.reg_close_key = fake_reg_close_key;
    ops.open_file_dialog = fake_open_file_dialog;
    ops.lock_retire = fake_lock_retire;
    ops.thread_start = fake_thread_start;
    ops.thread_wait = fake_thread_wait;
    ops.thread_close = fake_thread_close;
    plat_install_ops(&ops);
}

// A run that ended on an error leaves its splash up, as the process end would
// take it down; here the next test must find no splash.
FakePlatform::~FakePlatform() {
    bool running = false;
    for (auto& t : threads) running = running || (t->real && !t->closed);
    if (running) g_splash.active.store(0);
    for (auto& t : threads) {
        if (!t->real || t->closed) continue;
        plat_native_ops().thread_wait(t->real, 60000);
        plat_native_ops().thread_close(t->real);
        t->closed = true;
    }
    if (g_splash.thread && is_fake_thread(g_splash.thread)) splash_state_clear();
    plat_install_ops(nullptr);
    g_fake = nullptr;
}

uint32_t FakePlatform::total_sleep() const {
    uint32_t total = 0;
    for (uint32_t s : sleeps) total += s;
    return total;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string& path) { fs::create_directories(path); }

void write_usable_rom(const std::string& path) {
    std::string rom(512, '\0');
    rom[0x15C] = static_cast<char>(0x56);
    rom[0x15D] = static_cast<char>(0xCF);
    write_file(path, rom);
}
