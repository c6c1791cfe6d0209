// The launcher's codecs as commands, so the benchmark can time them the way it
// times the peer tools: a whole process, reading its input files and writing
// its output files.
//
//   pelko_codec cpu                           the SHA-256 path this processor gets
//   pelko_codec [--portable] sha256 FILE      prints "<digest>  FILE"
//   pelko_codec gunzip FILE.gz OUT            one gzip member: header, inflate_raw_stream, CRC-32 and size
//   pelko_codec inflate RAW SIZE OUT          a raw deflate stream of SIZE decoded bytes, streamed
//   pelko_codec unzip ZIP DIR                 zip_extract_all into DIR (which must exist)
//   pelko_codec vcdiff SOURCE PATCH OUT       the patch applied in place, SOURCE read as the launcher reads a dump
//   pelko_codec rom-step ROM OUT              prepare_rom: the launcher's ROM step from a dump to OUT
//   pelko_codec install-path BUNDLE DIGEST DIR ROM
//       what the launcher does with a release it has downloaded and the player's
//       dump: checks the bundle's digest, unpacks it into DIR and prepares
//       DIR/patched.nds from ROM (two digests of the ROM and the patch); prints
//       the milliseconds of each step
//
// --portable limits the processor features the codecs use to none, which
// selects the portable paths. Exit status 0 on success, 1 when the codec
// fails, 2 on a usage error.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codecs/cpu_features.h"
#include "codecs/crc32.h"
#include "codecs/file_buffer.h"
#include "codecs/inflate.h"
#include "codecs/sha256.h"
#include "codecs/vcdiff.h"
#include "codecs/zip.h"
#include "core/rom.h"
#include "core/run.h"

namespace {

int fail(const char* what, const char* path) {
    std::fprintf(stderr, "pelko_codec: %s: %s\n", what, path);
    return 1;
}

// An input file mapped read-only with its pages already in place: the bytes
// the launcher would hold in a heap block, without copying them out of the
// page cache.
struct mapped_file {
    const uint8_t* data;
    size_t size;
};

bool map_file(const char* path, mapped_file* out) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    out->size = ok ? static_cast<size_t>(st.st_size) : 0;
    out->data = nullptr;
    if (ok && out->size > 0) {
        void* p = mmap(nullptr, out->size, PROT_READ, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) madvise(p, out->size, MADV_SEQUENTIAL);
        ok = p != MAP_FAILED;
        if (ok) out->data = static_cast<const uint8_t*>(p);
    }
    close(fd);
    return ok;
}

void unmap_file(mapped_file* file) {
    if (file->data) munmap(const_cast<uint8_t*>(file->data), file->size);
    file->data = nullptr;
}

bool write_file(const char* path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    size_t written = std::fwrite(data, 1, size, file);
    return std::fclose(file) == 0 && written == size;
}

int sha256(const char* path) {
    char digest[kDigestTextSize];
    if (sha256_file_hex(path, digest) != 0) return fail("cannot hash", path);
    std::printf("%s  %s\n", digest, path);
    return 0;
}

// A decompressor's output as a tool like gunzip writes it: decoded through
// a window that stays in the cache and written out piece by piece, with the
// CRC-32 taken over each piece while it is still there.
struct stream_out {
    int fd;
    bool with_crc;
    uint32_t crc;

    static bool write(void* context, const uint8_t* bytes, uint64_t count) {
        stream_out* out = static_cast<stream_out*>(context);
        if (out->with_crc) out->crc = crc32_continue(out->crc, bytes, count);
        while (count > 0) {
            ssize_t n = ::write(out->fd, bytes, count);
            if (n <= 0) return false;
            bytes += n;
            count -= static_cast<uint64_t>(n);
        }
        return true;
    }
};

// Decodes the raw stream in[0 .. size) into the file at out_path; 0 when
// accept(count, CRC-32) takes what was written (the CRC-32 is 0 without
// with_crc).
template <typename Accept>
int inflate_to_file(const char* path, const uint8_t* in, uint64_t size, const char* out_path, bool with_crc,
                    Accept accept) {
    static uint8_t window[256 * 1024];
    stream_out out = {::open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644), with_crc, 0};
    if (out.fd < 0) return fail("cannot write", out_path);
    int64_t produced = inflate_raw_stream(in, size, window, sizeof window, stream_out::write, &out);
    bool ok = ::close(out.fd) == 0 && produced >= 0 && accept(static_cast<uint64_t>(produced), out.crc);
    return ok ? 0 : fail("cannot decode", path);
}

