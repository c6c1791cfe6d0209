// A whole file in one heap block: how the digest and the archive reader take
// their input. Nothing is streamed; the expected inputs are some tens of MB.
#pragma once

#include <cstdint>

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
