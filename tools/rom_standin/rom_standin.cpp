#include "tools/rom_standin/rom_standin.h"

#include <cstring>

namespace {

// splitmix64: a tiny generator with a full 64-bit period, written out here so
// that the images never depend on a library's choice of algorithm.
struct splitmix64 {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Little-endian bytes of successive outputs, so the images are the same on
    // every host.
    void fill(uint8_t* out, size_t length) {
        while (length > 0) {
            uint64_t word = next();
            for (int i = 0; i < 8 && length > 0; ++i, --length) {
                *out++ = static_cast<uint8_t>(word);
                word >>= 8;
            }
        }
    }
};

constexpr uint64_t kDumpSeed = 0x50454C4B4F44554Dull;  // "PELKODUM"
constexpr uint64_t kEditSeed = 0x50454C4B4F454454ull;  // "PELKOEDT"

// The DS cartridge header keeps the checksum of the logo at 0x15C; the
// launcher's usable-ROM test looks for exactly these two bytes.
constexpr size_t kLogoChecksumOffset = 0x15C;

// Window geometry the edits aim at. The encoder cuts the target into 8 MiB
// windows and names, per window, the stretch of the source between the lowest
// and the highest source byte it copies.
constexpr size_t kWindowLength = 8388608;
// Net growth of the target, made by one insertion in the first window: from
// there on target byte x is source byte x - 592, so the second window is one
// copy of the source from 8,388,016 and the third starts at 16,776,624.
constexpr size_t kInsertAt = 0x8000;
constexpr size_t kInsertLength = kStandinTargetLength - kStandinDumpLength;  // 592
// A block of the source that ends at 19,116,216 is copied into the first
// window, so that window's source segment reaches up to there.
constexpr size_t kBorrowedEnd = 19116216;
constexpr size_t kBorrowedLength = 4096;
constexpr size_t kBorrowAt = 0x200000;

enum edit_kind { kRandom, kFill };
struct rom_edit {
    size_t at;      // target offset
    size_t length;  // bytes overwritten
    edit_kind kind;
    uint8_t fill;
};

// Overwrites in place: they change bytes, never the length. Those in the first
// window make ADD and RUN instructions around its copies; those in the third
// stay clear of its first and last bytes, which must remain copies of the
// source to keep its segment at [16,776,624, 23,288,104).
constexpr rom_edit kEdits[] = {
    {0x00010, 16, kRandom, 0},
    {0x00200, 1, kRandom, 0},
    {0x01000, 48, kFill, 0x00},
    {0x04000, 3, kRandom, 0},
    {0x10000, 200, kRandom, 0},
    {0x40000, 96, kFill, 0xFF},
    {0x123456, 7, kRandom, 0},
    {0x300000, 1000, kRandom, 0},
    {0x5A5A5A, 33, kRandom, 0},
    {0x7F0000, 64, kFill, 0x20},
    {16777216 + 0x10000, 5, kRandom, 0},
    {16777216 + 0x80000, 300, kRandom, 0},
    {16777216 + 0x1F0000, 1, kRandom, 0},
    {16777216 + 0x333333, 64, kFill, 0x00},
    {16777216 + 0x400000, 17, kRandom, 0},
    {16777216 + 0x600000, 120, kRandom, 0},
};

}  // namespace

std::vector<uint8_t> standin_dump() {
    std::vector<uint8_t> dump(kStandinDumpLength);
    splitmix64 random{kDumpSeed};
    random.fill(dump.data(), dump.size());
    dump[kLogoChecksumOffset] = 0x56;
    dump[kLogoChecksumOffset + 1] = 0xCF;
    return dump;
}

std::vector<uint8_t> standin_target(const std::vector<uint8_t>& dump) {
    static_assert(kInsertAt + kInsertLength < kWindowLength, "the insertion belongs to the first window");
    static_assert(kBorrowAt + kBorrowedLength < kWindowLength, "the borrowed block belongs to the first window");
    std::vector<uint8_t> target(kStandinTargetLength);
    if (dump.size() != kStandinDumpLength) return {};
    splitmix64 random{kEditSeed};

    std::memcpy(target.data(), dump.data(), kInsertAt);
    // The insertion: a run of zeros, fresh bytes, a run of 0xFF.
    uint8_t* inserted = target.data() + kInsertAt;
    const size_t run = 160;
    std::memset(inserted, 0x00, run);
    random.fill(inserted + run, kInsertLength - 2 * run);
    std::memset(inserted + kInsertLength - run, 0xFF, run);
    std::memcpy(inserted + kInsertLength, dump.data() + kInsertAt, kStandinDumpLength - kInsertAt);

    std::memcpy(target.data() + kBorrowAt, dump.data() + kBorrowedEnd - kBorrowedLength, kBorrowedLength);

    for (const rom_edit& edit : kEdits) {
        if (edit.kind == kFill) std::memset(target.data() + edit.at, edit.fill, edit.length);
        else random.fill(target.data() + edit.at, edit.length);
    }
    return target;
}
