// Helpers for the VCDIFF tests: running both decoders, writing patches by
// hand, encoding with xdelta3, and reading window headers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "codecs/vcdiff.h"
#include "support.h"

using Bytes = std::vector<uint8_t>;

struct Applied {
    bool ok;
    Bytes out;
    vcdiff_stats stats;
};

// vcdiff_apply on copies of patch and source in heap blocks of exactly their
// sizes, so that AddressSanitizer reports any read past either; a failure
// must leave the caller's output length alone. The reference decoder
// (tests/reference) runs on the same copies and must give the same result,
// bytes and stats. Returns what vcdiff_apply gave.
Applied decode(const Bytes& patch, const Bytes& source);

// A window written by hand. With indicator bit 0x04 the checksum field holds
// bytes that are no checksum.
struct WindowPlan {
    uint8_t indicator = 0x01;
    uint64_t segment_size = 0, segment_position = 0, target_length = 0;
    uint8_t delta_indicator = 0;
    Bytes data, instructions, addresses;
};

// An integer as VCDIFF writes it, and parts joined into one.
Bytes varint(uint64_t value);
Bytes cat(std::initializer_list<Bytes> parts);
// A file header with a short application header, then the windows.
Bytes build_patch(const std::vector<WindowPlan>& windows);

// The window headers of a patch, read with the reference decoder's integer
// reader rather than the decoder under test.
struct WindowHeader {
    size_t offset;
    uint8_t indicator;
    uint64_t segment_size, segment_position, target_length;
    uint8_t delta_indicator;
    uint64_t data_length, addresses_length;
    size_t end;  // where the next window starts
};
struct PatchLayout {
    std::vector<WindowHeader> windows;
    bool complete;  // the windows end exactly at the end of the patch
};
PatchLayout read_layout(const Bytes& patch);

// Encodes with Debian's xdelta3 -e -S none, an application header and the
// extra flags given (for example "-W 16384"); without a source the patch
// copies only from the target itself. A failed run is a test failure.
Bytes xdelta3_encode(const TempDir& dir, const Bytes* source, const Bytes& target, const std::string& flags = "");

inline Bytes read_bytes(const std::string& path) {
    std::string bytes = read_file(path);
    return Bytes(bytes.begin(), bytes.end());
}
