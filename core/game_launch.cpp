#include "core/game_launch.h"

#include <cstdlib>
#include <cstring>

#include "build_config.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/log.h"
#include "services/status.h"
#include "splash/splash.h"
#include "splash/splash_state.h"

namespace {

constexpr int kLogPathSize = 1100;
constexpr int kOldestLog = 7;

void rotated_name(char* out, size_t size, const char* home, int n) {
    format_into(out, size, "%s%cgame.%d.log", home, kPathSeparator, n);
}

void write_safe_video_file(const char* game_dir) {
    char path[kRomPathSize];
    format_into(path, sizeof path, "%s%csoftrender.txt", game_dir, kPathSeparator);
    FILE* f = plat_fopen(path, "wb");
    if (!f) {
        log_printf("safe video: could NOT write %s\n", path);
        return;
    }
    std::fwrite("1\n", 1, 2, f);
    std::fclose(f);
    log_printf("safe video: wrote %s -- the game will use the software renderer\n", path);
}

}  // namespace

int launch_number(int argc, char** argv) {
    if (argc < 2 || !argv[1]) return 0;
    int n = std::atoi(argv[1]);
    return n >= 1 && n <= 4 ? n : 0;
}

bool safe_video_requested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && (std::strcmp(argv[i], "--safe-video") == 0 || std::strcmp(argv[i], "--safe") == 0)) return true;
    return false;
}

void compose_game_command_line(char* out, size_t size, const run_context& ctx, int number) {
    if (ctx.room_code[0])
        format_into(out, size, "\"%s\" \"%s\" \"%s\" %d %s 6100 --room=%s", ctx.game_exe, ctx.patched_rom, ctx.game_dir,
                    number, PELKO_GAME_SERVER, ctx.room_code);
    else
        format_into(out, size, "\"%s\" \"%s\" \"%s\" %d %s 6100", ctx.game_exe, ctx.patched_rom, ctx.game_dir, number,
                    PELKO_GAME_SERVER);
}

void rotate_game_logs(const char* home) {
    char from[kLogPathSize], to[kLogPathSize];
    rotated_name(to, sizeof to, home, kOldestLog);
    plat_delete_file(to);
    for (int n = kOldestLog - 1; n >= 1; --n) {
        rotated_name(to, sizeof to, home, n + 1);
        rotated_name(from, sizeof from, home, n);
        plat_delete_file(to);
        plat_move_file(from, to);
    }
    rotated_name(to, sizeof to, home, 1);
    format_into(from, sizeof from, "%s%cgame.log", home, kPathSeparator);
    plat_delete_file(to);
    plat_move_file(from, to);

    char prev[kLogPathSize];
    format_into(prev, sizeof prev, "%s%cgame.prev.log", home, kPathSeparator);
    plat_delete_file(prev);
    plat_copy_file(to, prev, false);
}

int start_game(const run_context& ctx, int argc, char** argv) {
    int number = launch_number(argc, argv);
    status_set("Starting the game\xE2\x80\xA6");

    plat_putenv("VELA_NOOPEN=1");
    plat_putenv("VELA_STREAM=8199");
    plat_putenv("PELKO_VIA_UPDATER=1");
    if (!plat_getenv("PELKO_WEB")) plat_putenv("VELA_NATIVE=1");

    char command_line[kCommandLineSize];
    compose_game_command_line(command_line, sizeof command_line, ctx, number);
    log_printf("launch: %s\n", command_line);

    if (safe_video_requested(argc, argv)) write_safe_video_file(ctx.game_dir);

    // The only progress bar of a run: full, just before the game starts.
    if (splash_is_active()) splash_set_line("READY - STARTING THE GAME", 100);
    plat_sleep(600);
    rotate_game_logs(ctx.home);

    char log_path[kLogPathSize];
    format_into(log_path, sizeof log_path, "%s%cgame.log", ctx.home, kPathSeparator);
    plat_handle game_log = plat_create_output_file(log_path);

    // Whether the game started is not tested: the waits and the exit code are
    // the same either way. Its handles stay open until the launcher exits.
    plat_start_options options{};
    options.inherit_handles = game_log != nullptr;
    options.no_window = true;
    options.output = game_log;
    plat_process game{};
    plat_start_process(command_line, options, &game);
    plat_close_output_file(game_log);

    plat_sleep(400);
    splash_stop();
    plat_sleep(6000);
    return 0;
}
