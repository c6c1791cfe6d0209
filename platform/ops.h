// The table behind platform.h. The product and the native build install their
// own layer's table; a test copies it, replaces the entries it needs (a locked
// copy, a failed move, a recorded sleep, a fake process start) and installs the
// copy for the length of the test.
#pragma once

#include "platform/platform.h"

struct plat_ops {
    FILE* (*fopen)(const char* path, const char* mode);
    int (*mkdir)(const char* path);
    bool (*copy_file)(const char* from, const char* to, bool fail_if_exists);
    bool (*move_file)(const char* from, const char* to);
    bool (*move_file_replace)(const char* from, const char* to);
    bool (*move_file_write_through)(const char* from, const char* to);
    bool (*flush_to_disk)(FILE* file);
    bool (*disk_free)(const char* directory, uint64_t* bytes);
    bool (*delete_file)(const char* path);
    bool (*remove_directory)(const char* path);
    uint32_t (*get_file_attributes)(const char* path);
    bool (*set_file_attributes)(const char* path, uint32_t attributes);
    plat_find_handle (*find_first)(const char* pattern, plat_find_data* out);
    bool (*find_next)(plat_find_handle find, plat_find_data* out);
    void (*find_close)(plat_find_handle find);

    uint32_t (*temp_path)(char* buffer, uint32_t size);
    bool (*local_appdata)(char* buffer);
    uint32_t (*module_path)(char* buffer, uint32_t size);
    uint32_t (*module_path_wide)(char16_t* buffer, uint32_t size);
    int (*wide_to_utf8)(const char16_t* in, int in_length, char* out, int out_size);
    int (*utf8_to_wide)(const char* in, int in_length, char16_t* out, int out_size);
    int (*legacy_ansi_to_utf8)(const char* in, char* out, int out_size);
    bool (*ecdsa_p256_verify)(const uint8_t point[64], const uint8_t digest[32], const uint8_t signature[64]);

    unsigned long (*process_id)();
    const char* (*getenv)(const char* name);
    int (*putenv)(const char* assignment);
    void (*sleep)(uint32_t milliseconds);

    plat_handle (*create_output_file)(const char* path);
    void (*close_output_file)(plat_handle file);
    bool (*start_process)(char* command_line, const plat_start_options& options, plat_process* out);
    bool (*wait_process)(const plat_process& process, uint32_t milliseconds);
    bool (*process_exit_code)(const plat_process& process, unsigned long* code);
    void (*close_process)(plat_process* process);

    void (*lock_init)(plat_lock* lock);
    void (*lock_enter)(plat_lock* lock);
    void (*lock_leave)(plat_lock* lock);
    void (*lock_retire)(plat_lock* lock);
    plat_thread (*thread_start)(plat_thread_main main, void* parameter);
    bool (*thread_wait)(plat_thread thread, uint32_t milliseconds);
    void (*thread_close)(plat_thread thread);

    plat_http (*http_open)(const plat_http_request& request);
    uint32_t (*http_read)(plat_http http, unsigned char* buffer, uint32_t size);
    void (*http_close)(plat_http http);

    bool (*reg_create_key)(plat_reg_key parent, const char* subkey, plat_reg_key* out);
    bool (*reg_set_string)(plat_reg_key key, const char* name, const char* data, uint32_t stored_length);
    void (*reg_close_key)(plat_reg_key key);

    bool (*open_file_dialog)(const plat_file_dialog& dialog, char* file, uint32_t size);

    plat_thread_main splash_thread;
    bool (*splash_post_quit)(plat_window window);
};

// The layer this build was made with (win32 or posix).
const plat_ops& plat_native_ops();

// The table in use. Installing null restores the native one.
const plat_ops& plat_current_ops();
void plat_install_ops(const plat_ops* ops);
