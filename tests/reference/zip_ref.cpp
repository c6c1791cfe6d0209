// The reference ZIP walk, as the launcher first had it: find the end record,
// walk the central directory, reach each entry's data through its local
// header, decode stored or deflated data into a fresh buffer of the declared
// size with the reference decoder, check the reference CRC-32 and hand the
// file on. The format notes are in codecs/zip.cpp; change neither the walk nor
// its rules here.
#include "tests/reference/zip_ref.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tests/reference/crc32_ref.h"
#include "tests/reference/inflate_ref.h"
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

// Decodes one file entry into a buffer of its declared size. Null when the
// data is not where the local header says, the method is unknown, the sizes
// disagree, the decoder fails or yields another length, or the CRC differs.
uint8_t* decode_entry(const uint8_t* archive, uint64_t size, const zip_entry& entry) {
    uint64_t local = entry.local_header_offset;
    if (local > size || size - local < kLocalHeaderSize) return nullptr;
    const uint8_t* header = archive + local;
    if (read32(header) != kLocalHeaderSignature) return nullptr;
    uint64_t data_start = local + kLocalHeaderSize + read16(header + 26) + read16(header + 28);
    if (data_start > size || size - data_start < entry.compressed_size) return nullptr;
    const uint8_t* data = archive + data_start;

    // Entries that cannot succeed are turned away before their declared size
    // is allocated, which may be up to 4 GiB.
    uint64_t out_size = entry.uncompressed_size;
    if (entry.method == kMethodStored) {
        if (entry.compressed_size != out_size) return nullptr;
    } else if (entry.method == kMethodDeflate) {
        if (out_size > INT32_MAX || out_size > kMaxDeflateExpansion * entry.compressed_size) return nullptr;
    } else {
        return nullptr;
    }

    uint8_t* out = static_cast<uint8_t*>(std::malloc(out_size > 0 ? static_cast<size_t>(out_size) : 1));
    if (!out) return nullptr;
    bool decoded;
    if (entry.method == kMethodStored) {
        if (out_size > 0) std::memcpy(out, data, static_cast<size_t>(out_size));
        decoded = true;
    } else {
        decoded = inflate_ref_raw(data, entry.compressed_size, out, out_size) == static_cast<int64_t>(out_size);
    }
    if (!decoded || crc32_ref_buffer(out, out_size) != entry.crc) {
        std::free(out);
        return nullptr;
    }
    return out;
}

// Handles one central directory entry; true when a file was written.
bool extract_entry(const uint8_t* archive, uint64_t size, const zip_entry& entry, const char* dest_dir,
                   const zip_sink* sink) {
    if (is_unsafe_name(entry.name)) return false;

    char path[kZipOutputPathSize];
    format_into(path, sizeof path, "%s%c%s", dest_dir, kPathSeparator, entry.name);
    for (char* p = path; *p; ++p)
        if (*p == '/') *p = '\\';

    size_t name_length = std::strlen(entry.name);
    char last = name_length > 0 ? entry.name[name_length - 1] : 0;
    if (last == '/' || last == '\\') {
        make_parents(path, sink);
        sink->make_directory(sink->context, path);
        return false;
    }

    // The parents are made before the data is looked at, so an entry that is
    // skipped later may leave its directories behind.
    make_parents(path, sink);
    uint8_t* data = decode_entry(archive, size, entry);
    if (!data) return false;
    bool written = sink->write_file(sink->context, path, data, entry.uncompressed_size);
    std::free(data);
    return written;
}

}  // namespace

int zip_ref_extract_from_memory(const uint8_t* archive, uint64_t size, const char* dest_dir, const zip_sink* sink) {
    uint64_t entry_count = 0;
    uint64_t position = 0;
    if (!find_central_directory(archive, size, &entry_count, &position)) return -1;

    // Every header that is read lies wholly inside the archive, so position
    // never passes its end. A header that does not fit, whose signature is
    // wrong or whose name, extra field or comment would run past the end ends
    // the walk: what follows it cannot be located.
    int written = 0;
    for (uint64_t i = 0; i < entry_count; ++i) {
        if (size - position < kCentralHeaderSize) break;
        const uint8_t* header = archive + position;
        if (read32(header) != kCentralHeaderSignature) break;
        uint64_t name_length = read16(header + 28);
        uint64_t variable_length = name_length + read16(header + 30) + read16(header + 32);
        if (size - position - kCentralHeaderSize < variable_length) break;

        zip_entry entry;
        entry.method = read16(header + 10);
        entry.crc = read32(header + 16);
        entry.compressed_size = read32(header + 20);
        entry.uncompressed_size = read32(header + 24);
        entry.local_header_offset = read32(header + 42);
        uint64_t copied = name_length < kZipNameSize - 1 ? name_length : kZipNameSize - 1;
        std::memcpy(entry.name, header + kCentralHeaderSize, static_cast<size_t>(copied));
        entry.name[copied] = 0;
        position += kCentralHeaderSize + variable_length;

        if (extract_entry(archive, size, entry, dest_dir, sink)) ++written;
    }
    return written;
}

