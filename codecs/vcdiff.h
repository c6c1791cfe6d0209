// VCDIFF (RFC 3284) delta decoder: rebuilds a target from a source and a
// patch held whole in memory.
//
// It reads the dialect of the patch the launcher carries (see rom_patch.h),
// which is what a VCDIFF encoder writes without secondary compression or a
// custom code table: a file header with an application header, then windows
// with an optional VCD_SOURCE or VCD_TARGET segment and an optional Adler-32
// field, coded with the default code table. It checks structure and bounds,
// never content: the checksum is skipped, and whether the result is the
// expected file is for the caller to decide (by its digest).
//
// COPY moves whole blocks where what it reads and what it writes do not
// overlap; the result is byte for byte that of copying one byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// A read position over a stretch of bytes. Reading past the end sets the
// error flag; from then on every read gives 0, so a run of reads can be
// checked once, after the last of them.
struct vcdiff_cursor {
    const uint8_t* bytes;
    size_t position;
    size_t length;
    bool error;
};

// Reads one variable-length integer (RFC 3284 section 2: base 128, most
// significant group first, the high bit set on every byte but the last) of at
// most 10 bytes. Sets the error flag and returns 0 if it runs past the end or
// is longer.
uint64_t vcdiff_read_varint(vcdiff_cursor* cursor);

// Applies a patch to a source. Returns a new heap block (release it with
// free) holding the target, and stores its length through out_length; on any
// failure returns null and leaves *out_length as it was. The output starts
// with room for source_length + patch_length + 4,096 bytes and grows only when
// a window could not fit. Nothing outside the two buffers is read.
uint8_t* vcdiff_apply(const uint8_t* patch, size_t patch_length, const uint8_t* source, size_t source_length,
                      size_t* out_length);

// vcdiff_apply with the patch embedded in the launcher.
uint8_t* vcdiff_apply_embedded(const uint8_t* source, size_t source_length, size_t* out_length);

// Applying a patch in place: the target is rebuilt in the block that holds the
// source, so that no second buffer is filled and the source bytes a COPY would
// only move to where they already are are left alone. The source sits
// source_at bytes into the block, far enough ahead that no COPY reads a source
// byte after something else was written over it; block_size has room for the
// source there and for the largest output buffer vcdiff_apply would have, from
// the block's start. Never more than the source and that buffer together.
struct vcdiff_layout {
    size_t source_at;
    size_t block_size;
};

// Follows the patch without moving a byte, as it would run on a source of
// source_length bytes. True, with the layout, exactly when vcdiff_apply would
// succeed on such a source (running out of memory aside).
bool vcdiff_plan_in_place(const uint8_t* patch, size_t patch_length, size_t source_length, vcdiff_layout* layout);

// Applies the patch to the source_length bytes at block + layout.source_at,
// writing the target from block[0]; the result is byte for byte that of
// vcdiff_apply. A layout other than the plan's for this patch and source length
// fails before anything is written. On any failure returns false and leaves
// *out_length as it was; the block may then hold neither source nor target.
bool vcdiff_apply_in_place(const uint8_t* patch, size_t patch_length, uint8_t* block, const vcdiff_layout& layout,
                           size_t source_length, size_t* out_length);

// Reads the file at path (mode "rb", its size from the end position, one read)
// into a new heap block laid out by vcdiff_plan_in_place for the patch, or
// holding the file alone at offset 0 when the patch cannot be applied to a
// source of its length. Null, with nothing left open or allocated, when the
// file does not open, is empty or beyond a signed 32-bit position, the block
// cannot be allocated or the read falls short.
uint8_t* vcdiff_read_source(const char* path, const uint8_t* patch, size_t patch_length, size_t* source_length,
                            vcdiff_layout* layout);
