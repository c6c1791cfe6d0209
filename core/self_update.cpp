// The swap keeps three names in the home directory:
//   Pelko-Setup.new.exe   the verified download, only during an update
//   Pelko-Setup.exe       the installed launcher
//   Pelko-Setup.old.exe   the build it replaced, kept until a run whose own
//                         digest is current (the running file cannot always
//                         be deleted while it runs)
// Every failure puts the names back as they were and the run goes on with the
// launcher that is running.
#include "core/self_update.h"

#include <cstring>

#include "codecs/sha256.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/http.h"
#include "services/log.h"
#include "services/status.h"

namespace {

constexpr int kHandOverSize = 1400;
constexpr uint32_t kHandOverWaitMs = 900000;

}  // namespace

int self_update(const char* home, const char* room_code, const char* launcher_url, const char* launcher_sha256) {
    char installed[kLauncherPathSize], candidate[kLauncherPathSize], previous[kLauncherPathSize];
    format_into(installed, sizeof installed, "%s%cPelko-Setup.exe", home, kPathSeparator);
    format_into(candidate, sizeof candidate, "%s%cPelko-Setup.new.exe", home, kPathSeparator);
    format_into(previous, sizeof previous, "%s%cPelko-Setup.old.exe", home, kPathSeparator);

    char running[kLauncherPathSize] = "";
    plat_module_path(running, sizeof running);
    char digest[kDigestTextSize];
    if (sha256_file_hex(running, digest) != 0 || std::strcmp(digest, launcher_sha256) == 0) {
        plat_delete_file(previous);
        return kRunGoesOn;
    }

    log_printf("self-update: a newer updater is available -> fetching\n");
    status_set("Updating the installer");
    if (http_get_to_file(launcher_url, candidate) != 0) return kRunGoesOn;
    if (sha256_file_hex(candidate, digest) != 0 || std::strcmp(digest, launcher_sha256) != 0) {
        log_printf("self-update: sha mismatch -> keeping the current updater\n");
        plat_delete_file(candidate);
        return kRunGoesOn;
    }

    // The installed launcher may be this very process: it can be renamed
    // while it runs, not deleted.
    plat_delete_file(previous);
    plat_move_file_replace(installed, previous);
    if (!plat_move_file_replace(candidate, installed)) {
        plat_move_file_replace(previous, installed);
        plat_delete_file(candidate);
        return kRunGoesOn;
    }

    // Only the invite travels to the new launcher; the rest of this run's
    // arguments do not.
    char command_line[kHandOverSize];
    if (room_code[0])
        format_into(command_line, sizeof command_line, "\"%s\" --url \"pelko://join/%s\"", installed, room_code);
    else format_into(command_line, sizeof command_line, "\"%s\"", installed);
    plat_process child{};
    if (!plat_start_process(command_line, plat_start_options{}, &child)) {
        plat_move_file_replace(installed, candidate);
        plat_move_file_replace(previous, installed);
        plat_delete_file(candidate);
        return kRunGoesOn;
    }

    if (!plat_wait_process(child, kHandOverWaitMs)) {
        // The new launcher goes on by itself; this one stops waiting.
        plat_close_process(&child);
        log_printf("!! self-update: the new updater did not finish in time -- the app may not have been updated.\n");
        return 1;
    }
    unsigned long code = 1;
    if (!plat_process_exit_code(child, &code)) code = 1;
    plat_close_process(&child);
    if (code == 0) log_printf("self-update: swapped in the new updater; it finished the update.\n");
    else log_printf("!! self-update: the new updater exited with %lu -- the app may not have been updated.\n", code);
    return static_cast<int>(code);
}
