// ZIP extraction for the client bundle: find the end record, walk the central
// directory, reach each entry's data through its local header, decode stored
// or deflated data, check the CRC-32 and hand the file on.
//
// A bad entry never stops the others: it is skipped without a message, and
// what has been written stays. The archive has already matched its published
// SHA-256 when it gets here, so damage means a broken release rather than an
// attack; still, nothing is read outside the archive and no entry may write
// outside the destination.
//
// Format notes (the parts this reader relies on; all numbers little-endian):
// - The end of central directory record (22 bytes and a comment of up to
//   65,535 bytes) is the only fixed point, and it is at the end of the file,
//   so it is found by scanning backwards for its signature.
// - The central directory is trusted for each entry's method, sizes, CRC and
//   name. Local headers are read only for the lengths of their own name and
//   extra field, to find where the data starts; their sizes may be zero when
//   the writer streamed the entry and put the real values in a data
//   descriptor after the data.
// - General-purpose flags, versions, times, attributes, disk numbers and
//   ZIP64 records are not read: bundles are single-disk, under 2 GiB, and
//   neither encrypted nor split.
#include "codecs/zip.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/crc32.h"
#include "codecs/file_buffer.h"
#include "codecs/inflate.h"
#include "platform/platform.h"
#include "services/format.h"

namespace {

constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;

constexpr uint64_t kEndRecordSize = 22;
constexpr uint64_t kCentralHeaderSize = 46;
constexpr uint64_t kLocalHeaderSize = 30;
// The end record begins at most 22 + 65,535 bytes before the end of the file;
// the scan reaches a little further and stops there.
constexpr uint64_t kEndRecordReach = 65999;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
// Each deflate code is at least one bit, so a length/distance pair takes at
// least two bits and yields at most 258 bytes: no deflate stream grows more
// than 1,032 times. An entry declaring more can never decode to its size.
constexpr uint64_t kMaxDeflateExpansion = 1032;

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t read32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The fields of one central directory header this reader uses.
struct zip_entry {
    uint16_t method;
    uint32_t crc;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint32_t local_header_offset;
    char name[kZipNameSize];
};

// Finds the end record and checks that the central directory it points to can
// be walked at all: it starts inside the archive, names at least one entry and
// has room for a first fixed-size header.
bool find_central_directory(const uint8_t* archive, uint64_t size, uint64_t* entry_count, uint64_t* offset) {
    if (size < kEndRecordSize) return false;
    uint64_t lowest = size > kEndRecordReach ? size - kEndRecordReach : 0;
    uint64_t at = size - kEndRecordSize;
    while (read32(archive + at) != kEndRecordSignature) {
        if (at == lowest) return false;
        --at;
    }
    const uint8_t* record = archive + at;
    *entry_count = read16(record + 10);
    *offset = read32(record + 16);
    if (*offset >= size) return false;
    if (*entry_count == 0) return false;
    if (size - *offset < kCentralHeaderSize) return false;
    return true;
}

// An entry may write only below the destination: no parent references (any
// "..", which also catches harmless names like "notes..txt"), no absolute
// path, no drive letter.
bool is_unsafe_name(const char* name) {
    if (std::strstr(name, "..")) return true;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name[0] != 0 && name[1] == ':') return true;
    return false;
}

// A name that ends in a slash or backslash names a directory, not a file.
bool is_directory_name(const char* name) {
    size_t length = std::strlen(name);
    return length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\');
}

// Whether the declared method and sizes can be those of a good entry: stored
// data is as long as the file; deflated data cannot expand further than
// deflate can, and the file fits the decoder's count.
bool sizes_can_be_right(const zip_entry& entry) {
    uint64_t out_size = entry.uncompressed_size;
    if (entry.method == kMethodStored) return entry.compressed_size == out_size;
    return entry.method == kMethodDeflate && out_size <= INT32_MAX &&
           out_size <= kMaxDeflateExpansion * entry.compressed_size;
}

// Creates every directory level that path names before its last component.
// The first character is never cut, so an absolute destination does not ask
// for an empty path.
void make_parents(char* path, const zip_sink* sink) {
    for (char* p = path + 1; *p; ++p) {
        if (*p != '\\') continue;
        *p = 0;
        sink->make_directory(sink->context, path);
        *p = '\\';
    }
}

// An entry's decoded bytes: a stretch of the archive itself for a stored
// entry, a buffer of its declared size for a deflated one (owned, freed once
// the file is written).
struct entry_data {
    const uint8_t* bytes;
    uint8_t* owned;
};

// Finds and checks one file entry's data. False when the data is not where
// the local header says, the method is unknown, the sizes disagree, the
// decoder fails or yields another length, or the CRC differs.
//
// A stored entry is checked where it lies in the archive and handed on from
// there: copying it first would change nothing but the time and memory spent.
bool decode_entry(const uint8_t* archive, uint64_t size, const zip_entry& entry, entry_data* data) {
    uint64_t local = entry.local_header_offset;
    if (local > size || size - local < kLocalHeaderSize) return false;
    const uint8_t* header = archive + local;
    if (read32(header) != kLocalHeaderSignature) return false;
    uint64_t data_start = local + kLocalHeaderSize + read16(header + 26) + read16(header + 28);
    if (data_start > size || size - data_start < entry.compressed_size) return false;
    const uint8_t* compressed = archive + data_start;

    // Entries that cannot succeed are turned away before a deflated one's
    // declared size is allocated, which may be up to 4 GiB.
    if (!sizes_can_be_right(entry)) return false;
    uint64_t out_size = entry.uncompressed_size;
    if (entry.method == kMethodStored) {
        if (crc32_buffer(compressed, out_size) != entry.crc) return false;
        *data = {compressed, nullptr};
        return true;
    }
    uint8_t* out = static_cast<uint8_t*>(std::malloc(out_size > 0 ? static_cast<size_t>(out_size) : 1));
    if (!out) return false;
    if (inflate_raw(compressed, entry.compressed_size, out, out_size) != static_cast<int64_t>(out_size) ||
        crc32_buffer(out, out_size) != entry.crc) {
        std::free(out);
        return false;
    }
    *data = {out, out};
    return true;
}

