// The one seam between the launcher and the operating system.
//
// Everything the run sequence, the services, the codecs and the splash need
// from the OS is declared here, named for what it does. Two implementations
// exist: platform/win32 (the product, built on the Windows calls named beside
// each operation) and platform/posix (Linux, so that the same core runs
// natively under unit tests, sanitizers and fuzzers).
//
// Paths are narrow texts. The core composes them with backslashes; the posix
// layer turns each backslash into a slash at this boundary, and gives the
// Windows semantics written below (replace vs no replace, case-insensitive
// patterns, listings sorted as NTFS lists them).
//
// Every call goes through a table of functions (platform/ops.h) that tests may
// swap for a double, to answer or fail any single call.
#pragma once

#include <cstdint>
#include <cstdio>

// File attribute bits, with the values Windows reports.
constexpr uint32_t PLAT_ATTR_READONLY = 0x1;
constexpr uint32_t PLAT_ATTR_HIDDEN = 0x2;
constexpr uint32_t PLAT_ATTR_DIRECTORY = 0x10;
constexpr uint32_t PLAT_ATTR_NORMAL = 0x80;
constexpr uint32_t PLAT_ATTR_REPARSE_POINT = 0x400;
constexpr uint32_t PLAT_INVALID_ATTRIBUTES = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// Files and directories

// fopen with the C runtime's modes. Text modes ("w", "r") store "\n" as CR LF
// on Windows and as LF elsewhere.
FILE* plat_fopen(const char* path, const char* mode);

// _mkdir: creates one directory level. 0 on success, -1 on failure (it exists,
// or its parent does not).
int plat_mkdir(const char* path);

// CopyFileA. With fail_if_exists the copy fails when the target exists;
// without it an existing file is replaced. A directory is never a source.
bool plat_copy_file(const char* from, const char* to, bool fail_if_exists);

