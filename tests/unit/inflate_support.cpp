#include "inflate_support.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "codecs/inflate.h"
#include "tests/reference/inflate_ref.h"

namespace {

// A copy of some bytes that ends where a page with no access begins, so that
// reading one byte past them faults in any build.
class InputAgainstGuardPage {
public:
    explicit InputAgainstGuardPage(const std::string& bytes) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() + page - 1) / page * page + page;
        void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        map_ = static_cast<uint8_t*>(p);
        uint8_t* guard = map_ + size_ - page;
        if (mprotect(guard, page, PROT_NONE) != 0) return;
        data_ = guard - bytes.size();
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~InputAgainstGuardPage() {
        if (map_) munmap(map_, size_);
    }
    InputAgainstGuardPage(const InputAgainstGuardPage&) = delete;
    InputAgainstGuardPage& operator=(const InputAgainstGuardPage&) = delete;
    // Null when the mapping failed.
    const uint8_t* data() const { return data_; }

private:
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    uint8_t* data_ = nullptr;
};

// More than one round of the fast loop can write past where it stands.
constexpr size_t kGuardBytes = 512;

// An output buffer of capacity bytes and the guard bytes after it, all
// filled from seed. The guard starts on an 8-byte boundary, the granule in
// which AddressSanitizer tracks whether memory may be touched.
class OutputWithGuard {
public:
    OutputWithGuard(uint64_t capacity, uint8_t seed)
        : capacity_(capacity), seed_(seed), offset_((8 - capacity % 8) % 8), bytes_(offset_ + capacity + kGuardBytes) {
        for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = fill(i);
        ASAN_POISON_MEMORY_REGION(guard(), kGuardBytes);
    }
    ~OutputWithGuard() { ASAN_UNPOISON_MEMORY_REGION(guard(), kGuardBytes); }
    OutputWithGuard(const OutputWithGuard&) = delete;
    OutputWithGuard& operator=(const OutputWithGuard&) = delete;

    uint8_t* data() { return bytes_.data() + offset_; }
    // The first guard byte that is not what it was filled with, or -1.
    long changed_guard_byte() {
        ASAN_UNPOISON_MEMORY_REGION(guard(), kGuardBytes);
        long changed = -1;
        for (size_t i = 0; i < kGuardBytes && changed < 0; ++i)
            if (guard()[i] != fill(offset_ + capacity_ + i)) changed = static_cast<long>(i);
        ASAN_POISON_MEMORY_REGION(guard(), kGuardBytes);
        return changed;
    }

private:
    // A filling no decoder would write at a given place by chance; seed 0xFF
    // gives its complement.
    uint8_t fill(size_t i) const { return static_cast<uint8_t>((i * 167 + 13) ^ seed_); }
    uint8_t* guard() { return bytes_.data() + offset_ + capacity_; }

    uint64_t capacity_;
    uint8_t seed_;
    size_t offset_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

::testing::AssertionResult decodes_like_reference(const std::string& stream, uint64_t capacity, int32_t* result,
                                                  std::string* out) {
    InputAgainstGuardPage input(stream);
    if (!input.data()) return ::testing::AssertionFailure() << "no memory for the input";
    const uint8_t* in = stream.empty() ? nullptr : input.data();

    OutputWithGuard reference(capacity, 0);
    uint64_t written = 0;
    int32_t expected = inflate_ref_raw(in, stream.size(), reference.data(), capacity, &written);
    // What the fast decoders must have produced: the count on success, what
    // the reference had written on failure.
    uint64_t produced = expected >= 0 ? static_cast<uint64_t>(expected) : written;

    using decoder = int32_t (*)(const uint8_t*, uint64_t, uint8_t*, uint64_t);
    const std::pair<const char*, decoder> decoders[] = {{"inflate_raw", inflate_raw},
                                                        {"inflate_raw_portable", inflate_raw_portable}};
    for (const auto& [name, decode] : decoders) {
        for (uint8_t seed : {uint8_t{0}, uint8_t{0xFF}}) {
            OutputWithGuard buffer(capacity, seed);
            int32_t got = decode(in, stream.size(), buffer.data(), capacity);
            if (got != expected)
                return ::testing::AssertionFailure() << name << " returned " << got << ", the reference " << expected
                                                     << " (capacity " << capacity << ", " << stream.size()
                                                     << " input bytes, buffer filled with " << int{seed} << ")";
            const uint8_t* differs = std::mismatch(buffer.data(), buffer.data() + produced, reference.data()).first;
            if (differs != buffer.data() + produced)
                return ::testing::AssertionFailure()
                       << name << ": the output differs first at byte " << differs - buffer.data() << " of the "
                       << produced << (expected >= 0 ? " it returned" : " the reference wrote before failing")
                       << " (capacity " << capacity << ", buffer filled with " << int{seed} << ")";
            long changed = buffer.changed_guard_byte();
            if (changed >= 0)
                return ::testing::AssertionFailure() << name << " wrote at byte " << capacity + changed
                                                     << ", past the capacity of " << capacity << " (result " << got
                                                     << ")";
            if (seed == 0 && decode == inflate_raw) {
                if (result) *result = got;
                if (out) out->assign(buffer.data(), buffer.data() + (got > 0 ? got : 0));
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void fixed_symbol(BitWriter& w, int symbol) {
    if (symbol < 144)
        w.code(0x30 + symbol, 8);
    else if (symbol < 256)
        w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.code(symbol - 256, 7);
    else
        w.code(0xC0 + symbol - 280, 8);
}

std::vector<WalkedCode> walk_codes(const std::vector<int>& lengths) {
    std::vector<WalkedCode> codes(lengths.size(), WalkedCode{0, 0});
    uint32_t next = 0;  // counts on past the room a length has
    for (int len = 1; len <= 15; ++len, next <<= 1)
        for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
            if (lengths[symbol] == len && next++ < (1u << len)) codes[symbol] = {next - 1, len};
    return codes;
}

void dynamic_header(BitWriter& w, int hlit_field, int hdist_field, const std::vector<CodeLengthOp>& ops) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> cl_lengths(19, 4);
    for (int s = 10; s <= 15; ++s) cl_lengths[s] = 5;
    w.bits(1, 1);  // final
    w.bits(2, 2);
    w.bits(hlit_field, 5);
    w.bits(hdist_field, 5);
    w.bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i) w.bits(cl_lengths[order[i]], 3);
    std::vector<WalkedCode> cl_codes = walk_codes(cl_lengths);
    for (const CodeLengthOp& op : ops) {
        w.code(cl_codes[op.symbol].code, cl_codes[op.symbol].length);
        if (op.symbol == 16) w.bits(op.extra, 2);
        if (op.symbol == 17) w.bits(op.extra, 3);
        if (op.symbol == 18) w.bits(op.extra, 7);
    }
}

void dynamic_header(BitWriter& w, const std::vector<int>& literal_lengths, const std::vector<int>& distance_lengths) {
    std::vector<int> lengths = literal_lengths;
    lengths.insert(lengths.end(), distance_lengths.begin(), distance_lengths.end());
    std::vector<CodeLengthOp> ops;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 3) {
            ops.push_back({run >= 11 ? 18 : 17, static_cast<int>(run - (run >= 11 ? 11 : 3))});
            i += run;
        } else {
            ops.push_back({lengths[i++], 0});
        }
    }
    dynamic_header(w, static_cast<int>(literal_lengths.size()) - 257, static_cast<int>(distance_lengths.size()) - 1,
                   ops);
}
