// The run sequence. Each run does the whole job in one pass, from what is
// stored on disk, and ends: the steps below run in this order, and only the
// ones that say so end the run early.
#include "core/launcher_main.h"

#include <cstdlib>
#include <cstring>

#include "build_config.h"
#include "core/bundle_install.h"
#include "core/game_launch.h"
#include "core/home_layout.h"
#include "core/invite.h"
#include "core/manifest.h"
#include "core/rom.h"
#include "core/run.h"
#include "core/self_install.h"
#include "core/self_update.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/log.h"
#include "services/status.h"
#include "splash/splash.h"

namespace {

constexpr char kDefaultUpdateBase[] = "https://" PELKO_UPDATE_HOST "/releases";
constexpr int kAppDataSize = 260;

bool env_present(const char* name) { return plat_getenv(name) != nullptr; }

const char* env_non_empty(const char* name) {
    const char* value = plat_getenv(name);
    return value && value[0] ? value : nullptr;
}

// VELA_HOME, or the local application-data folder and "\Pelko". Only the last
// level is created; a failure (usually: it exists) shows later, where files
// in it are used.
void resolve_home(char* home, size_t size) {
    if (const char* configured = env_non_empty("VELA_HOME")) {
        format_into(home, size, "%s", configured);
    } else {
        char appdata[kAppDataSize];
        plat_local_appdata(appdata);
        format_into(home, size, "%s\\Pelko", appdata);
    }
    plat_mkdir(home);
}

// The manifest values live as long as the run.
struct run_context_owner {
    run_context* ctx;
    ~run_context_owner() { free_manifest_values(&ctx->manifest); }
};

}  // namespace

int launcher_main(int argc, char** argv) { return run_launcher(argc, argv, kBuiltInReleaseKeys); }

int run_launcher(int argc, char** argv, const release_keys& keys) {
    run_context ctx;
    std::memset(&ctx, 0, sizeof ctx);
    run_context_owner owner{&ctx};

    // 1. Where the update site is.
    const char* configured_base = env_non_empty("PELKO_UPDATE_BASE");
    ctx.update_base = configured_base ? configured_base : kDefaultUpdateBase;

    // 2. The splash, unless the environment asks for none (present, even empty).
    if (!env_present("VELA_NO_SPLASH")) splash_start();

    // 3. First status.
    status_set("Checking for updates");

    // 4-6. The invite, if any: a link among the arguments wins over the file name.
    room_code_from_args(argc, argv, ctx.room_code);
    if (!ctx.room_code[0]) ctx.from_filename = room_code_from_file_name(ctx.room_code);
    log_room_code_outcome(ctx.room_code, ctx.from_filename);

    // 7. Home directory.
    resolve_home(ctx.home, sizeof ctx.home);

    // 8. Install this launcher into the home directory and register the URL
    // scheme, unless its own path cannot be had whole.
    uint32_t length = plat_module_path(ctx.launcher_path, sizeof ctx.launcher_path);
    if (length > 0 && length < sizeof ctx.launcher_path) self_install(ctx.launcher_path, ctx.home, ctx.from_filename);

    // 9. One-tap test mode reports the invite and ends, installed and registered.
    if (const char* report = plat_getenv("VELA_ONETAP_TEST"))
        return onetap_test_report(ctx.room_code, ctx.from_filename, report);

    // 10-11. Undo a half-finished update, then read the installed version.
    repair_version_record(ctx.home);
    char version_record[kHomeSize + 16];
    format_into(version_record, sizeof version_record, "%s%cversion.txt", ctx.home, kPathSeparator);
    read_record(version_record, ctx.installed_version, sizeof ctx.installed_version);

    // 12. Update check. Without usable manifest values the run goes on with
    // what is installed. A build with release keys reads only a manifest that
    // one of them signed.
    bool manifest_read = false;
    size_t manifest_length = 0;
    if (char* manifest = fetch_manifest(ctx.update_base, &manifest_length)) {
        if (keys.count == 0 || verify_manifest(manifest, manifest_length, keys, ctx.update_base, ctx.home))
            manifest_read = read_manifest(manifest, &ctx.manifest) == manifest_outcome::values;
        std::free(manifest);
    }
    if (manifest_read) {
        // 13. A newer launcher build takes the rest of the run over.
        if (ctx.manifest.launcher_url && ctx.manifest.launcher_sha256) {
            int handed_over =
                self_update(ctx.home, ctx.room_code, ctx.manifest.launcher_url, ctx.manifest.launcher_sha256);
            if (handed_over != kRunGoesOn) return handed_over;
        }
        // 14. A different remote version is installed; failures keep what is installed.
        install_bundle(&ctx);
    }

    // 15. Which game this run starts.
    int ended = resolve_game(&ctx, manifest_read);
    if (ended != kRunGoesOn) return ended;

    // 16. A playable ROM, or a room whose host sends the game.
    ended = acquire_rom(ctx.patched_rom, ctx.room_code);
    if (ended != kRunGoesOn) return ended;

    // 17. Install-only mode stops before the game.
    if (env_present("VELA_INSTALL_ONLY")) {
        log_printf("install-only: done (rom prepared at %s).\n", ctx.patched_rom);
        return 0;
    }

    // 17-18. Start the game and finish.
    return start_game(ctx, argc, argv);
}
