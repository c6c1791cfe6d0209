#include "core/self_install.h"

#include <cstdio>
#include <cstring>

#include "core/home_layout.h"
#include "core/text.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/log.h"

namespace {

constexpr int kRegisteredCommandSize = 520;
constexpr char kPlainName[] = "Pelko-Setup.exe";

// The downloaded invite file gets the plain name, so that starting it again
// later does not join the same room again.
void move_invite_file_to_plain_name(char launcher_path[kLauncherPathSize]) {
    char plain[kLauncherPathSize];
    format_into(plain, sizeof plain, "%s", launcher_path);
    size_t base = static_cast<size_t>(base_name_of(plain) - plain);
    format_into(plain + base, sizeof plain - base, "%s", kPlainName);
    if (ascii_equal_nocase(launcher_path, plain)) return;
    plat_delete_file(plain);
    if (plat_move_file_replace(launcher_path, plain)) std::memcpy(launcher_path, plain, sizeof plain);
}

void write_updater_txt(const char* home, const char* target) {
    char path[kLauncherPathSize];
    format_into(path, sizeof path, "%s%cupdater.txt", home, kPathSeparator);
    write_record(path, target, false);
}

void set_string(plat_reg_key key, const char* name, const char* value) {
    plat_reg_set_string(key, name, value, static_cast<uint32_t>(std::strlen(value) + 1));
}

// HKCU\Software\Classes\pelko: "URL:Pelko", "URL Protocol" = "", and
// shell\open\command = "<target>" --url "%1". Windows then starts the target
// with the clicked link as the argument after --url.
void register_url_scheme(const char* target) {
    char command[kRegisteredCommandSize];
    format_into(command, sizeof command, "\"%s\" --url \"%%1\"", target);

    plat_reg_key scheme;
    if (!plat_reg_create_key(nullptr, "Software\\Classes\\pelko", &scheme)) return;
    set_string(scheme, nullptr, "URL:Pelko");
    set_string(scheme, "URL Protocol", "");
    plat_reg_key open_command;
    if (plat_reg_create_key(scheme, "shell\\open\\command", &open_command)) {
        set_string(open_command, nullptr, command);
        plat_reg_close_key(open_command);
    }
    plat_reg_close_key(scheme);
}

}  // namespace

void self_install(char launcher_path[kLauncherPathSize], const char* home, int from_filename) {
    if (from_filename == 1) move_invite_file_to_plain_name(launcher_path);

    // The installed launcher running itself copies nothing. A failed copy
    // leaves the earlier installed launcher (if any) as the target.
    char installed[kLauncherPathSize];
    format_into(installed, sizeof installed, "%s%cPelko-Setup.exe", home, kPathSeparator);
    if (!ascii_equal_nocase(launcher_path, installed)) plat_copy_file(launcher_path, installed, false);

    const char* target = plat_get_file_attributes(installed) != PLAT_INVALID_ATTRIBUTES ? installed : launcher_path;
    write_updater_txt(home, target);
    register_url_scheme(target);
}
