// Forwards every platform.h call to the installed table.
#include "platform/ops.h"

namespace {
const plat_ops* g_ops = nullptr;

const plat_ops& ops() { return g_ops ? *g_ops : plat_native_ops(); }
}  // namespace

const plat_ops& plat_current_ops() { return ops(); }
void plat_install_ops(const plat_ops* table) { g_ops = table; }

FILE* plat_fopen(const char* path, const char* mode) { return ops().fopen(path, mode); }
int plat_mkdir(const char* path) { return ops().mkdir(path); }
bool plat_copy_file(const char* from, const char* to, bool fail_if_exists) {
    return ops().copy_file(from, to, fail_if_exists);
}
bool plat_move_file(const char* from, const char* to) { return ops().move_file(from, to); }
bool plat_move_file_replace(const char* from, const char* to) { return ops().move_file_replace(from, to); }
bool plat_move_file_write_through(const char* from, const char* to) { return ops().move_file_write_through(from, to); }
bool plat_flush_to_disk(FILE* file) { return ops().flush_to_disk(file); }
bool plat_disk_free(const char* directory, uint64_t* bytes) { return ops().disk_free(directory, bytes); }
bool plat_delete_file(const char* path) { return ops().delete_file(path); }
bool plat_remove_directory(const char* path) { return ops().remove_directory(path); }
uint32_t plat_get_file_attributes(const char* path) { return ops().get_file_attributes(path); }
bool plat_set_file_attributes(const char* path, uint32_t attributes) {
    return ops().set_file_attributes(path, attributes);
}
plat_find_handle plat_find_first(const char* pattern, plat_find_data* out) { return ops().find_first(pattern, out); }
bool plat_find_next(plat_find_handle find, plat_find_data* out) { return ops().find_next(find, out); }
void plat_find_close(plat_find_handle find) { ops().find_close(find); }

uint32_t plat_temp_path(char* buffer, uint32_t size) { return ops().temp_path(buffer, size); }
bool plat_local_appdata(char* buffer) { return ops().local_appdata(buffer); }
uint32_t plat_module_path(char* buffer, uint32_t size) { return ops().module_path(buffer, size); }
uint32_t plat_module_path_wide(char16_t* buffer, uint32_t size) { return ops().module_path_wide(buffer, size); }
int plat_wide_to_utf8(const char16_t* in, int in_length, char* out, int out_size) {
    return ops().wide_to_utf8(in, in_length, out, out_size);
}
int plat_utf8_to_wide(const char* in, int in_length, char16_t* out, int out_size) {
    return ops().utf8_to_wide(in, in_length, out, out_size);
}

int plat_legacy_ansi_to_utf8(const char* in, char* out, int out_size) {
    return ops().legacy_ansi_to_utf8(in, out, out_size);
}

bool plat_ecdsa_p256_verify(const uint8_t point[64], const uint8_t digest[32], const uint8_t signature[64]) {
    return ops().ecdsa_p256_verify(point, digest, signature);
}

unsigned long plat_process_id() { return ops().process_id(); }
const char* plat_getenv(const char* name) { return ops().getenv(name); }
int plat_putenv(const char* assignment) { return ops().putenv(assignment); }
void plat_sleep(uint32_t milliseconds) { ops().sleep(milliseconds); }

plat_handle plat_create_output_file(const char* path) { return ops().create_output_file(path); }
void plat_close_output_file(plat_handle file) { ops().close_output_file(file); }
bool plat_start_process(char* command_line, const plat_start_options& options, plat_process* out) {
    return ops().start_process(command_line, options, out);
}
bool plat_wait_process(const plat_process& process, uint32_t milliseconds) {
    return ops().wait_process(process, milliseconds);
}
bool plat_process_exit_code(const plat_process& process, unsigned long* code) {
    return ops().process_exit_code(process, code);
}
void plat_close_process(plat_process* process) { ops().close_process(process); }

void plat_lock_init(plat_lock* lock) { ops().lock_init(lock); }
void plat_lock_enter(plat_lock* lock) { ops().lock_enter(lock); }
void plat_lock_leave(plat_lock* lock) { ops().lock_leave(lock); }
void plat_lock_retire(plat_lock* lock) { ops().lock_retire(lock); }
plat_thread plat_thread_start(plat_thread_main main, void* parameter) { return ops().thread_start(main, parameter); }
bool plat_thread_wait(plat_thread thread, uint32_t milliseconds) { return ops().thread_wait(thread, milliseconds); }
void plat_thread_close(plat_thread thread) { ops().thread_close(thread); }

plat_http plat_http_open(const plat_http_request& request) { return ops().http_open(request); }
uint32_t plat_http_read(plat_http http, unsigned char* buffer, uint32_t size) {
    return ops().http_read(http, buffer, size);
}
void plat_http_close(plat_http http) { ops().http_close(http); }

bool plat_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out) {
    return ops().reg_create_key(parent, subkey, out);
}
bool plat_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length) {
    return ops().reg_set_string(key, name, data, stored_length);
}
void plat_reg_close_key(plat_reg_key key) { ops().reg_close_key(key); }

bool plat_open_file_dialog(const plat_file_dialog& dialog, char* file, uint32_t size) {
    return ops().open_file_dialog(dialog, file, size);
}

unsigned long plat_splash_thread(void* parameter) { return ops().splash_thread(parameter); }
bool plat_splash_post_quit(plat_window window) { return ops().splash_post_quit(window); }
