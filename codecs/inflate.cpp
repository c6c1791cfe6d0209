// A table-driven raw deflate decoder (RFC 1951) for whole buffers in memory.
//
// What it is: the decoder the ZIP reader uses for deflated entries. It takes
// one whole compressed entry and writes into one buffer that the caller sized
// to the entry's declared length; back-references copy from that buffer, so
// there is no window, no streaming and no heap use. Its decode tables live in
// its own stack frame (about 15 KB).
//
// What it must do: exactly what the simple bit-at-a-time decoder it replaced
// does (that decoder is kept with the tests as the reference): the same result
// for every input and the same bytes written, no more. That includes the
// reference's leniency, which stricter decoders do not share: incomplete and
// over-subscribed codes decode whatever their canonical walk assigns, NLEN is
// not compared, a code-length run past the end of the lengths is cut, and
// input after the final block is ignored. It also fails exactly where the
// reference fails: on the first bit it would need past the end of the input,
// and on any write that would pass the output capacity.
//
// How it is fast:
// - Each Huffman code is decoded with one lookup (two for rare long codes) in
//   a table built per block, instead of one step per bit.
// - Input is read 64 bits at a time into a bit buffer, and the slot of the
//   next code is looked up before the buffer is topped up, so that lookups
//   do not wait for input loads.
// - The main loop runs while at least 16 input bytes and 259 bytes of output
//   room are left. There no bit it reads can lie past the input and no symbol
//   can overflow the output, so it checks neither. Near either end a careful
//   loop takes over, one symbol at a time, checking each field the way the
//   reference does. The slow cases are handled once, at the edge.
// - Matches are copied a word or 16 bytes at a time when they do not overlap
//   within that width, and short ones without a branch on their length, by
//   merging the source with the bytes already at the destination. Copies
//   never change a byte past the match, so no byte beyond the current output
//   position is ever altered.
// - On processors with BMI2 the block loop runs as a copy compiled for it.
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

// One slot of a decode table, a 32-bit word:
//   bits 0..7    how many bits the slot takes: its code, and for a length or
//                distance the extra bits after the code
//   bits 8..11   length of the code alone (the whole code, also in a
//                second-level table); in a link, the index bits of the
//                second-level table
//   bits 12..15  kind, below
//   bits 16..31  literal byte or code-length symbol, base length or base
//                distance, or where a linked second-level table starts
// A slot whose kind is 0 has no symbol: the bits lead to no code within 15
// bits, or to a symbol with no meaning (literal/length 286 and 287). Meeting
// one fails the stream, as the reference fails there.
constexpr uint32_t kSymbol = 0x1000;      // literal byte or code-length symbol
constexpr uint32_t kBase = 0x2000;        // length or distance: base plus extra bits
constexpr uint32_t kEndOfBlock = 0x4000;  // literal/length symbol 256
constexpr uint32_t kLink = 0x8000;        // the code is longer than the first level

constexpr int kMaxCodeBits = 15;

// How many bits each first-level table is indexed by. A code up to that long
// takes one lookup; a longer one takes a second lookup, in a table linked
// from the first. Code-length codes are at most 7 bits, so their table has
// one level.
constexpr int kLiteralLengthBits = 11;
constexpr int kDistanceBits = 8;
constexpr int kCodeLengthBits = 7;

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
static_assert(kLiteralLengthTableSize <= 0x10000 && kDistanceTableSize <= 0x10000,
              "a link holds where its second-level table starts in 16 bits");

// The two tables of a compressed block, side by side so that the decoder
// reaches both from one pointer.
struct block_tables {
    uint32_t literal_length[kLiteralLengthTableSize];
    uint32_t distance[kDistanceTableSize];
};

// Format notes: the length and distance tables are those of RFC 1951, 3.2.5.
// Length symbols 257..285 carry a base length and a number of extra bits; 285
// means 258 with no extra bits. Distance symbols 0..29 likewise.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic header sends the code-length code's lengths:
// the ones most likely to be zero come last, so HCLEN can leave them out.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// HLIT and HDIST as sent can name up to 288 and 32 codes; only 286 and 30 have
// a meaning.
constexpr int kMaxLiteralLengthCodes = 286;
constexpr int kMaxDistanceCodes = 30;

