// VCDIFF decoder. Format notes follow RFC 3284; the section numbers below are
// the RFC's.
//
// A patch is a file header and a sequence of windows. Each window rebuilds the
// next stretch of the target from three sections: data (literal bytes for ADD
// and RUN), instructions (code-table indexes, with sizes the table leaves
// open) and addresses (for COPY). A COPY address counts first through the
// window's segment (a stretch of the source, or of target already rebuilt)
// and then on through the target bytes of the current window, so a copy may
// repeat bytes it is producing itself.
#include "codecs/vcdiff.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/file_buffer.h"
#include "codecs/rom_patch.h"
#include "platform/platform.h"

namespace {

// Application headers are announced by bit 0x04 of the header indicator. The
// decoder does not look at the indicator: the patches it is made for always
// carry an application header and never a secondary compressor or a custom
// code table, so the header length sits right after the four magic bytes and
// the indicator.
constexpr size_t kHeaderLengthOffset = 5;

// Window indicator bits (section 4.2). VCD_ADLER32 is not in the RFC; encoders
// use it to announce a 4-byte Adler-32 of the window's target before the
// sections.
constexpr uint8_t kVcdSource = 0x01;
constexpr uint8_t kVcdTarget = 0x02;
constexpr uint8_t kVcdAdler32 = 0x04;
constexpr size_t kAdler32Length = 4;

// Spare room added whenever the output is sized.
constexpr size_t kOutputSlack = 4096;
// A window starts only when the output has room for its declared length and
// this much more. The output never grows in the middle of a window, so a
// window that writes past its room fails there.
constexpr size_t kWindowSlack = 8;

enum instruction_type : uint8_t { kNoop = 0, kAdd = 1, kRun = 2, kCopy = 3 };

struct instruction_half {
    uint8_t type;
    uint8_t size;  // 0: the size follows in the instructions section
    uint8_t mode;  // COPY only
};

struct code_entry {
    instruction_half first;
    instruction_half second;
};

// Address caches (section 5.1) with their default sizes.
constexpr int kNearSize = 4;
constexpr int kSameSize = 3;
constexpr int kSameEntries = kSameSize * 256;
constexpr uint8_t kModeSelf = 0;
constexpr uint8_t kModeHere = 1;
constexpr uint8_t kFirstNearMode = 2;
constexpr uint8_t kFirstSameMode = kFirstNearMode + kNearSize;  // 6
constexpr uint8_t kModeCount = kFirstSameMode + kSameSize;      // 9

struct decoder {
    code_entry table[256];

    vcdiff_cursor patch;
    const uint8_t* source;
    size_t source_length;

    uint8_t* out;
    size_t capacity;
    size_t produced;

    // The current window. The segment is a stretch of the source or, for
    // VCD_TARGET, of the output, kept as a position because the output may
    // move when it grows.
    size_t segment_position;
    size_t segment_size;
    bool segment_in_output;
    size_t window_start;
    const uint8_t* data;
    size_t data_position;
    size_t data_length;
    vcdiff_cursor instructions;
    vcdiff_cursor addresses;

    uint32_t near[kNearSize];
    uint32_t next_near;
    uint32_t same[kSameEntries];

