// vcdiff_apply on arbitrary patches and sources: no read leaves either (both
// are exact-size heap blocks here), a failure leaves the output length as it
// was, the output holds every byte it reports, and applying in place agrees.
// Input: one byte n, a source
// of n bytes (fewer if the input ends), then the patch.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "codecs/vcdiff.h"

// Patches may declare windows of any length; larger allocations fail (null),
// as they would on a machine without the memory.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=256"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t source_length = data[0] < size - 1 ? data[0] : size - 1;
    const std::vector<uint8_t> source(data + 1, data + 1 + source_length), patch(data + 1 + source_length, data + size);
    size_t length = 0xA5A5A5A5u;
    uint8_t* out = vcdiff_apply(patch.data(), patch.size(), source.data(), source.size(), &length);
    if (!out && length != 0xA5A5A5A5u) __builtin_trap();
    if (out && length > 0) {
        volatile uint8_t touch = out[0];  // AddressSanitizer sees whether both ends lie in the block
        touch = out[length - 1];
        (void)touch;
    }

    // Planned and applied in place, in a block of exactly the planned size,
    // the patch applies exactly when it does above, and to the same bytes.
    vcdiff_layout layout{};
    const bool planned = vcdiff_plan_in_place(patch.data(), patch.size(), source.size(), &layout);
    if (out && !planned) __builtin_trap();
    if (planned && out && layout.block_size <= (64u << 20)) {
        std::vector<uint8_t> block(layout.block_size);
        std::copy(source.begin(), source.end(), block.begin() + static_cast<ptrdiff_t>(layout.source_at));
        size_t in_place = 0;
        if (!vcdiff_apply_in_place(patch.data(), patch.size(), block.data(), layout, source.size(), &in_place) ||
            in_place != length || !std::equal(block.begin(), block.begin() + static_cast<ptrdiff_t>(length), out))
            __builtin_trap();
    }
    std::free(out);
    return 0;
}