// The slot of each symbol, without its code: a length or distance slot takes
// its extra bits.
constexpr std::array<uint32_t, 288> literal_length_slots() {
    std::array<uint32_t, 288> slots{};
    for (uint32_t s = 0; s < 256; ++s) slots[s] = kSymbol | (s << 16);
    slots[256] = kEndOfBlock;
    for (uint32_t s = 257; s < 286; ++s)
        slots[s] = kBase | kLengthExtra[s - 257] | (uint32_t{kLengthBase[s - 257]} << 16);
    return slots;  // 286 and 287 stay 0
}
constexpr std::array<uint32_t, 30> distance_slots() {
    std::array<uint32_t, 30> slots{};
    for (uint32_t s = 0; s < 30; ++s)
        slots[s] = kBase | kDistanceExtra[s] | (uint32_t{kDistanceBase[s]} << 16);
    return slots;
}
constexpr std::array<uint32_t, 19> code_length_slots() {
    std::array<uint32_t, 19> slots{};
    for (uint32_t s = 0; s < 19; ++s) slots[s] = kSymbol | (s << 16);
    return slots;
}
constexpr std::array<uint32_t, 288> kLiteralLengthSlots = literal_length_slots();
constexpr std::array<uint32_t, 30> kDistanceSlots = distance_slots();
constexpr std::array<uint32_t, 19> kCodeLengthSlots = code_length_slots();

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
// code. False only if the second-level tables would not fit, which the
// room reserved above rules out.
//
// Format notes: Huffman codes are sent most significant bit first, while the
// bit buffer holds the next bit lowest, so a code is found at the index of its
// bits reversed; a code shorter than the index fills every slot whose low bits
// it matches.
//
// The reference decodes canonically, one bit at a time: at each length, the
// codes of that length are the numbers first .. first + count - 1, each
// standing for the next symbol of that length in increasing symbol order, and
// anything above is a longer code (first doubles as the length grows). The
// table holds exactly that mapping, so both decode alike for every code set:
// - an over-subscribed set runs out of room at some length: its codes there
//   stop at 2^length - 1, the rest of its symbols are never reached, and no
//   longer code exists;
// - an incomplete set leaves bit strings that reach no symbol within 15 bits:
//   their slots stay 0, and decoding them fails.
bool build_table(uint32_t* table, int table_size, int bits, const uint8_t* lengths, int symbol_count,
                 const uint32_t* slots) {
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
        uint32_t len_bits = static_cast<uint32_t>(len) | (static_cast<uint32_t>(len) << 8);
        for (uint32_t k = 0; k < reached[len]; ++k)
            table[reverse_bits(first[len] + k, len)] = slots[sorted[start[len] + k]] + len_bits;
    }

    uint32_t used = first_level;
    uint32_t prefix = UINT32_MAX;  // the first-level prefix of the current second-level table
    uint32_t second = 0;           // where that table starts
    uint32_t second_bits = 0;      // and its index bits
    for (int len = bits + 1; len <= kMaxCodeBits; ++len) {
        uint32_t len_bits = static_cast<uint32_t>(len) | (static_cast<uint32_t>(len) << 8);
        for (uint32_t k = 0; k < reached[len]; ++k) {
            uint32_t c = first[len] + k;
            uint32_t slot = slots[sorted[start[len] + k]] + len_bits;
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
                table[reverse_bits(prefix, bits)] = kLink | (second_bits << 8) | (second << 16);
            }
            uint32_t low = c & ((1u << low_bits) - 1);
            for (uint32_t i = reverse_bits(low, low_bits); i < (1u << second_bits); i += 1u << low_bits)
                table[second + i] = slot;
        }
    }
    return true;
}

// The first-level slot for the code at the bottom of bits. A link there leads
// on to the slot in its second-level table, indexed by the bits after the
// first level's.
PELKO_ALWAYS_INLINE uint32_t first_level(const uint32_t* table, int first_bits, uint64_t bits) {
    return table[bits & ((1u << first_bits) - 1)];
}