    // The two ways of running other than into a buffer of its own. Both keep
    // the capacity that buffer would have, as the limit of every write.
    // - Planning moves no bytes: it only follows the patch, to learn how far
    //   ahead of the target the source must sit (shift) and the largest
    //   capacity the patch reaches (reach).
    // - In place, the source sits shift bytes into the caller's block, which
    //   has room for reach bytes and never moves.
    bool planning;
    bool in_place;
    size_t shift;
    size_t reach;
};

// The default code table (section 5.6), built from the RFC's rules. Within
// each range the entries step through the COPY mode first, then the ADD size,
// then the COPY size, in that nesting.
void build_code_table(code_entry* table) {
    std::memset(table, 0, 256 * sizeof *table);
    int i = 0;
    table[i++].first = {kRun, 0, 0};
    for (uint8_t size = 0; size <= 17; ++size) table[i++].first = {kAdd, size, 0};
    for (uint8_t mode = 0; mode < kModeCount; ++mode) {
        table[i++].first = {kCopy, 0, mode};
        for (uint8_t size = 4; size <= 18; ++size) table[i++].first = {kCopy, size, mode};
    }
    for (uint8_t mode = 0; mode < kFirstSameMode; ++mode)
        for (uint8_t add = 1; add <= 4; ++add)
            for (uint8_t copy = 4; copy <= 6; ++copy) table[i++] = {{kAdd, add, 0}, {kCopy, copy, mode}};
    for (uint8_t mode = kFirstSameMode; mode < kModeCount; ++mode)
        for (uint8_t add = 1; add <= 4; ++add) table[i++] = {{kAdd, add, 0}, {kCopy, 4, mode}};
    for (uint8_t mode = 0; mode < kModeCount; ++mode) table[i++] = {{kCopy, 4, mode}, {kAdd, 1, 0}};
}

uint8_t read_byte(vcdiff_cursor* cursor) {
    if (cursor->error || cursor->position >= cursor->length) {
        cursor->error = true;
        return 0;
    }
    return cursor->bytes[cursor->position++];
}

void skip(vcdiff_cursor* cursor, uint64_t count) {
    if (cursor->error || cursor->position > cursor->length || count > cursor->length - cursor->position) {
        cursor->error = true;
        return;
    }
    cursor->position += static_cast<size_t>(count);
}

// A segment of size bytes at position must lie within limit bytes. Written so
// that neither sum can wrap.
bool segment_fits(uint64_t size, uint64_t position, size_t limit) { return size <= limit && position <= limit - size; }

// Makes room for a window of target_length bytes plus kWindowSlack. When the
// buffer must grow it doubles what the output will then hold, so that a patch
// of many windows reallocates only a few times.
bool reserve_window(decoder* d, uint64_t target_length) {
    if (target_length > SIZE_MAX - kWindowSlack - d->produced) return false;
    size_t total = d->produced + static_cast<size_t>(target_length);
    if (d->capacity >= total + kWindowSlack) return true;
    if (total > (SIZE_MAX - kOutputSlack) / 2) return false;
    size_t capacity = 2 * total + kOutputSlack;
    // Planned and in place, the growth is only counted: the planned block
    // has room for the largest capacity the patch reaches.
    if (d->planning || d->in_place) {
        d->capacity = capacity;
        if (capacity > d->reach) d->reach = capacity;
        return true;
    }
    uint8_t* grown = static_cast<uint8_t*>(std::realloc(d->out, capacity));
    if (!grown) return false;
    d->out = grown;
    d->capacity = capacity;
    return true;
}

// COPY addresses (section 5.3). Instruction sizes and addresses are 32-bit
// quantities in this dialect: values read as integers are cut to 32 bits.
// The "same" modes are followed by one raw byte, not an integer.
uint32_t decode_address(decoder* d, uint8_t mode) {
    uint32_t address;
    if (mode == kModeSelf) {
        address = static_cast<uint32_t>(vcdiff_read_varint(&d->addresses));
    } else if (mode == kModeHere) {
        uint64_t here = d->segment_size + (d->produced - d->window_start);
        address = static_cast<uint32_t>(here - vcdiff_read_varint(&d->addresses));
    } else if (mode < kFirstSameMode) {
        address = d->near[mode - kFirstNearMode] + static_cast<uint32_t>(vcdiff_read_varint(&d->addresses));
    } else {
        address = d->same[(mode - kFirstSameMode) * 256 + read_byte(&d->addresses)];
    }
    d->near[d->next_near] = address;
    d->next_near = (d->next_near + 1) % kNearSize;
    d->same[address % kSameEntries] = address;
    return address;
}

// Writes n bytes at to, each a copy of the byte distance places before it.
// Where the two stretches do not overlap this is one block copy. Where they
// do, the bytes before to repeat with period distance, so each pass copies
// everything written so far and doubles what the next pass may take.
void repeat_copy(uint8_t* to, size_t distance, size_t n) {
    if (distance >= n) {
        std::memcpy(to, to - distance, n);
        return;
    }
    if (distance == 1) {
        std::memset(to, to[-1], n);
        return;
    }
    size_t done = 0;
    for (size_t gap = distance; done < n; gap *= 2) {
        size_t piece = gap < n - done ? gap : n - done;
        std::memcpy(to + done, to + done - gap, piece);
        done += piece;
    }
}

bool add(decoder* d, uint32_t size) {
    if (size > d->data_length - d->data_position) return false;
    if (size > d->capacity - d->produced) return false;
    if (!d->planning) std::memcpy(d->out + d->produced, d->data + d->data_position, size);
    d->data_position += size;
    d->produced += size;
    return true;
}

bool run(decoder* d, uint32_t size) {
    if (d->data_position >= d->data_length) return false;
    uint8_t byte = d->data[d->data_position++];
    if (size > d->capacity - d->produced) return false;
    if (!d->planning) std::memset(d->out + d->produced, byte, size);
    d->produced += size;
    return true;
}

// A COPY reads first from the segment, then from this window's own output.
// The segment is the source or output of earlier windows. Into a buffer of
// its own it never overlaps the bytes being written and moves as one block.
// In place, a source stretch that sits where its bytes go is already there,
// and one that sits ahead of them moves down over bytes already read; the
// plan put the source far enough ahead that none sits behind. Past the segment,
// the address counts on through this window's output, which must already
// exist where the copy starts; when it starts less than size bytes back, the
// copy reads bytes it is itself producing and repeats the stretch between its
// start and the current position, as a byte-by-byte copy would.
bool copy(decoder* d, uint8_t mode, uint32_t size) {
    uint32_t address = decode_address(d, mode);
    if (d->addresses.error) return false;
    if (size > d->capacity - d->produced) return false;

    uint64_t k = address;
    uint64_t end = uint64_t{address} + size;
    if (k < d->segment_size) {
        size_t n = static_cast<size_t>((end < d->segment_size ? end : d->segment_size) - k);
        size_t at = d->segment_position + static_cast<size_t>(k);
        if (d->planning) {
            if (!d->segment_in_output && d->produced > at && d->produced - at > d->shift) d->shift = d->produced - at;
        } else {
            const uint8_t* from = (d->segment_in_output ? d->out : d->source) + at;
            uint8_t* to = d->out + d->produced;
            if (from != to) std::memmove(to, from, n);
        }
        d->produced += n;
        k += n;
    }
    if (k == end) return true;

    uint64_t from = d->window_start + (k - d->segment_size);
    if (from >= d->produced) return false;
    size_t n = static_cast<size_t>(end - k);
    if (!d->planning) repeat_copy(d->out + d->produced, static_cast<size_t>(d->produced - from), n);
    d->produced += n;
    return true;
}

bool execute(decoder* d, const instruction_half& half) {
    if (half.type == kNoop) return true;
    uint32_t size = half.size;
    if (size == 0) {
        size = static_cast<uint32_t>(vcdiff_read_varint(&d->instructions));
        if (d->instructions.error) return false;
    }
    if (half.type == kAdd) return add(d, size);
    if (half.type == kRun) return run(d, size);
    return copy(d, half.mode, size);
}

// One window (section 4.2 and 4.3): its header, then its instructions.
bool decode_window(decoder* d) {
    vcdiff_cursor* p = &d->patch;
    uint8_t indicator = read_byte(p);

    // VCD_SOURCE wins when both bits are set. The segment is declared as its
    // size, then its position.
    d->segment_in_output = false;
    d->segment_position = 0;
    d->segment_size = 0;
    if (indicator & (kVcdSource | kVcdTarget)) {
        uint64_t size = vcdiff_read_varint(p);
        uint64_t position = vcdiff_read_varint(p);
        if (p->error) return false;
        if (indicator & kVcdSource) {
            if (!segment_fits(size, position, d->source_length)) return false;
        } else {
            if (!segment_fits(size, position, d->produced)) return false;
            d->segment_in_output = true;
        }
        d->segment_position = static_cast<size_t>(position);
        d->segment_size = static_cast<size_t>(size);
    }

    // The delta encoding length only repeats what the section lengths say.
    vcdiff_read_varint(p);
    uint64_t target_length = vcdiff_read_varint(p);
    // A non-zero delta indicator means sections compressed by a secondary
    // compressor, which this dialect never has.
    if (read_byte(p) != 0) return false;
    uint64_t data_length = vcdiff_read_varint(p);
    uint64_t instructions_length = vcdiff_read_varint(p);
    uint64_t addresses_length = vcdiff_read_varint(p);
    // The checksum covers the window's target; the caller checks the whole
    // result by its digest instead.
    if (indicator & kVcdAdler32) skip(p, kAdler32Length);
    if (p->error) return false;

    // The three sections follow one another; the next window starts where the
    // last of them ends.
    size_t data_at = p->position;
    skip(p, data_length);
    size_t instructions_at = p->position;
    skip(p, instructions_length);
    size_t addresses_at = p->position;
    skip(p, addresses_length);
    if (p->error) return false;

    if (!reserve_window(d, target_length)) return false;

    d->window_start = d->produced;
    d->data = p->bytes + data_at;
    d->data_position = 0;
    d->data_length = static_cast<size_t>(data_length);
    d->instructions = {p->bytes + instructions_at, 0, static_cast<size_t>(instructions_length), false};
    d->addresses = {p->bytes + addresses_at, 0, static_cast<size_t>(addresses_length), false};
    std::memset(d->near, 0, sizeof d->near);
    d->next_near = 0;
    std::memset(d->same, 0, sizeof d->same);

    // The window is not held to its declared target length, and bytes left
    // over in the data and addresses sections are ignored.
    while (d->instructions.position < d->instructions.length) {
        const code_entry& entry = d->table[read_byte(&d->instructions)];
        if (!execute(d, entry.first)) return false;
        if (!execute(d, entry.second)) return false;
    }
    return true;
}

// The file header (section 4.1), the output buffer, then every window up to
// the end of the patch.
bool decode(decoder* d) {
    // The application header is a note left by the encoder; it is skipped.
    skip(&d->patch, vcdiff_read_varint(&d->patch));
    if (d->patch.error) return false;

    // Room for the whole target of a patch that mostly copies its source, so
    // that the expected source never needs a growth. A plan has no buffer;
    // in place, the block is the caller's.
    size_t patch_length = d->patch.length;
    if (patch_length > SIZE_MAX - kOutputSlack || d->source_length > SIZE_MAX - kOutputSlack - patch_length)
        return false;
    d->capacity = d->source_length + patch_length + kOutputSlack;
    d->reach = d->capacity;
    if (!d->planning && !d->in_place) {
        d->out = static_cast<uint8_t*>(std::malloc(d->capacity));
        if (!d->out) return false;
    }

    while (d->patch.position != patch_length)
        if (!decode_window(d)) return false;
    return true;
}

// A decoder at the start of the patch, for a source of source_length bytes
// at source (none when planning).
void start(decoder* d, const uint8_t* patch, size_t patch_length, const uint8_t* source, size_t source_length) {
    build_code_table(d->table);
    d->patch = {patch, kHeaderLengthOffset, patch_length, false};
    d->source = source;
    d->source_length = source_length;
}

}  // namespace

