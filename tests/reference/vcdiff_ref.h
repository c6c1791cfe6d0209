// The first VCDIFF decoder of the launcher, kept as the reference that the
// fast one is checked against. Same contract as vcdiff_apply in
// codecs/vcdiff.h, whose cursor and statistics records it shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/vcdiff.h"

uint64_t vcdiff_ref_read_varint(vcdiff_cursor* cursor);

uint8_t* vcdiff_ref_apply(const uint8_t* patch, size_t patch_length, const uint8_t* source, size_t source_length,
                          size_t* out_length, vcdiff_stats* stats);
