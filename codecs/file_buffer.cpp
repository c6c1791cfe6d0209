#include "codecs/file_buffer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

bool file_buffer_read(const char* path, file_buffer* out) {
    FILE* file = plat_fopen(path, "rb");
    if (!file) return false;

    uint64_t size;
    if (!file_measure(file, &size)) {
        std::fclose(file);
        return false;
    }

    uint8_t* data = size > 0 ? file_read_block(file, size, 0, static_cast<size_t>(size)) : nullptr;
    std::fclose(file);
    if (size > 0 && !data) return false;
    out->data = data;
    out->size = size;
    return true;
}

uint8_t* file_read_block(FILE* file, uint64_t size, size_t at, size_t block_size) {
    uint8_t* block = static_cast<uint8_t*>(std::malloc(block_size > 0 ? block_size : 1));
    // A short read means the file changed (or failed) between measuring and
    // reading; hashing or unpacking part of it would give a wrong answer.
    if (block && std::fread(block + at, 1, static_cast<size_t>(size), file) != size) {
        std::free(block);
        block = nullptr;
    }
    return block;
}

void file_buffer_free(file_buffer* buffer) {
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
}

bool file_measure(FILE* file, uint64_t* size) {
    // The size is the stream position at the end, a signed 32-bit value where
    // the launcher runs (long is 32 bits on Windows). A position that does
    // not fit, or a failed seek, is a file this reader cannot take.
    long end = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) end = std::ftell(file);
    if (end < 0 || end > INT32_MAX || std::fseek(file, 0, SEEK_SET) != 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}