uint64_t vcdiff_read_varint(vcdiff_cursor* cursor) {
    if (cursor->error) return 0;
    uint64_t value = 0;
    for (int i = 0; i < 10 && cursor->position < cursor->length; ++i) {
        uint8_t byte = cursor->bytes[cursor->position++];
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return value;
    }
    cursor->error = true;
    return 0;
}

uint8_t* vcdiff_apply(const uint8_t* patch, size_t patch_length, const uint8_t* source, size_t source_length,
                      size_t* out_length) {
    decoder d{};
    start(&d, patch, patch_length, source, source_length);
    if (!decode(&d)) {
        std::free(d.out);
        return nullptr;
    }
    *out_length = d.produced;
    return d.out;
}

uint8_t* vcdiff_apply_embedded(const uint8_t* source, size_t source_length, size_t* out_length) {
    return vcdiff_apply(rom_patch, rom_patch_length, source, source_length, out_length);
}

bool vcdiff_plan_in_place(const uint8_t* patch, size_t patch_length, size_t source_length, vcdiff_layout* layout) {
    decoder d{};
    start(&d, patch, patch_length, nullptr, source_length);
    d.planning = true;
    if (!decode(&d)) return false;
    if (d.shift > SIZE_MAX - source_length) return false;
    size_t block = d.shift + source_length;
    if (d.reach > block) block = d.reach;
    *layout = {d.shift, block};
    return true;
}

