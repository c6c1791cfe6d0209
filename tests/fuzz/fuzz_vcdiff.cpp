// vcdiff_apply on arbitrary patches and sources: no read leaves either (both
// are exact-size heap blocks here), a failure leaves the output length as it
// was, and the output holds every byte it reports. Input: one byte n, a source
// of n bytes (fewer if the input ends), then the patch.
#include <cstdint>
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
    std::free(out);
    return 0;
}