PELKO_ALWAYS_INLINE uint32_t follow_link(const uint32_t* table, int first_bits, uint64_t bits, uint32_t link) {
    uint32_t index = static_cast<uint32_t>(bits >> first_bits) & ((1u << ((link >> 8) & 15)) - 1);
    return table[(link >> 16) + index];
}

// The slot for the code at the bottom of bits, in one lookup or two.
PELKO_ALWAYS_INLINE uint32_t lookup(const uint32_t* table, int first_bits, uint64_t bits) {
    uint32_t slot = first_level(table, first_bits, bits);
    if (slot & kLink) slot = follow_link(table, first_bits, bits, slot);
    return slot;
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

PELKO_ALWAYS_INLINE uint64_t load_le64(const uint8_t* p) {
    return uint64_t{p[0]} | (uint64_t{p[1]} << 8) | (uint64_t{p[2]} << 16) | (uint64_t{p[3]} << 24) |
           (uint64_t{p[4]} << 32) | (uint64_t{p[5]} << 40) | (uint64_t{p[6]} << 48) | (uint64_t{p[7]} << 56);
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
// input ends first: the reference fails on the first bit it needs past the
// end of the input.
inline bool take_bits(bit_reader* r, uint32_t n, uint32_t* value) {
    if (r->count < n) {
        refill(r);
        if (r->count < n) return false;
    }
    *value = static_cast<uint32_t>(r->bits) & ((1u << n) - 1);
    consume(r, n);
    return true;
}

// Decodes one code and takes its bits (not the extra bits after it). 0 when
// the bits lead to no symbol, or to a code longer than the input has left.
// Bits past the end of the input read as zeros, which cannot matter: the code
// found is decided by its own bits only, so a code that fits in what is left
// is found all the same.
inline uint32_t decode_careful(bit_reader* r, const uint32_t* table, int first_bits) {
    if (r->count < kMaxCodeBits) refill(r);
    uint32_t slot = lookup(table, first_bits, r->bits);
    uint32_t code_bits = (slot >> 8) & 15;
    if ((slot & (kSymbol | kBase | kEndOfBlock)) == 0 || code_bits > r->count) return 0;
    consume(r, code_bits);
    return slot;
}

// The extra bits of a length or distance slot whose code decode_careful took.
inline bool take_extra(bit_reader* r, uint32_t slot, uint32_t* value) {
    if (!take_bits(r, (slot & 0xFF) - ((slot >> 8) & 15), value)) return false;
    *value += slot >> 16;
    return true;
}

// The fast loop's way of taking a slot's bits: the whole slot is subtracted
// from the count, whose low byte stays right (the slot's low byte is the
// number of bits) while the bytes above it collect borrows nobody reads.
// That saves masking the slot on every symbol.
PELKO_ALWAYS_INLINE void take_slot(bit_reader* r, uint32_t slot) {
    r->bits >>= static_cast<uint8_t>(slot);
    r->count -= slot;
}

// Takes the code and extra bits of a length or distance slot in the fast
// loop; the buffer must hold them all.
PELKO_ALWAYS_INLINE uint32_t base_plus_extra(bit_reader* r, uint32_t slot) {
    // Code and extra bits together are at most 15 + 13 = 28 bits.
    uint32_t taken = static_cast<uint32_t>(r->bits) & ((1u << (slot & 31)) - 1);
    take_slot(r, slot);
    return (slot >> 16) + (taken >> ((slot >> 8) & 15));
}

// ---------------------------------------------------------------------------
// Writing output

struct output {
    uint8_t* start;
    uint8_t* next;
    uint8_t* end;
};

PELKO_ALWAYS_INLINE uint64_t load64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

PELKO_ALWAYS_INLINE void store64(uint8_t* p, uint64_t word) { std::memcpy(p, &word, sizeof word); }

// A hint about the cache line ahead bytes after p: no byte is read or
// written, so an address past the buffer is harmless (it is computed as a
// number, never as a pointer into the buffer).
PELKO_ALWAYS_INLINE void prefetch_for_write(const uint8_t* p, uintptr_t ahead) {
    PELKO_PREFETCH_FOR_WRITE(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(p) + ahead));
}

PELKO_ALWAYS_INLINE void copy8(uint8_t* to, const uint8_t* from) { store64(to, load64(from)); }

PELKO_ALWAYS_INLINE void copy16(uint8_t* to, const uint8_t* from) {
    uint8_t chunk[16];
    std::memcpy(chunk, from, sizeof chunk);
    std::memcpy(to, chunk, sizeof chunk);
}

// Sixteen bytes of ones then sixteen of zeros: the 16 bytes from 16 - n on
// cover the first n bytes of a 16-byte piece, in memory order whatever the
// byte order of words.
constexpr uint8_t kCoverage[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Writes the first length bytes (up to 16) of the 16 at from to to, and
// writes the rest of to's 16 bytes back as they are. from may be as little as
// length bytes back: source bytes read from the destination are not used.
PELKO_ALWAYS_INLINE void merge16(uint8_t* to, const uint8_t* from, uint32_t length) {
    uint64_t first = load64(kCoverage + 16 - length);
    uint64_t second = load64(kCoverage + 24 - length);
    uint64_t head = (load64(from) & first) | (load64(to) & ~first);
    uint64_t tail = (load64(from + 8) & second) | (load64(to + 8) & ~second);
    store64(to, head);
    store64(to + 8, tail);
}

// Copies length bytes (3 to 16) from at least 8 or at least length bytes
// back, exactly: two overlapping words, or two overlapping halves, or three
// bytes. Either way every read sees bytes already final.
PELKO_ALWAYS_INLINE void copy_short(uint8_t* to, const uint8_t* from, uint32_t length) {
    if (length >= 8) {
        copy8(to, from);
        copy8(to + length - 8, from + length - 8);
    } else if (length >= 4) {
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + length - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + length - 4, &tail, 4);
    } else {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
    }
}

// Whether the 16 bytes at to lie in one 4 KiB page that already holds some of
// the output. Reading bytes of a page the program has never written makes
// some systems map a shared page of zeros first and give the page its own
// memory only at the write that follows, two faults instead of one; a merge
// that reads ahead of the output is kept off such pages. (A wrong guess at the
// page size costs time, never correctness.)
PELKO_ALWAYS_INLINE bool within_written_page(const uint8_t* to) {
    uintptr_t offset = reinterpret_cast<uintptr_t>(to) & 4095;
    return offset - 1 < 4096 - 16;
}

// Format notes: a match copies length bytes (3 to 258) starting distance bytes
// back, and may overlap what it writes: distance 1 repeats the last byte.
//
// The fast loop's copy, for when at least 16 bytes of room are left. With
// distance 8 or more, every 8-byte word read lies wholly before the word being
// written, so a copy may go in words, in order; a last word placed to end
// exactly at the match's end rewrites a few bytes with the values they already
// hold. The same holds for 16-byte chunks from distance 16. Most matches are
// at most 16 bytes long and do not overlap themselves: they take the 16 source
// bytes merged with the 16 bytes at the destination, so the bytes past the
// match are written back as they were, without a branch on the length.
// Shorter distances repeat a pattern shorter than a word and go byte by byte
// (distance 1: a fill). No byte past the match changes.
PELKO_ALWAYS_INLINE void copy_match_fast(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    if (length <= 16 && distance >= length) {
        if (within_written_page(to))
            merge16(to, from, length);
        else
            copy_short(to, from, length);
    } else if (distance >= 16) {
        copy16(to, from);
        for (uint32_t i = 16; i + 16 < length; i += 16) copy16(to + i, from + i);
        copy16(to + length - 16, from + length - 16);
    } else if (distance >= 8) {
        if (length <= 16) {
            copy_short(to, from, length);
            return;
        }
        uint32_t i = 0;
        do {
            copy8(to + i, from + i);
            i += 8;
        } while (i + 8 <= length);
        if (i < length) copy8(to + length - 8, from + length - 8);
    } else if (distance == 1) {
        std::memset(to, to[-1], length);
    } else {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
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

// Where the fast loop may run: enough input for two 8-byte loads, each of
// which advances by at most 7 bytes; and room for a literal and a longest
// match, the most one round writes.
constexpr ptrdiff_t kFastInput = 16;
constexpr ptrdiff_t kFastOutput = 1 + 258;

// Format notes: a compressed block is literals (0..255), the end-of-block
// symbol (256) and length/distance pairs (257..285, then a distance symbol).
// A distance reaching before the first output byte is an error: there is no
// preset dictionary. Returns 0 at the end of the block, -1 on failure.
PELKO_ALWAYS_INLINE int decode_huffman_block_body(bit_reader* reader, output* o, const block_tables* tables) {
    const uint32_t* const literal_length = tables->literal_length;
    const uint32_t* const distance = tables->distance;
    bit_reader r = *reader;
    uint8_t* const start = o->start;
    uint8_t* const end = o->end;
    uint8_t* out = o->next;
    int result = -1;
    for (;;) {
        // The fast loop. Each round starts with at least 56 bits in the
        // buffer and the slot of the next code already looked up, and ends
        // by looking up the slot after it before the buffer is topped up
        // again, so that a lookup never waits for the input load. A round
        // takes two literals, or a literal and a match, or a match: at most
        // 15 + 15 bits before the last lookup, or 15 + 20 (code and extra
        // bits of a length) before the distance code is looked up, with 15
        // bits still left for it; the distance's extra bits, at most 13,
        // come after the next top-up.
        if (r.end - r.next >= kFastInput && end - out >= kFastOutput) {
            // The loop's own copy of the reader, which nothing else sees, so
            // that it can live in registers.
            bit_reader f = r;
            const uint8_t* const in_last = f.end - kFastInput;
            uint8_t* const out_last = end - kFastOutput;
            int status = 1;  // 1 while the block goes on, then 0 at its end or -1
            refill_word(&f);
            uint32_t slot = lookup(literal_length, kLiteralLengthBits, f.bits);
            do {
                // Literal/length slots are looked up in the first level only;
                // a link, rare, is followed below and the round starts over
                // with the slot it leads to.
                if (slot & kSymbol) {
                    take_slot(&f, slot);
                    *out++ = static_cast<uint8_t>(slot >> 16);
                    slot = first_level(literal_length, kLiteralLengthBits, f.bits);
                    if (slot & kSymbol) {
                        take_slot(&f, slot);
                        *out++ = static_cast<uint8_t>(slot >> 16);
                        slot = first_level(literal_length, kLiteralLengthBits, f.bits);
                        refill_word(&f);
                        continue;
                    }
                }
                if (!(slot & kBase)) {
                    if (slot & kLink) {
                        slot = follow_link(literal_length, kLiteralLengthBits, f.bits, slot);
                        refill_word(&f);
                        continue;
                    }
                    if (slot & kEndOfBlock) {
                        take_slot(&f, slot);
                        status = 0;
                    } else {
                        status = -1;
                    }
                    break;
                }
                uint32_t length = base_plus_extra(&f, slot);
                slot = lookup(distance, kDistanceBits, f.bits);
                refill_word(&f);
                if (!(slot & kBase)) {
                    status = -1;
                    break;
                }
                uint32_t dist = base_plus_extra(&f, slot);
                if (dist > static_cast<size_t>(out - start)) {
                    status = -1;
                    break;
                }
                uint32_t next = first_level(literal_length, kLiteralLengthBits, f.bits);
                // The merge of short matches reads a little ahead of the
                // output; asking for those bytes early, as if to write them,
                // keeps it from waiting on memory the first time through.
                prefetch_for_write(out, 512);
                copy_match_fast(out, dist, length);
                out += length;
                slot = next;
                refill_word(&f);
            } while (f.next <= in_last && out <= out_last);
            f.count = static_cast<uint8_t>(f.count);
            r = f;
            if (status != 1) {
                result = status;
                goto done;
            }
        }

        // Near the end of the input or of the output: one symbol, every field
        // checked.
        uint32_t slot = decode_careful(&r, literal_length, kLiteralLengthBits);
        if (slot & kSymbol) {
            if (out == end) goto done;
            *out++ = static_cast<uint8_t>(slot >> 16);
            continue;
        }
        if (slot & kEndOfBlock) {
            result = 0;
            goto done;
        }
        if (!(slot & kBase)) goto done;
        uint32_t length;
        if (!take_extra(&r, slot, &length)) goto done;
        slot = decode_careful(&r, distance, kDistanceBits);
        uint32_t dist;
        if (!(slot & kBase) || !take_extra(&r, slot, &dist)) goto done;
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
// compiled for processors with BMI2, whose flag-free shifts and bit-field
// extraction shorten every symbol.
using block_decoder = int (*)(bit_reader*, output*, const block_tables*);

int decode_huffman_block(bit_reader* reader, output* o, const block_tables* tables) {
    return decode_huffman_block_body(reader, o, tables);
}

PELKO_TARGET("bmi2")
int decode_huffman_block_bmi2(bit_reader* reader, output* o, const block_tables* tables) {
    return decode_huffman_block_body(reader, o, tables);
}

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
    if (static_cast<size_t>(o->end - o->next) < len) return -1;
    if (len > 0) std::memcpy(o->next, r->next, len);
    r->next += len;
    o->next += len;
    return 0;
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
    build_table(tables->literal_length, kLiteralLengthTableSize, kLiteralLengthBits, lengths, 288,
                kLiteralLengthSlots.data());
    for (symbol = 0; symbol < 30; ++symbol) lengths[symbol] = 5;
    build_table(tables->distance, kDistanceTableSize, kDistanceBits, lengths, 30, kDistanceSlots.data());
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
    build_table(code_length, kCodeLengthTableSize, kCodeLengthBits, lengths, 19, kCodeLengthSlots.data());

    uint32_t total = literal_length_count + distance_count;
    uint32_t index = 0;
    while (index < total) {
        uint32_t slot = decode_careful(r, code_length, kCodeLengthBits);
        if (!slot) return -1;
        uint32_t symbol = slot >> 16;
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

    if (!build_table(tables->literal_length, kLiteralLengthTableSize, kLiteralLengthBits, lengths,
                     static_cast<int>(literal_length_count), kLiteralLengthSlots.data()))
        return -1;
    if (!build_table(tables->distance, kDistanceTableSize, kDistanceBits, lengths + literal_length_count,
                     static_cast<int>(distance_count), kDistanceSlots.data()))
        return -1;
    return 0;
}

int32_t inflate_with(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap, block_decoder decode_block) {
    // The count must fit the signed 32-bit result; a stream that would write
    // more fails as one that overflows its buffer.
    uint64_t capacity = out_cap > INT32_MAX ? INT32_MAX : out_cap;
    bit_reader r = {in, in_len > 0 ? in + in_len : in, 0, 0};
    output o = {out, out, capacity > 0 ? out + capacity : out};

    block_tables tables;
    bool tables_are_fixed = false;

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
            result = stored_block(&r, &o);
        } else if (type == 1) {
            // The fixed tables stay valid until a dynamic block replaces them.
            if (!tables_are_fixed) build_fixed_tables(&tables);
            tables_are_fixed = true;
            result = decode_block(&r, &o, &tables);
        } else if (type == 2) {
            tables_are_fixed = false;
            result = build_dynamic_tables(&r, &tables);
            if (result == 0) result = decode_block(&r, &o, &tables);
        } else {
            result = -1;
        }
        if (result != 0) return -1;
        if (header & 1) return static_cast<int32_t>(o.next - o.start);
    }
}

}  // namespace

namespace {

block_decoder choose_block_decoder() {
    return cpu_features_in_use().bmi2 ? decode_huffman_block_bmi2 : decode_huffman_block;
}

}  // namespace

int32_t inflate_raw(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap) {
    return inflate_with(in, in_len, out, out_cap, choose_block_decoder());
}

const char* inflate_implementation() {
    return choose_block_decoder() == decode_huffman_block_bmi2 ? "bmi2" : "portable";
}

int32_t inflate_raw_portable(const uint8_t* in, uint64_t in_len, uint8_t* out, uint64_t out_cap) {
    return inflate_with(in, in_len, out, out_cap, decode_huffman_block);
}
