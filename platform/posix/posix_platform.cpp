// The posix layer: the launcher's seam on Linux, with the Windows semantics the
// core relies on. It exists so the same core runs natively under unit tests,
// sanitizers and fuzzers; it is not a product.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ops.h"
#include "platform/posix/headless_splash.h"
#include "platform/posix/utf.h"
#include "platform/posix/wildcard.h"

namespace {

// The core writes Windows paths; Linux wants slashes.
std::string native_path(const char* path) {
    std::string out = path ? path : "";
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool exists_no_follow(const std::string& path, struct stat* st) { return lstat(path.c_str(), st) == 0; }

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FILE* posix_fopen(const char* path, const char* mode) {
    std::string p = native_path(path);
    // fopen on a directory succeeds for reading on Linux; Windows refuses it.
    if (is_directory(p)) {
        errno = EISDIR;
        return nullptr;
    }
    return std::fopen(p.c_str(), mode);
}

int posix_mkdir(const char* path) { return ::mkdir(native_path(path).c_str(), 0777) == 0 ? 0 : -1; }

// A read-only file (no owner write bit) cannot be deleted, moved over or
// written, as on Windows; root would otherwise ignore the mode.
bool is_read_only(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

bool posix_copy_file(const char* from, const char* to, bool fail_if_exists) {
    std::string src = native_path(from), dst = native_path(to);
    struct stat st, dst_st;
    if (stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (exists_no_follow(dst, &dst_st)) {
        if (fail_if_exists || S_ISDIR(dst_st.st_mode) || is_read_only(dst_st)) return false;
        // A file copied onto itself is held open by the copy: Windows refuses.
        struct stat same;
        if (stat(dst.c_str(), &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino) return false;
    }
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    return ok;
}

bool posix_move_file(const char* from, const char* to) {
    std::string src = native_path(from), dst = native_path(to);
    struct stat st;
    if (!exists_no_follow(src, &st) || exists_no_follow(dst, &st)) return false;
    return ::rename(src.c_str(), dst.c_str()) == 0;
}

bool posix_move_file_replace(const char* from, const char* to) {
    std::string src = native_path(from), dst = native_path(to);
    struct stat src_st, dst_st;
    if (!exists_no_follow(src, &src_st)) return false;
    if (exists_no_follow(dst, &dst_st)) {
        if (S_ISDIR(dst_st.st_mode) || S_ISDIR(src_st.st_mode) || is_read_only(dst_st)) return false;
    }
    return ::rename(src.c_str(), dst.c_str()) == 0;
}

// A rename is atomic on posix file systems; the record it moves was already
// flushed, and the directory is synced so that the move is durable too.
bool posix_move_file_write_through(const char* from, const char* to) {
    if (!posix_move_file_replace(from, to)) return false;
    std::string dir = native_path(to);
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool posix_flush_to_disk(FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

bool posix_disk_free(const char* directory, uint64_t* bytes) {
    struct statvfs st;
    if (::statvfs(native_path(directory).c_str(), &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

bool posix_delete_file(const char* path) {
    std::string p = native_path(path);
    struct stat st;
    if (!exists_no_follow(p, &st) || S_ISDIR(st.st_mode) || is_read_only(st)) return false;
    if (S_ISLNK(st.st_mode) && is_directory(p)) return false;  // a directory link is a directory
    return ::unlink(p.c_str()) == 0;
}

bool posix_remove_directory(const char* path) {
    std::string p = native_path(path);
    struct stat st;
    if (!exists_no_follow(p, &st)) return false;
    if (S_ISLNK(st.st_mode)) return is_directory(p) && ::unlink(p.c_str()) == 0;
    return ::rmdir(p.c_str()) == 0;
}

uint32_t attributes_of(const std::string& path) {
    struct stat st;
    if (!exists_no_follow(path, &st)) return PLAT_INVALID_ATTRIBUTES;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            return PLAT_ATTR_DIRECTORY | PLAT_ATTR_REPARSE_POINT;
        return PLAT_ATTR_REPARSE_POINT | (is_read_only(target) ? PLAT_ATTR_READONLY : 0);
    }
    if (S_ISDIR(st.st_mode)) return PLAT_ATTR_DIRECTORY;
    return is_read_only(st) ? PLAT_ATTR_READONLY : PLAT_ATTR_NORMAL;
}

uint32_t posix_get_file_attributes(const char* path) { return attributes_of(native_path(path)); }

bool posix_set_file_attributes(const char* path, uint32_t attributes) {
    std::string p = native_path(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & PLAT_ATTR_READONLY) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else mode |= S_IWUSR;
    return ::chmod(p.c_str(), mode) == 0;
}

struct find_state {
    std::vector<plat_find_data> entries;
    size_t next = 0;
};

plat_find_handle posix_find_first(const char* pattern, plat_find_data* out) {
    std::string p = native_path(pattern);
    size_t slash = p.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
    std::string name_pattern = slash == std::string::npos ? p : p.substr(slash + 1);

    DIR* d = ::opendir(dir.c_str());
    if (!d) return nullptr;
    auto* state = new find_state;
    while (dirent* e = ::readdir(d)) {
        if (!windows_name_matches(name_pattern.c_str(), e->d_name)) continue;
        plat_find_data entry{};
        if (std::strlen(e->d_name) >= sizeof entry.name) continue;  // MAX_PATH: Windows never lists such names
        std::strcpy(entry.name, e->d_name);
        entry.attributes = attributes_of(dir + "/" + e->d_name);
        if (entry.attributes == PLAT_INVALID_ATTRIBUTES) continue;
        state->entries.push_back(entry);
    }
    ::closedir(d);
    // NTFS lists "." and ".." first and then by name without regard to case.
    std::sort(state->entries.begin(), state->entries.end(), [](const plat_find_data& a, const plat_find_data& b) {
        return windows_listing_order(a.name, b.name) < 0;
    });
    if (state->entries.empty()) {
        delete state;
        return nullptr;
    }
    *out = state->entries[state->next++];
    return state;
}

bool posix_find_next(plat_find_handle find, plat_find_data* out) {
    auto* state = static_cast<find_state*>(find);
    if (!state || state->next >= state->entries.size()) return false;
    *out = state->entries[state->next++];
    return true;
}

void posix_find_close(plat_find_handle find) { delete static_cast<find_state*>(find); }

uint32_t copy_out(const std::string& text, char* buffer, uint32_t size) {
    if (text.size() + 1 > size) return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

uint32_t posix_temp_path(char* buffer, uint32_t size) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    if (dir.back() != '/') dir += '/';
    return copy_out(dir, buffer, size);
}

bool posix_local_appdata(char* buffer) {
    buffer[0] = 0;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string dir;
    if (xdg && *xdg) dir = xdg;
    else if (home && *home) dir = std::string(home) + "/.local/share";
    else return false;
    return copy_out(dir, buffer, 260) != 0;
}

std::string executable_path() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    return std::string(path, static_cast<size_t>(n));
}

// GetModuleFileName cuts a path that does not fit and returns the size.
uint32_t posix_module_path(char* buffer, uint32_t size) {
    std::string path = executable_path();
    if (path.empty() || size == 0) return 0;
    if (path.size() + 1 > size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<uint32_t>(path.size());
}

uint32_t posix_module_path_wide(char16_t* buffer, uint32_t size) {
    std::string path = executable_path();
    if (path.empty() || size == 0) return 0;
    std::u16string wide = utf8_to_utf16(path);
    if (wide.size() + 1 > size) {
        std::memcpy(buffer, wide.data(), (size - 1) * sizeof(char16_t));
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

// Natively the legacy code page is ISO 8859-1: every byte is the code point
// of its value.
int posix_legacy_ansi_to_utf8(const char* in, char* out, int out_size) {
    std::string utf8;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in); *p; ++p) {
        if (*p < 0x80) utf8 += static_cast<char>(*p);
        else utf8 += {static_cast<char>(0xC0 | (*p >> 6)), static_cast<char>(0x80 | (*p & 0x3F))};
    }
    if (static_cast<int>(utf8.size()) >= out_size) return 0;
    std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return static_cast<int>(utf8.size() + 1);
}

// libcrypto stands in for BCrypt: the key as a DER SubjectPublicKeyInfo (the
// fixed P-256 prefix, then the point), the signature as DER.
bool posix_ecdsa_p256_verify(const uint8_t point[64], const uint8_t digest[32], const uint8_t signature[64]) {
    static const uint8_t kP256Prefix[27] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
    uint8_t spki[sizeof kP256Prefix + 64];
    std::memcpy(spki, kP256Prefix, sizeof kP256Prefix);
    std::memcpy(spki + sizeof kP256Prefix, point, 64);
    const uint8_t* cursor = spki;
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &cursor, sizeof spki);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    unsigned char* der = nullptr;
    int der_length = -1;
    if (sig && ECDSA_SIG_set0(sig, BN_bin2bn(signature, 32, nullptr), BN_bin2bn(signature + 32, 32, nullptr)) == 1)
        der_length = i2d_ECDSA_SIG(sig, &der);
    EVP_PKEY_CTX* context = key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    const bool valid = context && der_length > 0 && EVP_PKEY_verify_init(context) == 1 &&
                       EVP_PKEY_verify(context, der, static_cast<size_t>(der_length), digest, 32) == 1;
    EVP_PKEY_CTX_free(context);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    return valid;
}

unsigned long posix_process_id() { return static_cast<unsigned long>(::getpid()); }

const char* posix_getenv(const char* name) { return std::getenv(name); }

int posix_putenv(const char* assignment) { return ::putenv(const_cast<char*>(assignment)); }

void posix_sleep(uint32_t milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

// Handles carry a file descriptor plus one, so that null means "none".
plat_handle fd_handle(int fd) { return reinterpret_cast<plat_handle>(static_cast<intptr_t>(fd) + 1); }
int handle_fd(plat_handle h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

plat_handle posix_create_output_file(const char* path) {
    std::string p = native_path(path);
    if (is_directory(p)) return nullptr;
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    return fd < 0 ? nullptr : fd_handle(fd);
}

void posix_close_output_file(plat_handle file) {
    if (file) ::close(handle_fd(file));
}

// Nothing here starts a program, fetches a URL or writes a registry: the
// native build runs the core under tests, which answer those calls through a
// double (real processes, downloads and keys are tested on Windows). Without
// one, a program does not start and a URL gets no response.
bool posix_start_process(char*, const plat_start_options&, plat_process*) { return false; }
bool posix_wait_process(const plat_process&, uint32_t) { return false; }
bool posix_process_exit_code(const plat_process&, unsigned long*) { return false; }
void posix_close_process(plat_process* process) { process->process = process->thread = nullptr; }

plat_http posix_http_open(const plat_http_request&) { return nullptr; }
uint32_t posix_http_read(plat_http, unsigned char*, uint32_t) { return 0; }
void posix_http_close(plat_http) {}

bool posix_reg_create_key(plat_reg_key, const char*, plat_reg_key*) { return false; }
bool posix_reg_set_string(plat_reg_key, const char*, const char*, uint32_t) { return false; }
void posix_reg_close_key(plat_reg_key) {}

static_assert(sizeof(pthread_mutex_t) <= sizeof(plat_lock::opaque), "a mutex fits the lock");
pthread_mutex_t* mutex_of(plat_lock* lock) { return reinterpret_cast<pthread_mutex_t*>(lock->opaque); }
void posix_lock_init(plat_lock* lock) { pthread_mutex_init(mutex_of(lock), nullptr); }
void posix_lock_enter(plat_lock* lock) { pthread_mutex_lock(mutex_of(lock)); }
void posix_lock_leave(plat_lock* lock) { pthread_mutex_unlock(mutex_of(lock)); }
void posix_lock_retire(plat_lock* lock) { pthread_mutex_destroy(mutex_of(lock)); }

// A thread and whether it has ended, so that a wait can time out.
struct thread_state {
    pthread_t id;
    plat_thread_main main;
    void* parameter;
    pthread_mutex_t mutex;
    pthread_cond_t ended_signal;
    bool ended;
    bool closed;  // the handle was closed while the thread ran: it frees this record itself
};

void free_thread_state(thread_state* t) {
    pthread_cond_destroy(&t->ended_signal);
    pthread_mutex_destroy(&t->mutex);
    delete t;
}

void* thread_trampoline(void* raw) {
    auto* t = static_cast<thread_state*>(raw);
    t->main(t->parameter);
    pthread_mutex_lock(&t->mutex);
    t->ended = true;
    bool closed = t->closed;
    pthread_cond_broadcast(&t->ended_signal);
    pthread_mutex_unlock(&t->mutex);
    if (closed) free_thread_state(t);
    return nullptr;
}

plat_thread posix_thread_start(plat_thread_main main, void* parameter) {
    auto* t = new thread_state{};
    t->main = main;
    t->parameter = parameter;
    pthread_mutex_init(&t->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&t->ended_signal, &attr);
    pthread_condattr_destroy(&attr);
    if (pthread_create(&t->id, nullptr, thread_trampoline, t) != 0) {
        pthread_cond_destroy(&t->ended_signal);
        pthread_mutex_destroy(&t->mutex);
        delete t;
        return nullptr;
    }
    return t;
}

bool posix_thread_wait(plat_thread thread, uint32_t milliseconds) {
    auto* t = static_cast<thread_state*>(thread);
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&t->mutex);
    while (!t->ended)
        if (pthread_cond_timedwait(&t->ended_signal, &t->mutex, &deadline) == ETIMEDOUT) break;
    bool ended = t->ended;
    pthread_mutex_unlock(&t->mutex);
    return ended;
}

// Closing the handle of a thread that still runs leaves it running, as on
// Windows: it is detached, and frees its record when it ends.
void posix_thread_close(plat_thread thread) {
    auto* t = static_cast<thread_state*>(thread);
    if (!t) return;
    pthread_mutex_lock(&t->mutex);
    bool ended = t->ended;
    if (!ended) {
        t->closed = true;
        pthread_detach(t->id);
    }
    pthread_mutex_unlock(&t->mutex);
    if (!ended) return;
    pthread_join(t->id, nullptr);
    free_thread_state(t);
}

// There is no dialog natively: the player always "cancels".
bool posix_open_file_dialog(const plat_file_dialog&, char* file, uint32_t size) {
    if (size) file[0] = 0;
    return false;
}

const plat_ops kPosixOps = {
    posix_fopen,
    posix_mkdir,
    posix_copy_file,
    posix_move_file,
    posix_move_file_replace,
    posix_move_file_write_through,
    posix_flush_to_disk,
    posix_disk_free,
    posix_delete_file,
    posix_remove_directory,
    posix_get_file_attributes,
    posix_set_file_attributes,
    posix_find_first,
    posix_find_next,
    posix_find_close,
    posix_temp_path,
    posix_local_appdata,
    posix_module_path,
    posix_module_path_wide,
    windows_wide_to_utf8,
    windows_utf8_to_wide,
    posix_legacy_ansi_to_utf8,
    posix_ecdsa_p256_verify,
    posix_process_id,
    posix_getenv,
    posix_putenv,
    posix_sleep,
    posix_create_output_file,
    posix_close_output_file,
    posix_start_process,
    posix_wait_process,
    posix_process_exit_code,
    posix_close_process,
    posix_lock_init,
    posix_lock_enter,
    posix_lock_leave,
    posix_lock_retire,
    posix_thread_start,
    posix_thread_wait,
    posix_thread_close,
    posix_http_open,
    posix_http_read,
    posix_http_close,
    posix_reg_create_key,
    posix_reg_set_string,
    posix_reg_close_key,
    posix_open_file_dialog,
    headless_splash_thread_main,
    headless_splash_post_quit,
};

}  // namespace

const plat_ops& plat_native_ops() { return kPosixOps; }
