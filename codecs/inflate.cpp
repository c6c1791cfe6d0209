// A table-driven raw deflate decoder (RFC 1951) for whole buffers in memory.
//
// What it is: the decoder the ZIP reader uses for deflated entries. It takes
// one whole compressed entry and writes into one buffer that the caller sized
// to the entry's declared length; back-references copy from that buffer, and
// there is no heap use. The tables of a dynamic block live in its own stack
// frame (about 20 KB); those of the fixed code are built once per process and
// shared. For output of any length, the same loops decode into a window the
// caller gives, and hand the bytes on each time it fills, keeping the last
// 32 KiB for the back-references after (inflate_raw_stream): output that is
// written out as it comes stays in the cache, and no buffer of its whole size
// is faulted in.
//
// What it must do: decode each stream as RFC 1951 reads it, one bit at a
// time, and fail where that reading fails: on the first bit it would need
// past the end of the input, and on any write that would pass the output
// capacity. It is more lenient than stricter decoders such as zlib, on
// purpose: incomplete and over-subscribed codes decode whatever their
// canonical walk assigns, NLEN is not compared, a code-length run past the end
// of the lengths is cut, and input after the final block is ignored. It never
// writes at or past the capacity, and never reads a byte of output that it has
// not written itself. The tests hold it to zlib wherever zlib decodes a
// stream, and to streams written by hand, with their own bytes, where only
// this decoder does.
//
// How it is fast:
// - Each Huffman code is decoded with one lookup (two for rare long codes) in
//   a table built per dynamic block (the fixed code's once per process),
//   instead of one step per bit.
// - Input is read 64 bits at a time into a bit buffer, and the slot of the
//   next code is looked up before the buffer is topped up, so that lookups
//   do not wait for input loads.
// - A slot says where the index of the next lookup lies in the bit buffer
//   (past its own bits, as wide as the next table's first level), so that
//   with BMI1's bit-field extraction one instruction leads from a slot to the
//   next lookup: a chain of lookups, each waiting for the one before, is what
//   decoding time is mostly made of.
// - The main loop runs while at least 16 input bytes and kFastOutput bytes of
//   output room are left. There no bit it reads can lie past the input and no
//   symbol can overflow the output, so it checks neither. Near either end a
//   careful loop takes over, one symbol at a time, checking each field as it
//   is read. The slow cases are handled once, at the edge.
// - In the main loop, matches are copied in whole 8-byte words, the first
//   four whatever the length, so most take no branch on their length; the
//   words may run up to 29 bytes past the match. Those bytes are not promised
//   to the caller: the symbols after the match write over them, and whatever
//   is left past the last symbol is unspecified (codecs/inflate.h).
// - On processors with BMI1 and BMI2 the block loop runs as a copy compiled
//   for them.
//
// Limits: one call writes less than 2 GiB (the result is a signed 32-bit
// count). Both buffers are the caller's.
#include "codecs/inflate.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "codecs/cpu_features.h"