bool vcdiff_apply_in_place(const uint8_t* patch, size_t patch_length, uint8_t* block, const vcdiff_layout& layout,
                           size_t source_length, size_t* out_length) {
    // Planning again costs a walk over the instructions and no bytes; it
    // keeps a layout made for another patch or source from writing past the
    // block or reading overwritten source.
    vcdiff_layout needed;
    if (!vcdiff_plan_in_place(patch, patch_length, source_length, &needed)) return false;
    if (layout.source_at != needed.source_at || layout.block_size < needed.block_size) return false;
    decoder d{};
    start(&d, patch, patch_length, block + layout.source_at, source_length);
    d.in_place = true;
    d.out = block;
    if (!decode(&d)) return false;
    *out_length = d.produced;
    return true;
}

uint8_t* vcdiff_read_source(const char* path, const uint8_t* patch, size_t patch_length, size_t* source_length,
                            vcdiff_layout* layout) {
    FILE* file = plat_fopen(path, "rb");
    if (!file) return nullptr;
    uint64_t size = 0;
    uint8_t* block = nullptr;
    if (file_measure(file, &size) && size > 0) {
        if (!vcdiff_plan_in_place(patch, patch_length, static_cast<size_t>(size), layout))
            *layout = {0, static_cast<size_t>(size)};
        block = file_read_block(file, size, layout->source_at, layout->block_size);
    }
    std::fclose(file);
    if (block) *source_length = static_cast<size_t>(size);
    return block;
}
