// A whole file in one heap block: how the archive reader takes its input; and
// the measuring rule that every whole-file reader shares.
#pragma once

#include <cstdint>
#include <cstdio>

struct file_buffer {
    uint8_t* data;  // null when size is 0 (a zero-byte allocation may be null)
    uint64_t size;
};

// Opens path with mode "rb", measures it by seeking to the end and reads it
// with a single read. False, with nothing left open or allocated, when the file
// cannot be opened, its end position is negative or beyond a signed 32-bit
// value (files of 2 GiB and more are not supported), the block cannot be
// allocated or the read delivers fewer bytes than measured.
bool file_buffer_read(const char* path, file_buffer* out);

void file_buffer_free(file_buffer* buffer);

// The size bytes of an open file, measured by file_measure, read with a single
// read into a new heap block of block_size bytes at offset at (at + size must
// not pass block_size). Null when the block cannot be allocated or the read
// delivers fewer bytes; the file stays open either way.
uint8_t* file_read_block(FILE* file, uint64_t size, size_t at, size_t block_size);

// The size of an open stream, as the launcher's C runtime measures it: seek
// to the end, take the position, seek back to the start. False when a seek
// fails or the position is negative or beyond a signed 32-bit value.
bool file_measure(FILE* file, uint64_t* size);