// MoveFileA: rename without replacing; fails when the target exists. Works for
// directories too.
bool plat_move_file(const char* from, const char* to);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING: replaces an existing file (not a
// directory).
bool plat_move_file_replace(const char* from, const char* to);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: as
// plat_move_file_replace, and returns only once the move is on the disk.
bool plat_move_file_write_through(const char* from, const char* to);

// fflush, then _commit on the stream's descriptor: true once everything
// written to the stream is on the disk.
bool plat_flush_to_disk(FILE* file);

// GetDiskFreeSpaceExA on a directory: the bytes this user may still write to
// its volume. False when it cannot be asked.
bool plat_disk_free(const char* directory, uint64_t* bytes);

// DeleteFileA: removes a file; fails on a directory or a missing path.
bool plat_delete_file(const char* path);

// RemoveDirectoryA: removes an empty directory, or a directory link itself
// (never its target); fails on a directory that still has entries.
bool plat_remove_directory(const char* path);

// GetFileAttributesA: PLAT_INVALID_ATTRIBUTES when nothing exists at path.
uint32_t plat_get_file_attributes(const char* path);

// SetFileAttributesA.
bool plat_set_file_attributes(const char* path, uint32_t attributes);

// Directory listing: FindFirstFileA / FindNextFileA / FindClose. A pattern is a
// directory, a backslash and a name pattern with * and ? ("C:\x\app.*"),
// matched without regard to case; "name.*" also matches a bare "name". A "*"
// listing includes "." and "..".
struct plat_find_data {
    char name[260];
    uint32_t attributes;
};
using plat_find_handle = void*;

// Null when the listing cannot start (no such directory, nothing matches).
plat_find_handle plat_find_first(const char* pattern, plat_find_data* out);
// False when there are no more entries.
bool plat_find_next(plat_find_handle find, plat_find_data* out);
void plat_find_close(plat_find_handle find);

// ---------------------------------------------------------------------------
// Where things are

// GetTempPathA: the temporary folder, ending in a separator. Returns its length
// (0 on failure).
uint32_t plat_temp_path(char* buffer, uint32_t size);

// SHGetFolderPathA(CSIDL_LOCAL_APPDATA, without creating it, current path)
// into a buffer of at least 260 bytes. False on failure (the buffer then holds
// an empty text).
bool plat_local_appdata(char* buffer);

// GetModuleFileNameA for the running executable: the length copied, 0 on
// failure; size when the path was cut to fit.
uint32_t plat_module_path(char* buffer, uint32_t size);

// GetModuleFileNameW, the same in UTF-16 code units.
uint32_t plat_module_path_wide(char16_t* buffer, uint32_t size);

// WideCharToMultiByte(CP_UTF8) and MultiByteToWideChar(CP_UTF8). in_length -1
// means "up to and including the NUL". Returns the units written, 0 when the
// conversion failed or did not fit.
int plat_wide_to_utf8(const char16_t* in, int in_length, char* out, int out_size);
int plat_utf8_to_wide(const char* in, int in_length, char16_t* out, int out_size);

// Text in the system's legacy ANSI code page (the system locale's; the
// process's own code page is UTF-8) converted to UTF-8, with its NUL, into
// out_size bytes: MultiByteToWideChar then WideCharToMultiByte(CP_UTF8). Returns
// the bytes written, 0 when the conversion failed or did not fit.
int plat_legacy_ansi_to_utf8(const char* in, char* out, int out_size);

// Whether signature (r then s, 32 bytes each) is a valid ECDSA P-256
// signature of the SHA-256 digest by the key whose public point (X then Y) is
// given: BCryptImportKeyPair (BCRYPT_ECCPUBLIC_BLOB) and BCryptVerifySignature,
// with bcrypt.dll from the system folder only.
bool plat_ecdsa_p256_verify(const uint8_t point[64], const uint8_t digest[32], const uint8_t signature[64]);

// ---------------------------------------------------------------------------
// This process

unsigned long plat_process_id();

// getenv: null when the variable does not exist; "" when it exists empty.
const char* plat_getenv(const char* name);

// _putenv with a "NAME=value" text that stays valid for the rest of the run.
int plat_putenv(const char* assignment);

// Sleep. Every wait of the launcher goes through here.
void plat_sleep(uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Other processes

using plat_handle = void*;

// CreateFileA(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, inheritable,
// CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL). Null on failure.
plat_handle plat_create_output_file(const char* path);
// CloseHandle on a handle from plat_create_output_file. Null is ignored.
void plat_close_output_file(plat_handle file);

struct plat_process {
    plat_handle process;
    plat_handle thread;
};

struct plat_start_options {
    bool inherit_handles;  // bInheritHandles
    bool no_window;        // CREATE_NO_WINDOW (0x08000000)
    plat_handle output;    // when set: stdout and stderr go here, stdin is ours
};

// CreateProcessA with no application name: the program is the first word of
// the command line (which may be modified in place, as Windows allows), in the
// launcher's environment and current directory. False when it cannot start.
bool plat_start_process(char* command_line, const plat_start_options& options, plat_process* out);

// WaitForSingleObject: true when the process ended within the time.
bool plat_wait_process(const plat_process& process, uint32_t milliseconds);

// GetExitCodeProcess: false when the query fails.
bool plat_process_exit_code(const plat_process& process, unsigned long* code);

// CloseHandle on both handles; clears them.
void plat_close_process(plat_process* process);

// ---------------------------------------------------------------------------
// Threads and locks

// A critical section (a mutex on posix), stored in place.
struct plat_lock {
    alignas(16) unsigned char opaque[64];
};
void plat_lock_init(plat_lock* lock);    // InitializeCriticalSection
void plat_lock_enter(plat_lock* lock);   // EnterCriticalSection
void plat_lock_leave(plat_lock* lock);   // LeaveCriticalSection
void plat_lock_retire(plat_lock* lock);  // DeleteCriticalSection

using plat_thread = void*;
using plat_thread_main = unsigned long (*)(void* parameter);

// CreateThread with default security and stack size, running at once. Null on
// failure.
plat_thread plat_thread_start(plat_thread_main main, void* parameter);
// WaitForSingleObject on the thread: true when it ended within the time.
bool plat_thread_wait(plat_thread thread, uint32_t milliseconds);
// CloseHandle on the thread handle.
void plat_thread_close(plat_thread thread);

// ---------------------------------------------------------------------------
// HTTP (WinHTTP)

struct plat_http_request {
    const char16_t* user_agent;
    const char16_t* host;
    uint16_t port;
    const char16_t* object;  // path and query, beginning with "/"
    bool secure;             // https
};
using plat_http = void*;

// One GET with the system's defaults for time-outs, redirects, proxies and
// certificates: WinHttpOpen (default proxy, synchronous), WinHttpConnect,
// WinHttpOpenRequest ("GET", default version, no referrer, default accept
// types, WINHTTP_FLAG_SECURE for https), WinHttpSendRequest (nothing
// added), WinHttpReceiveResponse. Null when no response arrived; the handles
// opened so far are closed. Any status code is a response.
plat_http plat_http_open(const plat_http_request& request);
// WinHttpQueryDataAvailable then WinHttpReadData of at most size bytes. 0 at
// the end of the body or when a call fails.
uint32_t plat_http_read(plat_http http, unsigned char* buffer, uint32_t size);
// Closes the request, the connection and the session.
void plat_http_close(plat_http http);

// ---------------------------------------------------------------------------
// Registry (HKEY_CURRENT_USER)

using plat_reg_key = void*;

// RegCreateKeyExA: creates or opens subkey below parent (null: the current
// user's hive) as a non-volatile key with KEY_WRITE, no security attributes.
bool plat_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out);
// RegSetValueExA with REG_SZ: name null is the unnamed value; stored_length
// counts the bytes stored, the terminating NUL included.
bool plat_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length);
// RegCloseKey.
void plat_reg_close_key(plat_reg_key key);

// ---------------------------------------------------------------------------
// The open-file dialog (GetOpenFileNameA)

struct plat_file_dialog {
    const char* filter;  // pairs of NUL-terminated texts, ending in a double NUL
    const char* title;
    uint32_t flags;  // OFN_* flags
};

// Shows the dialog with no owner window and an empty file name buffer of
// size bytes, every other field zero. True with the chosen path in file;
// false when the player cancelled or the dialog failed.
bool plat_open_file_dialog(const plat_file_dialog& dialog, char* file, uint32_t size);

// ---------------------------------------------------------------------------
// The splash window

// A window handle (HWND on Windows); null when there is none.
using plat_window = void*;

// The splash thread's procedure in this layer, for plat_thread_start. It reads
// and writes the splash state (splash/splash_state.h) and draws with
// splash_render. On Windows it owns the splash window, its 33 ms timer and
// its message loop; on posix it runs the same loop on a window that is never
// shown. Either way it clears the active flag and ends when it gets no window
// or no surface, leaves its loop on the quit message or when it finds the
// active flag cleared, and tears down what it created.
unsigned long plat_splash_thread(void* parameter);

// PostMessageA(window, WM_QUIT, 0, 0): ends the splash thread's message loop.
// False when the window no longer exists.
bool plat_splash_post_quit(plat_window window);

// Lets the compiler check printf-style formats against the C99 printf family
// this build uses (mingw's own on Windows).
#if defined(__MINGW32__)
#define PLAT_PRINTF_FORMAT(format_index, first_arg) __attribute__((format(gnu_printf, format_index, first_arg)))
#else
#define PLAT_PRINTF_FORMAT(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#endif