namespace {

// ---------------------------------------------------------------------------
// Decode tables

// How many bits each first-level table is indexed by. A code up to that long
// takes one lookup; a longer one takes a second lookup, in a table linked
// from the first. Code-length codes are at most 7 bits, so their table has
// one level.
constexpr int kLiteralLengthBits = 11;
constexpr int kDistanceBits = 8;
constexpr int kCodeLengthBits = 7;
constexpr uint64_t kDistanceMask = (1u << kDistanceBits) - 1;

constexpr int kMaxCodeBits = 15;

// The low 16 bits of every literal/length and distance slot are the control
// word of a bit-field extraction (BMI1's BEXTR): bits 0..7 where the field
// starts, bits 8..15 how wide it is. For a symbol the field starts past the
// slot's own bits (its code, and for a length or distance its extra bits too:
// all that the symbol takes from the stream) and is as wide as the first
// level of the table looked up next, so it is the index of the next lookup.
// For a link the field starts past the first level's bits and is as wide as
// the index of the second-level table. The low byte is also how many bits
// taking the slot drops from the bit buffer.
//
// Literal/length slots, 32 bits, of these kinds, told apart by bits 28..31:
//   kLiteral      bits 8..15 kLiteralLengthBits; bits 16..23 the byte
//   kLength       bits 8..15 kDistanceBits; bits 16..23 the base length
//                 minus 3; bits 24..27 the length of the code alone
//   kEndOfBlock   bits 0..7 its code length
//   kLink         bits 0..7 kLiteralLengthBits; bits 8..15 the second
//                 level's index bits; bits 16..27 where it starts
//   0             no symbol: the bits lead to no code within 15 bits, or to
//                 a symbol with no meaning (literal/length 286 and 287).
//                 Meeting one fails the stream.
// Code-length slots are literal slots with the symbol for the byte and no
// next index: the codes of a block header are decoded one at a time.
constexpr uint32_t kEndOfBlock = 1u << 28;
constexpr uint32_t kLink = 1u << 29;
constexpr uint32_t kLength = 1u << 30;
constexpr uint32_t kLiteral = 1u << 31;

// Distance slots, 64 bits:
//   distance        bits 8..15 kLiteralLengthBits; bits 16..23 the length of
//                   the code alone and bits 24..31 the number of extra bits,
//                   the control word that extracts the extra bits; bits
//                   32..47 the base distance
//   kDistanceLink   as for literal/length links, with kDistanceBits in bits
//                   0..7 and where the second level starts in bits 32..47
//   0               no symbol, which reads as distance 0: refused by the
//                   same test as a distance that reaches before the output
//                   (distance codes 30 and 31, and bit strings of incomplete
//                   codes)
constexpr uint64_t kDistanceLink = uint64_t{1} << 63;

// Room for the second-level tables of a code over symbol_count symbols whose
// first level has bits index bits. Format notes: canonical codes are handed
// out in order of length, each starting right after the one before, so the
// long codes fill one stretch of the code space from where the short ones end.
// Every first-level prefix in that stretch is filled completely, except the
// last one when the code is incomplete (an over-subscribed code is cut at the
// length where it runs out of room, and fills its last prefix). A prefix whose
// codes all have one length L gets a table of 2^(L - bits) slots, one per code
// in it. Every other prefix (the last one, and those where the length steps
// up, at most 14 - bits of them since lengths only grow) gets at most
// 2^(15 - bits) slots. Hence no more than
//   symbol_count + (15 - bits) * 2^(15 - bits)
// slots in all.
constexpr int second_level_room(int symbol_count, int bits) {
    return symbol_count + (kMaxCodeBits - bits) * (1 << (kMaxCodeBits - bits));
}
constexpr int kLiteralLengthTableSize = (1 << kLiteralLengthBits) + second_level_room(288, kLiteralLengthBits);
constexpr int kDistanceTableSize = (1 << kDistanceBits) + second_level_room(30, kDistanceBits);
constexpr int kCodeLengthTableSize = 1 << kCodeLengthBits;
static_assert(kLiteralLengthTableSize <= 1 << 12, "a literal/length link holds where its table starts in 12 bits");
static_assert(kDistanceTableSize <= 1 << 16, "a distance link holds where its table starts in 16 bits");

// The two tables of a compressed block.
struct block_tables {
    uint32_t literal_length[kLiteralLengthTableSize];
    uint64_t distance[kDistanceTableSize];
};

// Format notes: the length and distance tables are those of RFC 1951, 3.2.5.
// Length symbols 257..285 carry a base length and a number of extra bits; 285
// means 258 with no extra bits. Distance symbols 0..29 likewise.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic header sends the code-length code's lengths:
// the ones most likely to be zero come last, so HCLEN can leave them out.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// HLIT and HDIST as sent can name up to 288 and 32 codes; only 286 and 30 have
// a meaning.
constexpr int kMaxLiteralLengthCodes = 286;
constexpr int kMaxDistanceCodes = 30;

// What a code of length n makes of a symbol's slot: the slot below, plus n
// times the symbol's step (the code's bits counted where the slot counts
// them: the bits taken, and for lengths and distances the length of the code
// alone).
template <typename Slot>
struct symbol_slot {
    Slot slot;
    Slot step;
};

constexpr std::array<symbol_slot<uint32_t>, 288> literal_length_slots() {
    std::array<symbol_slot<uint32_t>, 288> slots{};
    for (uint32_t s = 0; s < 256; ++s) slots[s] = {kLiteral | (s << 16) | (kLiteralLengthBits << 8), 1};
    slots[256] = {kEndOfBlock, 1};
    for (uint32_t s = 257; s < 286; ++s)
        slots[s] = {kLength | (uint32_t{kLengthBase[s - 257]} - 3) << 16 | kDistanceBits << 8 | kLengthExtra[s - 257],
                    1 + (1u << 24)};
    return slots;  // 286 and 287 stay 0, whatever their code
}
constexpr std::array<symbol_slot<uint64_t>, 30> distance_slots() {
    std::array<symbol_slot<uint64_t>, 30> slots{};
    for (uint64_t s = 0; s < 30; ++s)
        slots[s] = {uint64_t{kDistanceBase[s]} << 32 | uint64_t{kDistanceExtra[s]} << 24 | kLiteralLengthBits << 8 |
                        kDistanceExtra[s],
                    1 + (1u << 16)};
    return slots;
}
constexpr std::array<symbol_slot<uint32_t>, 19> code_length_slots() {
    std::array<symbol_slot<uint32_t>, 19> slots{};
    for (uint32_t s = 0; s < 19; ++s) slots[s] = {kLiteral | (s << 16), 1};
    return slots;
}
constexpr std::array<symbol_slot<uint32_t>, 288> kLiteralLengthSlots = literal_length_slots();
constexpr std::array<symbol_slot<uint64_t>, 30> kDistanceSlots = distance_slots();
constexpr std::array<symbol_slot<uint32_t>, 19> kCodeLengthSlots = code_length_slots();

// The first-level slot that links to a second-level table of index_bits
// bits at start.
constexpr uint32_t literal_length_link(uint32_t start, uint32_t index_bits) {
    return kLink | start << 16 | index_bits << 8 | kLiteralLengthBits;
}
constexpr uint64_t distance_link(uint32_t start, uint32_t index_bits) {
    return kDistanceLink | uint64_t{start} << 32 | index_bits << 8 | kDistanceBits;
}

// Where a link's second-level table starts.
inline uint32_t link_start(uint32_t link) { return (link >> 16) & 0xFFF; }
inline uint32_t link_start(uint64_t link) { return static_cast<uint32_t>(link >> 32) & 0xFFFF; }

constexpr std::array<uint8_t, 256> byte_reversals() {
    std::array<uint8_t, 256> reversed{};
    for (uint32_t n = 0; n < 256; ++n)
        for (uint32_t bit = 0; bit < 8; ++bit)
            if (n & (1u << bit)) reversed[n] = static_cast<uint8_t>(reversed[n] | (0x80u >> bit));
    return reversed;
}
constexpr std::array<uint8_t, 256> kByteReversed = byte_reversals();

// The low count bits of value (count 1 to 16) in reverse order.
inline uint32_t reverse_bits(uint32_t value, uint32_t count) {
    uint32_t reversed16 = (uint32_t{kByteReversed[value & 0xFF]} << 8) | kByteReversed[(value >> 8) & 0xFF];
    return reversed16 >> (16 - count);
}

// Builds the decode table of the code given by lengths[0 .. symbol_count)
// (0 to 15; 0: the symbol has no code). table has table_size slots, the first
// 2^bits of them the first level. slots[s] is symbol s's slot without its
// code; link makes the link to a second-level table. False only if the
// second-level tables would not fit, which the room reserved above rules out.
//
// Format notes: Huffman codes are sent most significant bit first, while the
// bit buffer holds the next bit lowest, so a code is found at the index of its
// bits reversed; a code shorter than the index fills every slot whose low bits
// it matches.
//
// Read canonically, one bit at a time, the codes of each length are the
// numbers first .. first + count - 1, each standing for the next symbol of
// that length in increasing symbol order, and anything above is a longer code
// (first doubles as the length grows). The table holds exactly that mapping,
// for every code set:
// - an over-subscribed set runs out of room at some length: its codes there
//   stop at 2^length - 1, the rest of its symbols are never reached, and no
//   longer code exists;
// - an incomplete set leaves bit strings that reach no symbol within 15 bits:
//   their slots stay 0, and decoding them fails.
template <typename Slot, typename MakeLink>
bool build_table(Slot* table, int table_size, int bits, const uint8_t* lengths, int symbol_count,
                 const symbol_slot<Slot>* slots, MakeLink link) {
    uint16_t count[kMaxCodeBits + 1] = {};
    for (int symbol = 0; symbol < symbol_count; ++symbol) count[lengths[symbol]]++;
    count[0] = 0;

    // The symbols with a code, by length and then by value.
    uint16_t start[kMaxCodeBits + 2];
    start[1] = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) start[len + 1] = static_cast<uint16_t>(start[len] + count[len]);
    uint16_t sorted[288];
    uint16_t place[kMaxCodeBits + 1];
    std::memcpy(place, start, sizeof place);
    for (int symbol = 0; symbol < symbol_count; ++symbol)
        if (lengths[symbol] != 0) sorted[place[lengths[symbol]]++] = static_cast<uint16_t>(symbol);

