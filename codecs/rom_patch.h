// The VCDIFF patch that turns the supported cartridge dump into the playable
// ROM, embedded as a constant array when the launcher is built (from the file
// the PELKO_ROM_PATCH build setting names). The digest of the ROM it produces
// is PELKO_ROM_SHA256 in build_config.h.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t rom_patch[];
extern const size_t rom_patch_length;
