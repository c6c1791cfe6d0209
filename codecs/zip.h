// ZIP archive extraction: a walk over an archive held in memory, and the thin
// file layer that reads the archive from disk and writes what the walk finds.
#pragma once

#include <cstdint>

// Output paths are the destination, a backslash and the entry name, cut to
// fit this buffer (1,399 characters).
constexpr int kZipOutputPathSize = 1400;
// Entry names are cut to 1,023 bytes.
constexpr int kZipNameSize = 1024;

// Where the walk hands its results. Every path is a complete output path with
// backslashes as separators.
struct zip_sink {
    void* context;
    // One directory level to create. Parents come before children; a failure
    // (it exists already) does not matter to the walk.
    void (*make_directory)(void* context, const char* path);
    // A file whose decoded length and CRC-32 are the ones the central
    // directory declares. Returns true when the file was created, and only then
    // does it count as written. data holds size bytes and is never null; for a
    // stored entry it points into the archive itself, so it is valid only
    // during the call.
    bool (*write_file)(void* context, const char* path, const uint8_t* data, uint64_t size);
    // The bytes the destination's volume can still take, asked once before
    // anything is written; null when there is no limit to heed.
    uint64_t (*free_space)(void* context, const char* dest_dir);
};

// Walks the archive in archive[0 .. size) and hands every safe, intact entry
// to sink. Returns the number of files the sink wrote, or -1 when there is no
// usable central directory. When the files the walk would write (by their
// declared sizes) do not fit in the sink's free space, nothing is written and
// the result is 0. Reads nothing outside the buffer and writes nothing itself.
int zip_extract_from_memory(const uint8_t* archive, uint64_t size, const char* dest_dir, const zip_sink* sink);

// Reads the archive at archive_path whole and extracts it under dest_dir (which
// the caller has created) through the platform layer. Returns the number of
// files written, or -1 when the archive cannot be read or has no usable
// central directory. Bad entries are skipped without a word, and so is a file
// whose write falls short (it is deleted); the caller decides what a count of
// 0 means.
int zip_extract_all(const char* archive_path, const char* dest_dir);