    // The canonical walk: the first code of each length and how many codes of
    // that length are reachable.
    uint32_t first[kMaxCodeBits + 1];
    uint32_t reached[kMaxCodeBits + 1];
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        uint32_t room = code < (1u << len) ? (1u << len) - code : 0;
        first[len] = code;
        reached[len] = count[len] < room ? count[len] : room;
        code = (code + count[len]) << 1;
    }

    auto coded = [&](int len, uint32_t k) {
        const symbol_slot<Slot>& s = slots[sorted[start[len] + k]];
        return static_cast<Slot>(s.slot + s.step * static_cast<Slot>(len));
    };

    // The first level is filled one length at a time: the slots of codes up
    // to some length repeat every 2^length slots, so once that length is
    // done, the filled part is copied to double it, and the codes of the next
    // length go into their own slots. Slots no code reaches stay 0.
    const uint32_t first_level = 1u << bits;
    table[0] = 0;
    uint32_t filled = 1;
    for (int len = 1; len <= bits; ++len) {
        std::memcpy(table + filled, table, filled * sizeof *table);
        filled *= 2;
        for (uint32_t k = 0; k < reached[len]; ++k) table[reverse_bits(first[len] + k, len)] = coded(len, k);
    }

    uint32_t used = first_level;
    uint32_t prefix = UINT32_MAX;  // the first-level prefix of the current second-level table
    uint32_t second = 0;           // where that table starts
    uint32_t second_bits = 0;      // and its index bits
    for (int len = bits + 1; len <= kMaxCodeBits; ++len) {
        for (uint32_t k = 0; k < reached[len]; ++k) {
            uint32_t c = first[len] + k;
            Slot slot = coded(len, k);
            uint32_t low_bits = static_cast<uint32_t>(len - bits);
            if (c >> low_bits != prefix) {
                // A new prefix: its table is indexed by as many bits as the
                // longest code that shares it has beyond the first level.
                // Longer codes come later in the walk, with prefixes that
                // never decrease, so the longest one is the last length whose
                // first code still has this prefix.
                prefix = c >> low_bits;
                int longest = len;
                for (int l = len + 1; l <= kMaxCodeBits; ++l)
                    if (reached[l] != 0 && first[l] >> (l - bits) == prefix) longest = l;
                second_bits = static_cast<uint32_t>(longest - bits);
                second = used;
                if (used + (1u << second_bits) > static_cast<uint32_t>(table_size)) return false;
                used += 1u << second_bits;
                std::memset(table + second, 0, (size_t{1} << second_bits) * sizeof *table);
                table[reverse_bits(prefix, bits)] = link(second, second_bits);
            }
            uint32_t low = c & ((1u << low_bits) - 1);
            for (uint32_t i = reverse_bits(low, low_bits); i < (1u << second_bits); i += 1u << low_bits)
                table[second + i] = slot;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Reading bits

// Format notes: a deflate stream is a sequence of bits packed into bytes
// starting at each byte's least significant bit, so the bit buffer takes whole
// bytes in at its top and hands bits out at its bottom.
struct bit_reader {
    const uint8_t* next;  // the first input byte not yet in the buffer
    const uint8_t* end;
    uint64_t bits;   // the next bit lowest; above count, at most the low bits of *next, put there early
    uint32_t count;  // input bits in the buffer, 0 to 63; in the fast loop, only its low byte
};

// Eight bytes as a word whose least significant byte is the one at p, as
// the bit buffer and the copies of short patterns want them.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

PELKO_ALWAYS_INLINE uint64_t load_le64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return kLittleEndian ? word : __builtin_bswap64(word);
}

PELKO_ALWAYS_INLINE void store_le64(uint8_t* p, uint64_t word) {
    if (!kLittleEndian) word = __builtin_bswap64(word);
    std::memcpy(p, &word, sizeof word);
}

// Tops the buffer up to 56 bits or more with one 8-byte load; needs 8 input
// bytes left. Whole bytes are counted; the bits of the next byte that also
// land in the buffer are the same ones the next load puts there again.
PELKO_ALWAYS_INLINE void refill_word(bit_reader* r) {
    uint32_t count = static_cast<uint8_t>(r->count);
    r->bits |= load_le64(r->next) << count;
    r->next += 7 - (count >> 3);
    r->count |= 56;
}

// Tops the buffer up as far as the input allows: to 56 bits or more, or with
// every byte left when fewer remain.
inline void refill(bit_reader* r) {
    if (r->end - r->next >= 8) {
        refill_word(r);
        return;
    }
    while (r->count < 56 && r->next < r->end) {
        r->bits |= uint64_t{*r->next++} << r->count;
        r->count += 8;
    }
}

inline void consume(bit_reader* r, uint32_t n) {
    r->bits >>= n;
    r->count -= n;
}

// Takes n bits (up to 16), the first one least significant. False when the
// input ends first: a stream fails on the first bit it needs past the end of
// the input.
inline bool take_bits(bit_reader* r, uint32_t n, uint32_t* value) {
    if (r->count < n) {
        refill(r);
        if (r->count < n) return false;
    }
    *value = static_cast<uint32_t>(r->bits) & ((1u << n) - 1);
    consume(r, n);
    return true;
}

// The field that the control word in the low 16 bits of control describes:
// bits [control 0..7] onwards of word, [control 8..15] of them.
PELKO_ALWAYS_INLINE uint64_t bit_field(uint64_t word, uint64_t control) {
    uint32_t from = static_cast<uint8_t>(control);
    uint32_t width = static_cast<uint8_t>(control >> 8);
    return (word >> (from & 63)) & ((uint64_t{1} << (width & 63)) - 1);
}

// The slot for the code at the bottom of bits, in one lookup or two.
template <typename Slot>
PELKO_ALWAYS_INLINE Slot lookup(const Slot* table, int first_bits, uint64_t bits, Slot link_kind) {
    Slot slot = table[bits & ((1u << first_bits) - 1)];
    if (slot & link_kind) slot = table[link_start(slot) + bit_field(bits, slot)];
    return slot;
}

// Decodes one literal/length or code-length code and takes its bits (not the
// extra bits of a length). 0 when the bits lead to no symbol, or to a code
// longer than the input has left. Bits past the end of the input read as
// zeros, which cannot matter: the code found is decided by its own bits
// only, so a code that fits in what is left is found all the same.
inline uint32_t decode_careful(bit_reader* r, const uint32_t* table, int first_bits) {
    if (r->count < kMaxCodeBits) refill(r);
    uint32_t slot = lookup(table, first_bits, r->bits, kLink);
    uint32_t code_bits = slot & kLength ? (slot >> 24) & 15 : slot & 0xFF;
    if (!(slot & (kLiteral | kLength | kEndOfBlock)) || code_bits > r->count) return 0;
    consume(r, code_bits);
    return slot;
}

// The same for a distance code: 0 when there is none.
inline uint64_t decode_careful_distance(bit_reader* r, const uint64_t* table) {
    if (r->count < kMaxCodeBits) refill(r);
    uint64_t slot = lookup(table, kDistanceBits, r->bits, kDistanceLink);
    uint32_t code_bits = static_cast<uint8_t>(slot >> 16);
    if (slot == 0 || code_bits > r->count) return 0;
    consume(r, code_bits);
    return slot;
}

// The length of a length slot whose code decode_careful took: its extra bits
// follow.
inline bool take_length(bit_reader* r, uint32_t slot, uint32_t* length) {
    if (!take_bits(r, (slot & 0xFF) - ((slot >> 24) & 15), length)) return false;
    *length += ((slot >> 16) & 0xFF) + 3;
    return true;
}

inline bool take_distance(bit_reader* r, uint64_t slot, uint32_t* distance) {
    if (!take_bits(r, static_cast<uint8_t>(slot >> 24), distance)) return false;
    *distance += static_cast<uint32_t>(slot >> 32) & 0xFFFF;
    return true;
}

// ---------------------------------------------------------------------------
// The fast loop's bit operations, in two builds: portable, and with BMI1 and
// BMI2, whose bit-field extraction (BEXTR) and masking (BZHI) take one
// instruction each where the portable code takes two to four.

template <bool kBmi>
struct fast_bits;

template <>
struct fast_bits<false> {
    // The index of the next lookup, in a table whose first level has width
    // bits: the bits after the slot's own.
    template <int width, typename Slot>
    static PELKO_ALWAYS_INLINE uint64_t next_index(uint64_t bits, Slot slot) {
        return (bits >> (slot & 63)) & ((1u << width) - 1);
    }
    // The bits after the slot's own, for a literal/length slot whose kind is
    // not known yet; either index can be taken from them.
    static PELKO_ALWAYS_INLINE uint64_t after(uint64_t bits, uint32_t slot) { return bits >> (slot & 63); }
    static PELKO_ALWAYS_INLINE uint64_t literal_length_index(uint64_t after) {
        return after & ((1u << kLiteralLengthBits) - 1);
    }
    static PELKO_ALWAYS_INLINE uint64_t field(uint64_t word, uint64_t control) { return bit_field(word, control); }
    // The low n bits of word, n from 0 to 63.
    static PELKO_ALWAYS_INLINE uint64_t low_bits(uint64_t word, uint32_t n) {
        return word & ((uint64_t{1} << (n & 63)) - 1);
    }
};

#if PELKO_CPU_X86
// Written as instructions, since the compiler does not form BEXTR and BZHI
// from the shifts and masks above; only called after cpuid has reported BMI1
// and BMI2 (the decoder that uses them is chosen in inflate_raw).
template <>
struct fast_bits<true> {
    template <int width, typename Slot>
    static PELKO_ALWAYS_INLINE uint64_t next_index(uint64_t bits, Slot slot) {
        return field(bits, slot);
    }
    // Here the field the slot names, already as wide as a literal/length
    // index after a literal, and narrower after anything else.
    static PELKO_ALWAYS_INLINE uint64_t after(uint64_t bits, uint32_t slot) { return field(bits, slot); }
    static PELKO_ALWAYS_INLINE uint64_t literal_length_index(uint64_t after) { return after; }
    static PELKO_ALWAYS_INLINE uint64_t field(uint64_t word, uint64_t control) {
        uint64_t result;
        __asm__("bextr %2, %1, %0" : "=r"(result) : "r"(word), "r"(control));
        return result;
    }
    static PELKO_ALWAYS_INLINE uint64_t low_bits(uint64_t word, uint32_t n) {
        uint64_t result;
        __asm__("bzhi %2, %1, %0" : "=r"(result) : "r"(word), "r"(uint64_t{n}));
        return result;
    }
};
#endif

// The fast loop's way of taking a slot's bits: the slot is subtracted from
// the count, whose low byte stays right (the slot's low byte is the number of
// bits) while the bytes above it collect borrows nobody reads. That saves
// masking the slot on every symbol.
template <typename Slot>
PELKO_ALWAYS_INLINE void take_slot(bit_reader* r, Slot slot) {
    r->bits >>= static_cast<uint8_t>(slot);
    r->count -= static_cast<uint32_t>(slot);
}

// A length slot's length, from the bits that start with its code.
template <bool kBmi>
PELKO_ALWAYS_INLINE uint32_t length_of(uint64_t bits, uint32_t slot) {
    uint32_t coded = static_cast<uint32_t>(fast_bits<kBmi>::low_bits(bits, slot & 0xFF));
    return ((slot >> 16) & 0xFF) + 3 + (coded >> ((slot >> 24) & 15));
}

// A distance slot's distance, from the bits that start with its code: 0 for
// a slot without a symbol.
template <bool kBmi>
PELKO_ALWAYS_INLINE uint32_t distance_of(uint64_t bits, uint64_t slot) {
    uint32_t extra = static_cast<uint32_t>(fast_bits<kBmi>::field(bits, slot >> 16));
    return (static_cast<uint32_t>(slot >> 32) & 0xFFFF) + extra;
}

// ---------------------------------------------------------------------------
// Writing output

// Format notes: a distance reaches at most 32,768 bytes back.
constexpr ptrdiff_t kHistory = 32768;

// Where decoded bytes go. For a whole buffer, start..end is all the room
// there is. For a stream, start..end is the window: when it fills, what was
// decoded since the last hand-over goes to the writer and the last kHistory
// bytes move to the front, where back-references still find them.
struct stream_sink {
    inflate_writer write;
    void* context;
    uint8_t* unsent;  // the first byte not yet handed over
    uint64_t moved;   // bytes dropped from the front of the window so far
};

struct output {
    uint8_t* start;
    uint8_t* next;
    uint8_t* end;
    stream_sink* stream;  // null for a whole buffer
};

// Hands the bytes decoded since the last call to the writer and keeps only
// the history at the front of the window. False when the writer refuses.
bool hand_over(output* o) {
    stream_sink* s = o->stream;
    if (o->next > s->unsent && !s->write(s->context, s->unsent, static_cast<uint64_t>(o->next - s->unsent)))
        return false;
    ptrdiff_t keep = o->next - o->start < kHistory ? o->next - o->start : kHistory;
    std::memmove(o->start, o->next - keep, static_cast<size_t>(keep));
    s->moved += static_cast<uint64_t>(o->next - o->start - keep);
    o->next = o->start + keep;
    s->unsent = o->next;
    return true;
}

PELKO_ALWAYS_INLINE uint64_t load64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

PELKO_ALWAYS_INLINE void store64(uint8_t* p, uint64_t word) { std::memcpy(p, &word, sizeof word); }

PELKO_ALWAYS_INLINE void copy8(uint8_t* to, const uint8_t* from) { store64(to, load64(from)); }

// For a pattern of d bytes (1 to 7) in the low bytes of a word, the factor
// that repeats it across the word: a 1 at every multiple of d bytes. The
// copies land on bytes of their own, so nothing carries.
constexpr std::array<uint64_t, 8> pattern_repeats() {
    std::array<uint64_t, 8> repeat{};
    for (int d = 1; d < 8; ++d)
        for (int at = 0; at < 8; at += d) repeat[d] |= uint64_t{1} << (8 * at);
    return repeat;
}
constexpr std::array<uint64_t, 8> kPatternRepeat = pattern_repeats();

// How far, in bits, such a word is turned from one 8 bytes on: by the 8 mod d
// bytes that the pattern moves on over 8.
constexpr std::array<uint8_t, 8> pattern_advances() {
    std::array<uint8_t, 8> advance{};
    for (int d = 1; d < 8; ++d) advance[d] = static_cast<uint8_t>(8 * (8 % d));
    return advance;
}
constexpr std::array<uint8_t, 8> kPatternAdvance = pattern_advances();

// How many bytes the fast loop's copy of one match may write: the match, and
// past its end up to the next whole word, but never fewer than the four words
// it always copies.
constexpr ptrdiff_t kMaxMatch = 258;
constexpr ptrdiff_t kMatchWrite = (kMaxMatch + 7) / 8 * 8;
static_assert(kMatchWrite >= 32, "the first four words of a copy fit");

// How many bytes of output the fast loop wants behind it: a pattern of fewer
// than 8 bytes is read as the whole word before the match.
constexpr ptrdiff_t kFastHistory = 8;

// Format notes: a match copies length bytes (3 to 258) starting distance bytes
// back, and may overlap what it writes: distance 1 repeats the last byte.
//
// The fast loop's copy, for when kMatchWrite bytes of room are left and at
// least kFastHistory bytes have been written. It copies whole 8-byte words,
// the first four whatever the length (most matches are shorter than 32
// bytes), and so writes up to 29 bytes past the match: bytes the caller is
// never promised, which the symbols after the match overwrite. Every byte it
// reads lies before the word being written, in output that this call wrote:
// - from distance 8 on, each word comes from distance bytes back, where the
//   bytes are already final;
// - below 8, the match repeats the d bytes before it. They are spread over a
//   word, which is stored every 8 bytes, turned on by the 8 mod d bytes that
//   a pattern of d bytes moves on over 8: the byte i + 8 mod d of the word,
//   or failing that i + 8 mod d - d, comes to i.
PELKO_ALWAYS_INLINE void copy_match_fast(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    uint8_t* const stop = to + length;
    if (distance >= 8) {
        copy8(to, from);
        copy8(to + 8, from + 8);
        copy8(to + 16, from + 16);
        copy8(to + 24, from + 24);
        if (length > 32) {
            to += 32;
            from += 32;
            do {
                copy8(to, from);
                to += 8;
                from += 8;
            } while (to < stop);
        }
    } else {
        uint32_t bits = 8 * distance;
        uint64_t word = (load_le64(to - 8) >> (64 - bits)) * kPatternRepeat[distance];
        uint32_t advance = kPatternAdvance[distance];
        uint32_t wrap = bits - advance;
        do {
            store_le64(to, word);
            word = (word >> advance) | (word << wrap);
            to += 8;
        } while (to < stop);
    }
}

// The careful loop's copy: exactly length bytes, one at a time, so that an
// overlapping copy repeats the bytes it has just written.
inline void copy_match_exact(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
}

// ---------------------------------------------------------------------------
// Blocks

// Where the fast loop may run: enough input for what one round reads (see
// the loop), and room for a literal and a longest match with what its copy
// writes past it, the most one round writes.
constexpr ptrdiff_t kFastInput = 16;
constexpr ptrdiff_t kFastOutput = 1 + kMatchWrite;

// Format notes: a compressed block is literals (0..255), the end-of-block
// symbol (256) and length/distance pairs (257..285, then a distance symbol).
// A distance reaching before the first output byte is an error: there is no
// preset dictionary. Returns 0 at the end of the block, -1 on failure.
template <bool kBmi>
PELKO_ALWAYS_INLINE int decode_huffman_block_body(bit_reader* reader, output* o, const block_tables* tables) {
    using fast = fast_bits<kBmi>;
    const uint32_t* const literal_length = tables->literal_length;
    const uint64_t* const distance = tables->distance;
    bit_reader r = *reader;
    uint8_t* const start = o->start;
    uint8_t* const end = o->end;
    uint8_t* out = o->next;
    int result = -1;
    for (;;) {
        // The fast loop. A round starts by topping the buffer up to 56 bits
        // or more, with the slot of its first code already looked up, and
        // ends by looking up the slot of the code after its last, so that a
        // lookup never waits for the input load. A round takes two literals,
        // or a literal and a match, or a match; a code longer than the first
        // level, rare, is found through its link and decoded whole. The bits
        // a round takes between top-ups, with those the next lookup looks at,
        // are at most:
        // - two literals of 11 bits and the next index of 11: 33;
        // - a literal of 11 and the next index; a match after it waits for a
        //   top-up;
        // - a match: a length, 11 + 5 with its extra bits; a distance, 15 +
        //   13; and the next index: 55;
        // - a link, 11 + 4; then a literal of 15 and the next index, or a
        //   length of 15 + 5 and, after a top-up, a distance as above.
        // So a round starts with at least 12 bits left from the one before.
        // A top-up reads the 8 bytes where the one before left the input
        // position, at most 63 bits past the bits taken by then, and a round
        // takes at most 11 bits before its second top-up: all it reads lies
        // within 15 bytes of where the position stood when it started.
        if (r.end - r.next >= kFastInput && end - out >= kFastOutput && out - start >= kFastHistory) {
            // The loop's own copy of the reader, which nothing else sees, so
            // that it can live in registers.
            bit_reader f = r;
            const uint8_t* const in_last = f.end - kFastInput;
            uint8_t* const out_last = end - kFastOutput;
            int status = 1;  // 1 while the block goes on, then 0 at its end or -1
            refill_word(&f);
            uint32_t slot = literal_length[f.bits & ((1u << kLiteralLengthBits) - 1)];
            while (f.next <= in_last && out <= out_last) {
                refill_word(&f);
                // Both lookups that may follow the slot start before its
                // kind is tested: a literal/length slot after a literal, a
                // distance slot after a length. When the test is mispredicted,
                // the right path finds its lookup under way.
                uint64_t after = fast::after(f.bits, slot);
                uint32_t next = literal_length[fast::literal_length_index(after)];
                uint64_t distance_slot = distance[after & kDistanceMask];
                if (slot & kLiteral) {
                    take_slot(&f, slot);
                    *out++ = static_cast<uint8_t>(slot >> 16);
                    slot = next;
                    after = fast::after(f.bits, slot);
                    next = literal_length[fast::literal_length_index(after)];
                    distance_slot = distance[after & kDistanceMask];
                    if (slot & kLiteral) {
                        take_slot(&f, slot);
                        *out++ = static_cast<uint8_t>(slot >> 16);
                        slot = next;
                        continue;
                    }
                    refill_word(&f);
                }
                uint32_t length;
                if (slot & kLength) {
                    length = length_of<kBmi>(f.bits, slot);
                    take_slot(&f, slot);
                } else {
                    if (slot & kLink) {
                        slot = literal_length[link_start(slot) + fast::field(f.bits, slot)];
                        if (slot & kLiteral) {
                            uint64_t index = fast::template next_index<kLiteralLengthBits>(f.bits, slot);
                            take_slot(&f, slot);
                            *out++ = static_cast<uint8_t>(slot >> 16);
                            slot = literal_length[index];
                            continue;
                        }
                    }
                    if (!(slot & kLength)) {
                        if (slot & kEndOfBlock) {
                            take_slot(&f, slot);
                            status = 0;
                        } else {
                            status = -1;
                        }
                        break;
                    }
                    distance_slot = distance[fast::template next_index<kDistanceBits>(f.bits, slot)];
                    length = length_of<kBmi>(f.bits, slot);
                    take_slot(&f, slot);
                    refill_word(&f);
                }
                if (distance_slot & kDistanceLink)
                    distance_slot = distance[link_start(distance_slot) + fast::field(f.bits, distance_slot)];
                uint64_t index = fast::template next_index<kLiteralLengthBits>(f.bits, distance_slot);
                uint32_t dist = distance_of<kBmi>(f.bits, distance_slot);
                take_slot(&f, distance_slot);
                // A distance slot without a symbol gives distance 0, which
                // this test refuses along with distances before the output.
                if (size_t{dist} - 1 >= static_cast<size_t>(out - start)) {
                    status = -1;
                    break;
                }
                slot = literal_length[index];
                copy_match_fast(out, dist, length);
                out += length;
            }
            f.count = static_cast<uint8_t>(f.count);
            r = f;
            if (status != 1) {
                result = status;
                goto done;
            }
        }

        // Near the end of the input or of the output: one symbol, every field
        // checked. A stream first makes room, so that the window never runs
        // out and the fast loop can take over again.
        if (o->stream && end - out < kFastOutput) {
            o->next = out;
            if (!hand_over(o)) goto done;
            out = o->next;
        }
        uint32_t slot = decode_careful(&r, literal_length, kLiteralLengthBits);
        if (slot & kLiteral) {
            if (out == end) goto done;
            *out++ = static_cast<uint8_t>(slot >> 16);
            continue;
        }
        if (slot & kEndOfBlock) {
            result = 0;
            goto done;
        }
        if (!(slot & kLength)) goto done;
        uint32_t length;
        if (!take_length(&r, slot, &length)) goto done;
        uint64_t distance_slot = decode_careful_distance(&r, distance);
        uint32_t dist;
        if (!distance_slot || !take_distance(&r, distance_slot, &dist)) goto done;
        if (dist > static_cast<size_t>(out - start)) goto done;
        if (length > static_cast<size_t>(end - out)) goto done;
        copy_match_exact(out, dist, length);
        out += length;
    }
done:
    *reader = r;
    o->next = out;
    return result;
}

// The same loop twice: once for any x86-64 (or other) processor, and once
// compiled for processors with BMI1 and BMI2, whose flag-free shifts, bit-field
// extraction and masking shorten every symbol.
using block_decoder = int (*)(bit_reader*, output*, const block_tables*);

int decode_huffman_block(bit_reader* reader, output* o, const block_tables* tables) {
    return decode_huffman_block_body<false>(reader, o, tables);
}

#if PELKO_CPU_X86
PELKO_TARGET("bmi,bmi2")
int decode_huffman_block_bmi(bit_reader* reader, output* o, const block_tables* tables) {
    return decode_huffman_block_body<true>(reader, o, tables);
}
#endif

// Format notes: a stored block starts at the next byte boundary with LEN and
// its ones' complement NLEN, both 16-bit little-endian, then LEN raw bytes.
// NLEN is redundant and is not compared: a stream whose NLEN is wrong decodes
// all the same.
int stored_block(bit_reader* r, output* o) {
    // The bits left of the current byte are dropped; whole bytes already in
    // the buffer go back to the input.
    r->next -= r->count >> 3;
    r->bits = 0;
    r->count = 0;
    if (r->end - r->next < 4) return -1;
    size_t len = r->next[0] | (size_t{r->next[1]} << 8);
    r->next += 4;
    if (static_cast<size_t>(r->end - r->next) < len) return -1;
    // A stream takes a block longer than its room in pieces.
    while (o->stream && static_cast<size_t>(o->end - o->next) < len) {
        size_t room = static_cast<size_t>(o->end - o->next);
        std::memcpy(o->next, r->next, room);
        r->next += room;
        o->next += room;
        len -= room;
        if (!hand_over(o)) return -1;
    }
    if (static_cast<size_t>(o->end - o->next) < len) return -1;
    if (len > 0) std::memcpy(o->next, r->next, len);
    r->next += len;
    o->next += len;
    return 0;
}

bool build_literal_length_table(uint32_t* table, const uint8_t* lengths, int count) {
    return build_table(table, kLiteralLengthTableSize, kLiteralLengthBits, lengths, count, kLiteralLengthSlots.data(),
                       literal_length_link);
}

bool build_distance_table(uint64_t* table, const uint8_t* lengths, int count) {
    return build_table(table, kDistanceTableSize, kDistanceBits, lengths, count, kDistanceSlots.data(), distance_link);
}

// Format notes: the fixed code of block type 1 gives literals 0..143 eight
// bits, 144..255 nine, 256..279 seven and 280..287 eight; every distance code
// has five bits. Symbols 286, 287 and distances 30, 31 have codes but no
// meaning; their slots make decoding fail.
void build_fixed_tables(block_tables* tables) {
    uint8_t lengths[288];
    int symbol = 0;
    for (; symbol < 144; ++symbol) lengths[symbol] = 8;
    for (; symbol < 256; ++symbol) lengths[symbol] = 9;
    for (; symbol < 280; ++symbol) lengths[symbol] = 7;
    for (; symbol < 288; ++symbol) lengths[symbol] = 8;
    build_literal_length_table(tables->literal_length, lengths, 288);
    for (symbol = 0; symbol < 30; ++symbol) lengths[symbol] = 5;
    build_distance_table(tables->distance, lengths, 30);
}

// The fixed code's tables never change: they are built on first use and
// shared by every stream after, so a stream of many small fixed blocks, the
// usual make of short ZIP entries, pays for them once per process.
const block_tables* fixed_tables() {
    static const block_tables* const tables = [] {
        static block_tables built;
        build_fixed_tables(&built);
        return &built;
    }();
    return tables;
}

// Format notes: a dynamic block sends its two codes as code lengths, which are
// themselves Huffman-coded with a small code-length code:
// - HLIT + 257 literal/length lengths, then HDIST + 1 distance lengths, read as
//   one sequence, so a run may cross from one into the other;
// - symbols 0..15 are a length; 16 repeats the previous length 3..6 times,
//   17 writes 3..10 zeros and 18 writes 11..138 zeros;
// - a run that would pass the end of the sequence stops at its end. Other
//   decoders reject such a stream; this one decodes it.
// Incomplete and over-subscribed codes are not rejected here either: a code
// that was never assigned fails when it is met in the data, not before.
int build_dynamic_tables(bit_reader* r, block_tables* tables) {
    uint32_t literal_length_count;
    uint32_t distance_count;
    uint32_t code_length_count;
    if (!take_bits(r, 5, &literal_length_count) || !take_bits(r, 5, &distance_count) ||
        !take_bits(r, 4, &code_length_count))
        return -1;
    literal_length_count += 257;
    distance_count += 1;
    code_length_count += 4;
    if (literal_length_count > kMaxLiteralLengthCodes) return -1;
    if (distance_count > kMaxDistanceCodes) return -1;

    uint8_t lengths[kMaxLiteralLengthCodes + kMaxDistanceCodes];
    for (int i = 0; i < 19; ++i) {
        uint32_t length = 0;
        if (static_cast<uint32_t>(i) < code_length_count && !take_bits(r, 3, &length)) return -1;
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    uint32_t code_length[kCodeLengthTableSize];
    build_table(code_length, kCodeLengthTableSize, kCodeLengthBits, lengths, 19, kCodeLengthSlots.data(),
                [](uint32_t, uint32_t) { return uint32_t{0}; });  // codes of at most 7 bits: no links

    uint32_t total = literal_length_count + distance_count;
    uint32_t index = 0;
    while (index < total) {
        uint32_t slot = decode_careful(r, code_length, kCodeLengthBits);
        if (!slot) return -1;
        uint32_t symbol = (slot >> 16) & 0xFF;
        if (symbol < 16) {
            lengths[index++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        uint32_t run;
        if (symbol == 16) {
            if (index == 0) return -1;
            repeated = lengths[index - 1];
            if (!take_bits(r, 2, &run)) return -1;
            run += 3;
        } else if (symbol == 17) {
            if (!take_bits(r, 3, &run)) return -1;
            run += 3;
        } else {
            if (!take_bits(r, 7, &run)) return -1;
            run += 11;
        }
        while (run-- > 0 && index < total) lengths[index++] = repeated;
    }

    if (!build_literal_length_table(tables->literal_length, lengths, static_cast<int>(literal_length_count))) return -1;
    if (!build_distance_table(tables->distance, lengths + literal_length_count, static_cast<int>(distance_count)))
        return -1;
    return 0;
}

// Decodes blocks until the final one ends: 0, or -1 on failure.
int decode_blocks(const uint8_t* in, uint64_t in_len, output* o, block_decoder decode_block) {
    bit_reader r = {in, in_len > 0 ? in + in_len : in, 0, 0};
    block_tables tables;  // a dynamic block's

    // Format notes: each block starts with a final-block bit and a 2-bit type:
    // 0 stored, 1 fixed codes, 2 dynamic codes, 3 reserved (an error).
    // Decoding ends after the block marked final, wherever that is in the
    // input; the caller decides whether the count is the one it expected.
    for (;;) {
        uint32_t header;
        if (!take_bits(&r, 3, &header)) return -1;
        uint32_t type = header >> 1;
        int result;
        if (type == 0) {
            result = stored_block(&r, o);
        } else if (type == 1) {
            result = decode_block(&r, o, fixed_tables());
        } else if (type == 2) {
            result = build_dynamic_tables(&r, &tables);
            if (result == 0) result = decode_block(&r, o, &tables);
        } else {
            result = -1;
        }
        if (result != 0) return -1;
        if (header & 1) return 0;
    }
}

int32_t inflate_with(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap, block_decoder decode_block) {
    // The count must fit the signed 32-bit result; a stream that would write
    // more fails as one that overflows its buffer.
    uint64_t capacity = out_cap > INT32_MAX ? INT32_MAX : out_cap;
    output o = {out, out, capacity > 0 ? out + capacity : out, nullptr};
    if (decode_blocks(in, in_len, &o, decode_block) != 0) return -1;
    return static_cast<int32_t>(o.next - o.start);
}

block_decoder choose_block_decoder() {
#if PELKO_CPU_X86
    cpu_features f = cpu_features_in_use();
    if (f.bmi1 && f.bmi2) return decode_huffman_block_bmi;
#endif
    return decode_huffman_block;
}

}  // namespace

int32_t inflate_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap) {
    return inflate_with(in, in_len, out, out_cap, choose_block_decoder());
}

const char* inflate_implementation() { return choose_block_decoder() == decode_huffman_block ? "portable" : "bmi"; }

int32_t inflate_raw_portable(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap) {
    return inflate_with(in, in_len, out, out_cap, decode_huffman_block);
}

int64_t inflate_raw_stream(const uint8_t* in, uint64_t in_len, uint8_t* window, uint64_t window_size,
                           inflate_writer write, void* context) {
    if (window_size < kInflateMinWindow) return -1;
    stream_sink sink = {write, context, window, 0};
    output o = {window, window, window + window_size, &sink};
    if (decode_blocks(in, in_len, &o, choose_block_decoder()) != 0 || !hand_over(&o)) return -1;
    return static_cast<int64_t>(sink.moved + static_cast<uint64_t>(o.next - o.start));
}