uint32_t load_le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// RFC 1952: a 10-byte header with optional fields that the flags announce,
// the deflate stream, then CRC-32 and the size modulo 2^32, little-endian.
int gunzip(const char* path, const char* out_path) {
    mapped_file in;
    if (!map_file(path, &in)) return fail("cannot read", path);
    const uint8_t* p = in.data;
    uint64_t n = in.size;
    bool ok = n >= 18 && p[0] == 0x1f && p[1] == 0x8b && p[2] == 8;
    uint64_t at = 10;
    uint8_t flags = ok ? p[3] : 0;
    if (ok && (flags & 0x04)) {  // FEXTRA
        ok = at + 2 <= n;
        if (ok) at += 2 + (uint64_t{p[at]} | uint64_t{p[at + 1]} << 8);
    }
    for (uint8_t text_flag : {uint8_t{0x08}, uint8_t{0x10}}) {  // FNAME, FCOMMENT
        if (!ok || !(flags & text_flag)) continue;
        while (at < n && p[at] != 0) ++at;
        ++at;
    }
    if (ok && (flags & 0x02)) at += 2;  // FHCRC
    ok = ok && at + 8 <= n;
    if (!ok) {
        unmap_file(&in);
        return fail("not a gzip file", path);
    }

    uint32_t expected_crc = load_le32(p + n - 8);
    uint32_t expected_size = load_le32(p + n - 4);  // modulo 2^32
    int status = inflate_to_file(path, p + at, n - 8 - at, out_path, true, [&](uint64_t produced, uint32_t crc) {
        return static_cast<uint32_t>(produced) == expected_size && crc == expected_crc;
    });
    unmap_file(&in);
    return status;
}

int inflate(const char* path, const char* size_text, const char* out_path) {
    mapped_file in;
    if (!map_file(path, &in)) return fail("cannot read", path);
    uint64_t size = std::strtoull(size_text, nullptr, 10);
    int status = inflate_to_file(path, in.data, in.size, out_path, false,
                                 [&](uint64_t produced, uint32_t) { return produced == size; });
    unmap_file(&in);
    return status;
}

int unzip(const char* archive, const char* dir) {
    int files = zip_extract_all(archive, dir);
    if (files <= 0) return fail("cannot extract", archive);
    return 0;
}

// The source is read as the launcher reads a dump: once, into a block laid
// out for applying the patch in place; the target is written from there.
int vcdiff(const char* source_path, const char* patch_path, const char* out_path) {
    file_buffer patch;
    if (!file_buffer_read(patch_path, &patch)) return fail("cannot read", patch_path);
    size_t source_size = 0, size = 0;
    vcdiff_layout layout;
    uint8_t* block = vcdiff_read_source(source_path, patch.data, patch.size, &source_size, &layout);
    bool applied = block && vcdiff_apply_in_place(patch.data, patch.size, block, layout, source_size, &size);
    file_buffer_free(&patch);
    if (!applied) {
        std::free(block);
        return fail(block ? "cannot apply" : "cannot read", block ? patch_path : source_path);
    }
    bool written = write_file(out_path, block, size);
    std::free(block);
    return written ? 0 : fail("cannot write", out_path);
}

// The launcher's ROM step, whole: the dump's digest, the patch, the write
// through OUT.part and its move into place, the digest of what was written.
int rom_step(const char* rom, const char* out_path) {
    return prepare_rom(rom, out_path) == kRunGoesOn ? 0 : fail("cannot prepare the ROM", rom);
}

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int install_path(const char* bundle, const char* expected_digest, const char* dir, const char* rom) {
    auto start = std::chrono::steady_clock::now();
    char digest[kDigestTextSize];
    if (sha256_file_hex(bundle, digest) != 0 || std::strcmp(digest, expected_digest) != 0)
        return fail("digest mismatch", bundle);
    double hashed = milliseconds_since(start);

    if (zip_extract_all(bundle, dir) <= 0) return fail("cannot extract", bundle);
    double extracted = milliseconds_since(start);

    char patched[1400];
    std::snprintf(patched, sizeof patched, "%s/patched.nds", dir);
    if (prepare_rom(rom, patched) != kRunGoesOn) return fail("cannot prepare the ROM", rom);
    double prepared = milliseconds_since(start);

    std::printf("bundle digest %.1f ms, extraction %.1f ms, ROM (digest, patch, write, digest) %.1f ms\n", hashed,
                extracted - hashed, prepared - extracted);
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: pelko_codec cpu | [--portable] sha256 FILE | gunzip FILE.gz OUT |\n"
                 "       inflate RAW SIZE OUT | unzip ZIP DIR | vcdiff SOURCE PATCH OUT | rom-step ROM OUT |\n"
                 "       install-path BUNDLE DIGEST DIR ROM\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "--portable") == 0) {
        cpu_features none{};
        cpu_features_limit(&none);
        ++i;
    }
    if (i >= argc) return usage();
    const char* command = argv[i];
    char** arg = argv + i + 1;
    int count = argc - i - 1;
    if (std::strcmp(command, "cpu") == 0 && count == 0) {
        std::printf("sha256: %s\n", sha256_implementation());
        return 0;
    }
    if (std::strcmp(command, "sha256") == 0 && count == 1) return sha256(arg[0]);
    if (std::strcmp(command, "gunzip") == 0 && count == 2) return gunzip(arg[0], arg[1]);
    if (std::strcmp(command, "inflate") == 0 && count == 3) return inflate(arg[0], arg[1], arg[2]);
    if (std::strcmp(command, "unzip") == 0 && count == 2) return unzip(arg[0], arg[1]);
    if (std::strcmp(command, "vcdiff") == 0 && count == 3) return vcdiff(arg[0], arg[1], arg[2]);
    if (std::strcmp(command, "rom-step") == 0 && count == 2) return rom_step(arg[0], arg[1]);
    if (std::strcmp(command, "install-path") == 0 && count == 4) return install_path(arg[0], arg[1], arg[2], arg[3]);
    return usage();
}
