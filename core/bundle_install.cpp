// A new version goes into a directory of its own, app.{version}, next to the
// older ones, which stay: they are where user files are recovered from and the
// game to fall back on. The records are written last, in the order the repair
// at start relies on: bundle version file, version record, current record.
#include "core/bundle_install.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "codecs/sha256.h"
#include "codecs/zip.h"
#include "core/home_layout.h"
#include "platform/platform.h"
#include "services/delete_tree.h"
#include "services/format.h"
#include "services/http.h"
#include "services/log.h"
#include "services/status.h"

namespace {

constexpr int kArchivePathSize = 1024;
constexpr int kTempPathSize = 260;
constexpr int kUserFilePathSize = 1400;
constexpr int kBackupPathSize = 1400;
constexpr int kBackupsKept = 3;

struct older_copy_search {
    const char* home;
    const char* name;
    const char* old_game_dir;
    const char* new_game_dir;
    char* best;
    size_t best_size;
    char best_key[kVersionKeySize];
};

void consider_older_copy(void* context, const char* entry) {
    auto* search = static_cast<older_copy_search*>(context);
    char dir[kUserFilePathSize], candidate[kUserFilePathSize];
    format_into(dir, sizeof dir, "%s%c%s%ckestrel-core", search->home, kPathSeparator, entry, kPathSeparator);
    format_into(candidate, sizeof candidate, "%s%c%s", dir, kPathSeparator, search->name);
    if (std::strcmp(dir, search->old_game_dir) == 0 || std::strcmp(dir, search->new_game_dir) == 0) return;
    if (!opens_for_reading(candidate)) return;
    const char* key = version_key(entry);
    if (std::strcmp(key, search->best_key) > 0) {
        format_into(search->best, search->best_size, "%s", candidate);
        format_into(search->best_key, sizeof search->best_key, "%s", key);
    }
}

// The number n of a backup folder named app.{version}.{n}; 0 for any other name.
int backup_number(const char* name, const char* version) {
    char prefix[kBackupPathSize];
    format_into(prefix, sizeof prefix, "app.%s.", version);
    size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) != 0) return 0;
    const char* digits = name + length;
    size_t count = std::strspn(digits, "0123456789");
    return count > 0 && count < 9 && digits[count] == 0 ? std::atoi(digits) : 0;
}

// A walk over the backup folders of one version: it finds the highest number
// and deletes those numbered up to delete_up_to (none when 0).
struct backup_walk {
    const char* backups;
    const char* version;
    int delete_up_to;
    int highest;
};

void visit_backup(void* context, const char* name) {
    auto* walk = static_cast<backup_walk*>(context);
    int n = backup_number(name, walk->version);
    if (n > walk->highest) walk->highest = n;
    if (n == 0 || n > walk->delete_up_to) return;
    char target[kBackupPathSize];
    format_into(target, sizeof target, "%s%capp.%s.%d", walk->backups, kPathSeparator, walk->version, n);
    delete_tree(target);
}

// Walks the backups of version below backups; returns the highest number.
int walk_backups(const char* backups, const char* version, int delete_up_to) {
    char pattern[kBackupPathSize];
    format_into(pattern, sizeof pattern, "%s%capp.%s.*", backups, kPathSeparator, version);
    backup_walk walk = {backups, version, delete_up_to, 0};
    for_each_directory(pattern, visit_backup, &walk);
    return walk.highest;
}

// A version installed again loses its folder and the player's files in it.
// Before it goes, they are copied to {home}\backup\app.{version}.{n}, n one
// above the highest backup of that version, into a folder of their own that
// never replaces another; the three newest backups of a version are kept.
void back_up_user_files(const char* home, const char* version, const char* version_dir) {
    const char* found[std::size(kUserFiles)] = {};
    char sources[std::size(kUserFiles)][kUserFilePathSize];
    bool any = false;
    for (size_t i = 0; i < std::size(kUserFiles); ++i) {
        format_into(sources[i], kUserFilePathSize, "%s%ckestrel-core%c%s", version_dir, kPathSeparator, kPathSeparator,
                    kUserFiles[i]);
        if (!opens_for_reading(sources[i]))
            format_into(sources[i], kUserFilePathSize, "%s%c%s", version_dir, kPathSeparator, kUserFiles[i]);
        if (opens_for_reading(sources[i])) found[i] = sources[i], any = true;
    }
    if (!any) return;

    char backups[kBackupPathSize], folder[kBackupPathSize], target[kBackupPathSize];
    format_into(backups, sizeof backups, "%s%cbackup", home, kPathSeparator);
    plat_mkdir(backups);
    int n = walk_backups(backups, version, 0) + 1;
    format_into(folder, sizeof folder, "%s%capp.%s.%d", backups, kPathSeparator, version, n);
    if (plat_mkdir(folder) != 0) return;
    for (size_t i = 0; i < std::size(kUserFiles); ++i) {
        if (!found[i]) continue;
        format_into(target, sizeof target, "%s%c%s", folder, kPathSeparator, kUserFiles[i]);
        plat_copy_file(found[i], target, true);
    }
    walk_backups(backups, version, n - kBackupsKept);
}

