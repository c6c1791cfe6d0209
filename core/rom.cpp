// The game plays a modified "Starlit Fair DS" that the launcher never ships:
// the player supplies their own cartridge dump and the launcher patches it with
// the delta it carries inside itself. Whether the result is the expected game
// is decided by its digest, not by the patch.
#include "core/rom.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "build_config.h"
#include "codecs/rom_patch.h"
#include "codecs/sha256.h"
#include "codecs/vcdiff.h"
#include "core/run.h"
#include "platform/platform.h"
#include "services/format.h"
#include "services/log.h"
#include "services/status.h"

namespace {

constexpr size_t kHeaderSize = 512;
constexpr size_t kLogoChecksumOffset = 0x15C;
constexpr int kSourcePathSize = 1024;
constexpr int kDialogFileSize = 260;
constexpr int kRomPartSize = kRomPathSize + 8;
constexpr uint32_t kDialogFlags = 0x1808;  // OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR

constexpr char kDialogFilter[] = "Nintendo DS ROM (*.nds)\0*.nds\0All files\0*.*\0";  // and the final NUL
constexpr char kDialogTitle[] = "Select your Starlit Fair DS ROM (.nds)";

int disk_error() { return end_run_with_error("Couldn't prepare the ROM (disk error). Reopen and try again.", 10000); }

// Another DS game is played as it is, in Download Play mode.
int download_play_notice() {
    status_set("Not Starlit Fair DS \xE2\x80\x94 starting in Download Play mode for this game.");
    plat_sleep(1500);
    return kRunGoesOn;
}

bool is_playable_rom(const char* path) {
    char digest[kDigestTextSize];
    return sha256_file_hex(path, digest) == 0 && std::strcmp(digest, PELKO_ROM_SHA256) == 0;
}

bool is_playable_digest(const uint8_t* bytes, size_t size) {
    char digest[kDigestTextSize];
    sha256_hex(bytes, size, digest);
    return std::strcmp(digest, PELKO_ROM_SHA256) == 0;
}

// patched.nds is made as patched.nds.part and moved into place only once it
// is whole on the disk, so that a run killed while it is written leaves no
// truncated ROM that later runs would take for a usable one. After a failure
// once the part exists, neither file stays: the part is not a ROM, and the
// truncating write this replaces would have destroyed the old file too.
struct rom_part {
    char path[kRomPartSize];
};

rom_part part_of(const char* patched_rom_path) {
    rom_part part;
    format_into(part.path, sizeof part.path, "%s.part", patched_rom_path);
    return part;
}

bool give_up_part(const rom_part& part, const char* patched_rom_path) {
    if (plat_get_file_attributes(part.path) != PLAT_INVALID_ATTRIBUTES) {
        plat_delete_file(part.path);
        plat_delete_file(patched_rom_path);
    }
    return false;
}

bool copy_into_place(const char* source_path, const char* patched_rom_path) {
    rom_part part = part_of(patched_rom_path);
    if (!plat_copy_file(source_path, part.path, false) || !plat_move_file_write_through(part.path, patched_rom_path))
        return give_up_part(part, patched_rom_path);
    return true;
}

// A volume without room for the ROM fails as a write that falls short would.
bool write_into_place(const char* patched_rom_path, const uint8_t* bytes, size_t size) {
    char directory[kRomPartSize];
    format_into(directory, sizeof directory, "%s", patched_rom_path);
    if (char* cut = std::strrchr(directory, kPathSeparator)) *cut = 0;
    uint64_t free_bytes = 0;
    if (plat_disk_free(directory, &free_bytes) && free_bytes < size) {
        plat_delete_file(patched_rom_path);
        return false;
    }
    rom_part part = part_of(patched_rom_path);
    FILE* f = plat_fopen(part.path, "wb");
    if (!f) return false;
    bool written = std::fwrite(bytes, 1, size, f) == size;
    written = plat_flush_to_disk(f) && written;
    written = std::fclose(f) == 0 && written;
    if (!written || !plat_move_file_write_through(part.path, patched_rom_path))
        return give_up_part(part, patched_rom_path);
    return true;
}

}  // namespace

bool is_usable_ds_rom(const uint8_t* bytes, size_t size) {
    return size >= kHeaderSize && bytes[kLogoChecksumOffset] == 0x56 && bytes[kLogoChecksumOffset + 1] == 0xCF;
}

int acquire_rom(const char* patched_rom_path, const char* room_code) {
    if (FILE* f = plat_fopen(patched_rom_path, "rb")) {
        uint8_t header[kHeaderSize];
        size_t n = std::fread(header, 1, sizeof header, f);
        std::fclose(f);
        if (is_usable_ds_rom(header, n)) return kRunGoesOn;
        log_printf("  (patched.nds is present but not a usable DS rom -- asking for it again)\n");
    }

    if (room_code[0]) {
        file_printf(stderr, "[rom] joining room %s with no local ROM -> the app will fetch it from the host\n",
                    room_code);
        status_set("Joining \xE2\x80\x94 the host will send you the game\xE2\x80\xA6");
        return kRunGoesOn;
    }

    status_set("Choose your Starlit Fair DS ROM (a file window will open)\xE2\x80\xA6");
    char source[kSourcePathSize];
    const char* configured = plat_getenv("VELA_ROM");
    if (configured && configured[0]) {
        format_into(source, sizeof source, "%s", configured);
    } else {
        plat_file_dialog dialog{kDialogFilter, kDialogTitle, kDialogFlags};
        if (!plat_open_file_dialog(dialog, source, kDialogFileSize))
            return end_run_with_error(
                "No ROM chosen \xE2\x80\x94 reopen and pick your own Starlit Fair DS .nds to play.", 9000);
    }
    return prepare_rom(source, patched_rom_path);
}

int prepare_rom(const char* source_path, const char* patched_rom_path) {
    status_set("Preparing your ROM\xE2\x80\xA6");

    // The dump is read once, into a block laid out for patching it in place:
    // its digest is taken there, and the patched ROM is rebuilt over it.
    size_t source_size = 0;
    vcdiff_layout layout;
    uint8_t* block = vcdiff_read_source(source_path, rom_patch, rom_patch_length, &source_size, &layout);
    if (!block) {
        // Not readable whole (too big to hold, say): the playable ROM is
        // still copied, known by the digest of the file.
        if (!is_playable_rom(source_path)) return disk_error();
        if (!copy_into_place(source_path, patched_rom_path)) return disk_error();
        return kRunGoesOn;
    }
    const uint8_t* source = block + layout.source_at;
    if (is_playable_digest(source, source_size)) {
        std::free(block);
        if (!copy_into_place(source_path, patched_rom_path)) return disk_error();
        return kRunGoesOn;
    }

    bool usable = is_usable_ds_rom(source, source_size);
    size_t patched_size = 0;
    if (!vcdiff_apply_in_place(rom_patch, rom_patch_length, block, layout, source_size, &patched_size)) {
        std::free(block);
        if (!usable)
            return end_run_with_error("That file doesn't look like a DS game. Reopen and pick a .nds dump.", 10000);
        if (!copy_into_place(source_path, patched_rom_path)) return disk_error();
        return download_play_notice();
    }

    bool written = write_into_place(patched_rom_path, block, patched_size);
    std::free(block);
    if (!written) return disk_error();

    // The patch fits any source of the right length; only the digest tells
    // the supported dump from another file.
    if (is_playable_rom(patched_rom_path)) return kRunGoesOn;
    plat_delete_file(patched_rom_path);
    if (!copy_into_place(source_path, patched_rom_path)) return disk_error();
    return download_play_notice();
}
