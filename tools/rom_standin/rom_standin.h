// The stand-in for the supported cartridge dump and for the playable ROM made
// from it.
//
// The real patch belongs to a dump this project does not have, so the
// repository carries a stand-in patch made from a synthetic dump: seeded
// pseudo-random bytes of the real dump's length, with the cartridge header's
// logo checksum in place so that it passes the usable-ROM test, and a target
// derived from it by a fixed list of edits. The edits are chosen so that the
// VCDIFF encoder lays out the patch in the same three windows as the real one
// (same source segments and target window lengths); see make_rom_patch.sh.
//
// Both images are a pure function of the constants in rom_standin.cpp: the
// same bytes on every machine, every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kStandinDumpLength = 23288104;
constexpr size_t kStandinTargetLength = 23288696;

// The synthetic supported dump.
std::vector<uint8_t> standin_dump();

// The target the stand-in patch produces from standin_dump().
std::vector<uint8_t> standin_target(const std::vector<uint8_t>& dump);
