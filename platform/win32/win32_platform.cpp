// The win32 layer: the product's seam, built on the narrow ("A") Windows
// functions. Each operation is a thin call; the rules around them live in the
// portable core.
#include <windows.h>
#include <direct.h>
#include <io.h>
#include <shlobj.h>
#include <commdlg.h>
#include <bcrypt.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ops.h"
#include "platform/win32/splash_window.h"
#include "platform/win32/win32_layer.h"

namespace {

constexpr int kLegacyTextSize = 2048;

FILE* win_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }

int win_mkdir(const char* path) { return _mkdir(path); }

bool win_copy_file(const char* from, const char* to, bool fail_if_exists) {
    return CopyFileA(from, to, fail_if_exists ? TRUE : FALSE) != 0;
}

bool win_move_file(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

bool win_move_file_replace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool win_move_file_write_through(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool win_flush_to_disk(FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool win_disk_free(const char* directory, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

bool win_delete_file(const char* path) { return DeleteFileA(path) != 0; }

bool win_remove_directory(const char* path) { return RemoveDirectoryA(path) != 0; }

uint32_t win_get_file_attributes(const char* path) { return GetFileAttributesA(path); }

bool win_set_file_attributes(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) != 0;
}

void copy_find_data(const WIN32_FIND_DATAA& from, plat_find_data* out) {
    static_assert(sizeof out->name == sizeof from.cFileName, "names are MAX_PATH bytes");
    std::memcpy(out->name, from.cFileName, sizeof out->name);
    out->attributes = from.dwFileAttributes;
}

plat_find_handle win_find_first(const char* pattern, plat_find_data* out) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    copy_find_data(data, out);
    return h;
}

bool win_find_next(plat_find_handle find, plat_find_data* out) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(find), &data)) return false;
    copy_find_data(data, out);
    return true;
}

void win_find_close(plat_find_handle find) { FindClose(static_cast<HANDLE>(find)); }

uint32_t win_temp_path(char* buffer, uint32_t size) { return GetTempPathA(size, buffer); }

bool win_local_appdata(char* buffer) {
    buffer[0] = 0;
    return SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer));
}

uint32_t win_module_path(char* buffer, uint32_t size) { return GetModuleFileNameA(nullptr, buffer, size); }

uint32_t win_module_path_wide(char16_t* buffer, uint32_t size) {
    static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 units");
    return GetModuleFileNameW(nullptr, reinterpret_cast<WCHAR*>(buffer), size);
}

int win_wide_to_utf8(const char16_t* in, int in_length, char* out, int out_size) {
    return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const WCHAR*>(in), in_length, out, out_size, nullptr,
                               nullptr);
}

int win_utf8_to_wide(const char* in, int in_length, char16_t* out, int out_size) {
    return MultiByteToWideChar(CP_UTF8, 0, in, in_length, reinterpret_cast<WCHAR*>(out), out_size);
}

// The system locale's ANSI code page, where records of earlier builds (which
// ran in it) were written. Wine answers only for the locale's name.
UINT legacy_code_page() {
    DWORD code_page = 0;
    const int units = sizeof code_page / sizeof(WCHAR);
    if (GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPWSTR>(&code_page), units) == 0) {
        WCHAR name[LOCALE_NAME_MAX_LENGTH];
        if (GetSystemDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0 ||
            GetLocaleInfoEx(name, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                            reinterpret_cast<LPWSTR>(&code_page), units) == 0)
            code_page = 0;
    }
    return code_page ? code_page : CP_ACP;
}

int win_legacy_ansi_to_utf8(const char* in, char* out, int out_size) {
    WCHAR wide[kLegacyTextSize];
    if (MultiByteToWideChar(legacy_code_page(), 0, in, -1, wide, kLegacyTextSize) == 0) return 0;
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, out_size, nullptr, nullptr);
}

// BCrypt is loaded from the system folder, and only by a build with release
// keys: one without imports nothing it did not before.
bool win_ecdsa_p256_verify(const uint8_t point[64], const uint8_t digest[32], const uint8_t signature[64]) {
    struct bcrypt_functions {
        decltype(&BCryptOpenAlgorithmProvider) open;
        decltype(&BCryptImportKeyPair) import;
        decltype(&BCryptVerifySignature) verify;
        decltype(&BCryptDestroyKey) destroy;
        decltype(&BCryptCloseAlgorithmProvider) close;
    };
    static bcrypt_functions f;
    static const bool loaded = [] {
        HMODULE m = load_system_library(L"bcrypt.dll");
        return find_function(m, "BCryptOpenAlgorithmProvider", &f.open) &&
               find_function(m, "BCryptImportKeyPair", &f.import) &&
               find_function(m, "BCryptVerifySignature", &f.verify) &&
               find_function(m, "BCryptDestroyKey", &f.destroy) &&
               find_function(m, "BCryptCloseAlgorithmProvider", &f.close);
    }();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!loaded || f.open(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return false;
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t point[64];
    } blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, {}};
    std::memcpy(blob.point, point, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (f.import(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0) ==
        0) {
        valid = f.verify(key, nullptr, const_cast<PUCHAR>(digest), 32, const_cast<PUCHAR>(signature), 64, 0) == 0;
        f.destroy(key);
    }
    f.close(algorithm, 0);
    return valid;
}

unsigned long win_process_id() { return GetCurrentProcessId(); }

const char* win_getenv(const char* name) { return std::getenv(name); }

int win_putenv(const char* assignment) { return _putenv(assignment); }

void win_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

plat_handle win_create_output_file(const char* path) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void win_close_output_file(plat_handle file) {
    if (file) CloseHandle(static_cast<HANDLE>(file));
}

