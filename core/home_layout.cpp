#include "core/home_layout.h"

#include <cstring>

#include "core/text.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/log.h"

namespace {

constexpr int kCandidateSize = 1300;
constexpr int kRecordTempSize = 1500;

void copy_cut(char* out, size_t size, const char* text) { format_into(out, size, "%s", text); }

}  // namespace

bool path_exists(const char* path) { return plat_get_file_attributes(path) != PLAT_INVALID_ATTRIBUTES; }

bool opens_for_reading(const char* path) {
    FILE* f = plat_fopen(path, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// The launcher runs in UTF-8. Earlier builds ran in the system's legacy code
// page and wrote their records in it (a home under C:\Users\José in
// Windows-1252): a record that is not UTF-8 is read in that code page.
void read_record(const char* path, char* out, size_t size) {
    out[0] = 0;
    FILE* f = plat_fopen(path, "r");
    if (!f) return;
    if (!std::fgets(out, static_cast<int>(size), f)) out[0] = 0;
    std::fclose(f);
    out[std::strcspn(out, "\r\n")] = 0;
    char utf8[kRecordTempSize * 3];
    if (!is_utf8(out) && plat_legacy_ansi_to_utf8(out, utf8, sizeof utf8) > 0) format_into(out, size, "%s", utf8);
}

namespace {

bool write_text(FILE* f, const char* value, bool line_end) {
    if (line_end) file_printf(f, "%s\n", value);
    else file_printf(f, "%s", value);
    return !std::ferror(f);
}

}  // namespace

bool write_record(const char* path, const char* value, bool line_end) {
    char temp[kRecordTempSize];
    FILE* f = format_into(temp, sizeof temp, "%s.tmp", path) < kRecordTempSize ? plat_fopen(temp, "w") : nullptr;
    if (f) {
        bool written = write_text(f, value, line_end);
        written = plat_flush_to_disk(f) && written;
        written = std::fclose(f) == 0 && written;
        if (written && plat_move_file_write_through(temp, path)) return true;
        plat_delete_file(temp);
        if (!written) return false;
    }
    f = plat_fopen(path, "w");
    if (!f) return false;
    write_text(f, value, line_end);
    std::fclose(f);
    return true;
}

const char* version_key(const char* directory_name) {
    const char* dot = std::strrchr(directory_name, '.');
    return dot ? dot + 1 : directory_name;
}

void for_each_directory(const char* pattern, void (*visit)(void* context, const char* name), void* context) {
    plat_find_data entry;
    plat_find_handle find = plat_find_first(pattern, &entry);
    if (!find) return;
    do {
        if (entry.attributes & PLAT_ATTR_DIRECTORY) visit(context, entry.name);
    } while (plat_find_next(find, &entry));
    plat_find_close(find);
}

void for_each_version_directory(const char* home, void (*visit)(void* context, const char* name), void* context) {
    char pattern[kGameExeSize];
    format_into(pattern, sizeof pattern, "%s%capp.*", home, kPathSeparator);
    for_each_directory(pattern, visit, context);
}

namespace {

struct newest_game_search {
    const char* home;
    char best_path[kCandidateSize];
    char best_key[kVersionKeySize];
};

void consider_game(void* context, const char* name) {
    auto* search = static_cast<newest_game_search*>(context);
    char candidate[kCandidateSize];
    format_into(candidate, sizeof candidate, "%s%c%s%ckestrel-core%cPelko.exe", search->home, kPathSeparator, name,
                kPathSeparator, kPathSeparator);
    if (!path_exists(candidate)) {
        format_into(candidate, sizeof candidate, "%s%c%s%ckestrel-core%ckestrel-core.exe", search->home, kPathSeparator,
                    name, kPathSeparator, kPathSeparator);
        if (!path_exists(candidate)) return;
    }
    // Strictly greater: among equal keys the first one listed stays.
    const char* key = version_key(name);
    if (std::strcmp(key, search->best_key) > 0) {
        copy_cut(search->best_path, sizeof search->best_path, candidate);
        copy_cut(search->best_key, sizeof search->best_key, key);
    }
}

}  // namespace

int find_newest_game(const char* home, char* out, size_t out_size) {
    newest_game_search search = {home, "", ""};
    for_each_version_directory(home, consider_game, &search);
    if (!search.best_path[0]) return 0;
    if (out && out_size) copy_cut(out, out_size, search.best_path);
    return 1;
}

// An update writes the bundle version file, the version record and the current
// record, in that order. A run that stopped between the last two leaves a
// version record that names a version the current directory does not hold;
// putting it back makes the next update check see the difference.
void repair_version_record(const char* home) {
    char path[kCandidateSize];
    char game_dir[kGameDirSize];
    format_into(path, sizeof path, "%s%ccurrent.txt", home, kPathSeparator);
    read_record(path, game_dir, sizeof game_dir);
    if (!game_dir[0]) return;

    format_into(path, sizeof path, "%s%cPelko.exe", game_dir, kPathSeparator);
    if (!opens_for_reading(path)) return;

    char bundle_version[kVersionSize];
    format_into(path, sizeof path, "%s%cversion.txt", game_dir, kPathSeparator);
    read_record(path, bundle_version, sizeof bundle_version);
    if (!bundle_version[0]) return;

    char recorded[kVersionSize];
    format_into(path, sizeof path, "%s%cversion.txt", home, kPathSeparator);
    read_record(path, recorded, sizeof recorded);
    if (std::strcmp(recorded, bundle_version) == 0) return;

    if (!write_record(path, bundle_version, true)) return;
    log_printf("  (repaired a half-finished update: the installed app is %s, the record said '%s')\n", bundle_version,
               recorded[0] ? recorded : "(nothing)");
}

int resolve_game(run_context* ctx, bool manifest_read) {
    char path[kCandidateSize];
    format_into(path, sizeof path, "%s%ccurrent.txt", ctx->home, kPathSeparator);
    read_record(path, ctx->game_dir, sizeof ctx->game_dir);
    if (!ctx->game_dir[0])
        format_into(ctx->game_dir, sizeof ctx->game_dir, "%s%capp.%s%ckestrel-core", ctx->home, kPathSeparator,
                    ctx->installed_version, kPathSeparator);

    format_into(ctx->game_exe, sizeof ctx->game_exe, "%s%cPelko.exe", ctx->game_dir, kPathSeparator);
    if (!path_exists(ctx->game_exe)) {
        format_into(ctx->game_exe, sizeof ctx->game_exe, "%s%ckestrel-core.exe", ctx->game_dir, kPathSeparator);
        if (path_exists(ctx->game_exe)) {
            log_printf("launch: pre-rename install -> using kestrel-core.exe\n");
        } else {
            char found[kGameExeSize];
            if (!find_newest_game(ctx->home, found, sizeof found)) {
                // Manifest values in hand and still no game: the install
                // failed or its files are gone. Otherwise the site was never
                // reached, which is what the player can fix.
                return end_run_with_error(manifest_read
                                              ? "Game files missing. Reopen to reinstall."
                                              : "Update server unreachable. Check your connection and reopen.",
                                          8000);
            }
            log_printf("launch: current.txt pointed at an install with no game (%s) -> using %s\n", ctx->game_dir,
                       found);
            copy_cut(ctx->game_exe, sizeof ctx->game_exe, found);
            // Later runs start from the found directory; this run keeps the
            // game directory it read, for patched.nds and the command line.
            char found_dir[kGameExeSize];
            copy_cut(found_dir, sizeof found_dir, found);
            if (char* cut = std::strrchr(found_dir, kPathSeparator)) *cut = 0;
            write_record(path, found_dir, false);
        }
    }
    format_into(ctx->patched_rom, sizeof ctx->patched_rom, "%s%cpatched.nds", ctx->game_dir, kPathSeparator);
    return kRunGoesOn;
}