// The newest older version's copy of a user file: highest version key, first
// listed among equals, never the old or the new game directory themselves.
bool find_in_older_versions(const char* home, const char* name, const char* old_game_dir, const char* new_game_dir,
                            char* best, size_t best_size) {
    best[0] = 0;
    older_copy_search search = {home, name, old_game_dir, new_game_dir, best, best_size, ""};
    for_each_version_directory(home, consider_older_copy, &search);
    return best[0] != 0;
}

}  // namespace

void carry_forward_user_files(const char* home, const char* old_game_dir, const char* new_game_dir) {
    for (const char* name : kUserFiles) {
        char from[kUserFilePathSize], to[kUserFilePathSize];
        format_into(from, sizeof from, "%s%c%s", old_game_dir, kPathSeparator, name);
        format_into(to, sizeof to, "%s%c%s", new_game_dir, kPathSeparator, name);
        if (plat_copy_file(from, to, false)) {
            log_printf("  (kept %s)\n", name);
            continue;
        }
        bool existed = opens_for_reading(from);
        if (existed)
            log_printf("  !! could not carry %s forward from %s -- looking in older versions\n", name, old_game_dir);

        char older[kUserFilePathSize];
        if (find_in_older_versions(home, name, old_game_dir, new_game_dir, older, sizeof older) &&
            plat_copy_file(older, to, false)) {
            log_printf("  (kept %s, recovered from an older version)\n", name);
        } else if (existed) {
            log_printf("  !! %s IS LOST. If this was patched.nds you will be asked for your game file again.\n", name);
        }
    }
}

void install_bundle(run_context* ctx) {
    const manifest_values& m = ctx->manifest;
    if (std::strcmp(ctx->installed_version, m.remote_version) == 0) {
        log_printf("  app up to date.\n");
        return;
    }

    log_printf("downloading %s ...\n", m.bundle_url);
    status_set(ctx->installed_version[0] ? "Downloading the update" : "Downloading the game");
    char temp[kTempPathSize] = "";
    plat_temp_path(temp, sizeof temp);
    char archive[kArchivePathSize];
    format_into(archive, sizeof archive, "%spelko_bundle.%lu.zip", temp, plat_process_id());
    if (http_get_to_file(m.bundle_url, archive) != 0) {
        log_printf("  (download failed)\n");
        return;
    }

    char digest[kDigestTextSize];
    if (sha256_file_hex(archive, digest) != 0) {
        log_printf("  (sha compute failed)\n");
        return;
    }
    if (std::strcmp(digest, m.bundle_sha256) != 0) {
        log_printf("  SHA256 MISMATCH (expected %s, got %s) \xE2\x80\x94 refusing to update\n", m.bundle_sha256,
                   digest);
        return;
    }
    log_printf("  sha256 OK.\n");

    // Installing a version again starts from an empty directory, even when it
    // is the current one: its user files then come from older versions.
    char version_dir[kGameDirSize];
    format_into(version_dir, sizeof version_dir, "%s%capp.%s", ctx->home, kPathSeparator, m.remote_version);
    back_up_user_files(ctx->home, m.remote_version, version_dir);
    delete_tree(version_dir);
    plat_mkdir(version_dir);

    log_printf("installing %s ...\n", m.remote_version);
    status_set("Installing");
    if (zip_extract_all(archive, version_dir) <= 0) {
        log_printf("  (extract failed)\n");
        return;
    }

    // A bundle without kestrel-core\Pelko.exe runs from its version directory.
    char new_game_dir[kGameDirSize], probe[kUserFilePathSize];
    format_into(new_game_dir, sizeof new_game_dir, "%s%ckestrel-core", version_dir, kPathSeparator);
    format_into(probe, sizeof probe, "%s%cPelko.exe", new_game_dir, kPathSeparator);
    if (!opens_for_reading(probe)) format_into(new_game_dir, sizeof new_game_dir, "%s", version_dir);

    char path[kUserFilePathSize], old_game_dir[kGameDirSize];
    format_into(path, sizeof path, "%s%ccurrent.txt", ctx->home, kPathSeparator);
    read_record(path, old_game_dir, sizeof old_game_dir);
    if (old_game_dir[0]) carry_forward_user_files(ctx->home, old_game_dir, new_game_dir);

    format_into(path, sizeof path, "%s%cversion.txt", new_game_dir, kPathSeparator);
    write_record(path, m.remote_version, true);
    format_into(path, sizeof path, "%s%cversion.txt", ctx->home, kPathSeparator);
    write_record(path, m.remote_version, true);
    format_into(path, sizeof path, "%s%ccurrent.txt", ctx->home, kPathSeparator);
    write_record(path, new_game_dir, false);

    log_printf("  installed %s.\n", m.remote_version);
    format_into(ctx->installed_version, sizeof ctx->installed_version, "%s", m.remote_version);
}
