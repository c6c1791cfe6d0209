// Making sure a playable patched.nds is next to the game before it starts.
#pragma once

#include <cstddef>
#include <cstdint>

// At least 512 bytes with 0x56 0xCF at 0x15C: the fixed checksum of the logo
// in every DS cartridge header. Nothing else of the header is looked at.
bool is_usable_ds_rom(const uint8_t* bytes, size_t size);

// Keeps a usable patched.nds; with a room code and none, leaves the game to
// come from the room's host; otherwise takes VELA_ROM or asks the player and
// prepares the ROM. kRunGoesOn, or the exit code of a run that ends here.
int acquire_rom(const char* patched_rom_path, const char* room_code);

// Turns the player's dump into patched.nds: copied when it already is the
// playable ROM, patched when it is the supported dump, copied unchanged (for
// Download Play) when it is another DS game. kRunGoesOn or exit code 1.
int prepare_rom(const char* source_path, const char* patched_rom_path);