// Handles one central directory entry; true when a file was written.
bool extract_entry(const uint8_t* archive, uint64_t size, const zip_entry& entry, const char* dest_dir,
                   const zip_sink* sink) {
    if (is_unsafe_name(entry.name)) return false;

    char path[kZipOutputPathSize];
    format_into(path, sizeof path, "%s%c%s", dest_dir, kPathSeparator, entry.name);
    for (char* p = path; *p; ++p)
        if (*p == '/') *p = '\\';

    if (is_directory_name(entry.name)) {
        make_parents(path, sink);
        sink->make_directory(sink->context, path);
        return false;
    }

    // The parents are made before the data is looked at, so an entry that is
    // skipped later may leave its directories behind.
    make_parents(path, sink);
    entry_data data;
    if (!decode_entry(archive, size, entry, &data)) return false;
    bool written = sink->write_file(sink->context, path, data.bytes, entry.uncompressed_size);
    std::free(data.owned);
    return written;
}

void file_make_directory(void*, const char* path) { plat_mkdir(path); }

// A file that could not be written whole (a full disk) is not left behind
// looking like a good one.
bool file_write(void*, const char* path, const uint8_t* data, uint64_t size) {
    FILE* file = plat_fopen(path, "wb");
    if (!file) return false;
    bool written = size == 0 || std::fwrite(data, 1, static_cast<size_t>(size), file) == size;
    written = std::fclose(file) == 0 && written;
    if (!written) plat_delete_file(path);
    return written;
}

uint64_t file_free_space(void*, const char* dest_dir) {
    uint64_t bytes = 0;
    return plat_disk_free(dest_dir, &bytes) ? bytes : UINT64_MAX;
}

// Reads the central header at *position into entry and moves past it. False
// at the end of the walk: every header that is read lies wholly inside the
// archive, so position never passes its end; a header that does not fit, whose
// signature is wrong or whose name, extra field or comment would run past the
// end ends the walk, since what follows it cannot be located.
bool next_entry(const uint8_t* archive, uint64_t size, uint64_t* position, zip_entry* entry) {
    if (size - *position < kCentralHeaderSize) return false;
    const uint8_t* header = archive + *position;
    if (read32(header) != kCentralHeaderSignature) return false;
    uint64_t name_length = read16(header + 28);
    uint64_t variable_length = name_length + read16(header + 30) + read16(header + 32);
    if (size - *position - kCentralHeaderSize < variable_length) return false;

    entry->method = read16(header + 10);
    entry->crc = read32(header + 16);
    entry->compressed_size = read32(header + 20);
    entry->uncompressed_size = read32(header + 24);
    entry->local_header_offset = read32(header + 42);
    uint64_t copied = name_length < kZipNameSize - 1 ? name_length : kZipNameSize - 1;
    std::memcpy(entry->name, header + kCentralHeaderSize, static_cast<size_t>(copied));
    entry->name[copied] = 0;
    *position += kCentralHeaderSize + variable_length;
    return true;
}

// The bytes of the files the walk would write, going by what the central
// directory declares: entries with a safe name, a known method and sizes
// that can be right.
uint64_t bytes_to_write(const uint8_t* archive, uint64_t size, uint64_t entry_count, uint64_t position) {
    uint64_t total = 0;
    zip_entry entry;
    for (uint64_t i = 0; i < entry_count && next_entry(archive, size, &position, &entry); ++i)
        if (!is_unsafe_name(entry.name) && !is_directory_name(entry.name) && sizes_can_be_right(entry))
            total += entry.uncompressed_size;
    return total;
}

}  // namespace

int zip_extract_from_memory(const uint8_t* archive, uint64_t size, const char* dest_dir, const zip_sink* sink) {
    uint64_t entry_count = 0;
    uint64_t position = 0;
    if (!find_central_directory(archive, size, &entry_count, &position)) return -1;
    if (sink->free_space &&
        sink->free_space(sink->context, dest_dir) < bytes_to_write(archive, size, entry_count, position))
        return 0;

    int written = 0;
    zip_entry entry;
    for (uint64_t i = 0; i < entry_count && next_entry(archive, size, &position, &entry); ++i)
        if (extract_entry(archive, size, entry, dest_dir, sink)) ++written;
    return written;
}

int zip_extract_all(const char* archive_path, const char* dest_dir) {
    file_buffer archive;
    if (!file_buffer_read(archive_path, &archive)) return -1;
    zip_sink sink = {nullptr, file_make_directory, file_write, file_free_space};
    int result = zip_extract_from_memory(archive.data, archive.size, dest_dir, &sink);
    file_buffer_free(&archive);
    return result;
}