bool win_start_process(char* command_line, const plat_start_options& options, plat_process* out) {
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (options.output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = static_cast<HANDLE>(options.output);
        si.hStdError = static_cast<HANDLE>(options.output);
    }
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    DWORD flags = options.no_window ? CREATE_NO_WINDOW : 0;
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, options.inherit_handles ? TRUE : FALSE, flags, nullptr,
                        nullptr, &si, &pi))
        return false;
    out->process = pi.hProcess;
    out->thread = pi.hThread;
    return true;
}

bool win_wait_process(const plat_process& process, uint32_t milliseconds) {
    return WaitForSingleObject(static_cast<HANDLE>(process.process), milliseconds) == WAIT_OBJECT_0;
}

bool win_process_exit_code(const plat_process& process, unsigned long* code) {
    DWORD value = 0;
    if (!GetExitCodeProcess(static_cast<HANDLE>(process.process), &value)) return false;
    *code = value;
    return true;
}

void win_close_process(plat_process* process) {
    if (process->process) CloseHandle(static_cast<HANDLE>(process->process));
    if (process->thread) CloseHandle(static_cast<HANDLE>(process->thread));
    process->process = nullptr;
    process->thread = nullptr;
}

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(plat_lock::opaque), "a critical section fits the lock");
CRITICAL_SECTION* section_of(plat_lock* lock) { return reinterpret_cast<CRITICAL_SECTION*>(lock->opaque); }
void win_lock_init(plat_lock* lock) { InitializeCriticalSection(section_of(lock)); }
void win_lock_enter(plat_lock* lock) { EnterCriticalSection(section_of(lock)); }
void win_lock_leave(plat_lock* lock) { LeaveCriticalSection(section_of(lock)); }
void win_lock_retire(plat_lock* lock) { DeleteCriticalSection(section_of(lock)); }

struct thread_start_record {
    plat_thread_main main;
    void* parameter;
};

DWORD WINAPI thread_trampoline(LPVOID raw) {
    thread_start_record start = *static_cast<thread_start_record*>(raw);
    delete static_cast<thread_start_record*>(raw);
    return static_cast<DWORD>(start.main(start.parameter));
}

plat_thread win_thread_start(plat_thread_main main, void* parameter) {
    auto* start = new (std::nothrow) thread_start_record{main, parameter};
    if (!start) return nullptr;
    HANDLE h = CreateThread(nullptr, 0, thread_trampoline, start, 0, nullptr);
    if (!h) delete start;
    return h;
}

bool win_thread_wait(plat_thread thread, uint32_t milliseconds) {
    return WaitForSingleObject(static_cast<HANDLE>(thread), milliseconds) == WAIT_OBJECT_0;
}

void win_thread_close(plat_thread thread) {
    if (thread) CloseHandle(static_cast<HANDLE>(thread));
}

bool win_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out) {
    HKEY key = nullptr;
    HKEY root = parent ? static_cast<HKEY>(parent) : HKEY_CURRENT_USER;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    *out = key;
    return true;
}

bool win_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length) {
    return RegSetValueExA(static_cast<HKEY>(key), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          stored_length) == ERROR_SUCCESS;
}

void win_reg_close_key(plat_reg_key key) { RegCloseKey(static_cast<HKEY>(key)); }

static_assert(sizeof(OPENFILENAMEA) == 152, "the full 64-bit OPENFILENAMEA");

// comdlg32 is loaded from the system folder (WinMain loads it at the start),
// not imported: under Wine its own imports bring uxtheme.dll, which would be
// looked for beside the launcher before WinMain could say where DLLs come
// from. Without it the dialog fails, as a cancelled one does.
bool win_open_file_dialog(const plat_file_dialog& dialog, char* file, uint32_t size) {
    static const auto get_open_file_name = [] {
        decltype(&GetOpenFileNameA) function;
        find_function(load_system_library(L"comdlg32.dll"), "GetOpenFileNameA", &function);
        return function;
    }();
    if (size) file[0] = 0;
    if (!get_open_file_name) return false;
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = dialog.filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = size;
    ofn.lpstrTitle = dialog.title;
    ofn.Flags = dialog.flags;
    return get_open_file_name(&ofn) != 0;
}

const plat_ops kWin32Ops = {
    win_fopen,
    win_mkdir,
    win_copy_file,
    win_move_file,
    win_move_file_replace,
    win_move_file_write_through,
    win_flush_to_disk,
    win_disk_free,
    win_delete_file,
    win_remove_directory,
    win_get_file_attributes,
    win_set_file_attributes,
    win_find_first,
    win_find_next,
    win_find_close,
    win_temp_path,
    win_local_appdata,
    win_module_path,
    win_module_path_wide,
    win_wide_to_utf8,
    win_utf8_to_wide,
    win_legacy_ansi_to_utf8,
    win_ecdsa_p256_verify,
    win_process_id,
    win_getenv,
    win_putenv,
    win_sleep,
    win_create_output_file,
    win_close_output_file,
    win_start_process,
    win_wait_process,
    win_process_exit_code,
    win_close_process,
    win_lock_init,
    win_lock_enter,
    win_lock_leave,
    win_lock_retire,
    win_thread_start,
    win_thread_wait,
    win_thread_close,
    win_http_open,
    win_http_read,
    win_http_close,
    win_reg_create_key,
    win_reg_set_string,
    win_reg_close_key,
    win_open_file_dialog,
    splash_thread_main,
    splash_post_quit,
};

}  // namespace

const plat_ops& plat_native_ops() { return kWin32Ops; }
