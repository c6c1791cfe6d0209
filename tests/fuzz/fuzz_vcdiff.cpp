// libFuzzer target for the VCDIFF decoder.
//
// Input: one byte n, then a source of n bytes (fewer if the input ends), then
// the patch. Source and patch are copied into heap blocks of exactly their
// sizes so that AddressSanitizer catches a read past either. The seeds in
// corpus/vcdiff/ are xdelta3 patches and hand-written ones (target segments,
// runs, a header alone) in this layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/vcdiff.h"

// A patch may declare a window of any length, and the decoder allocates what
// the first windows ask for. Allocations beyond this cap fail (null) instead
// of reaching libFuzzer's -malloc_limit_mb, which would count them as crashes.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=256"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t source_length = data[0];
    if (source_length > size - 1) source_length = size - 1;
    size_t patch_length = size - 1 - source_length;

    uint8_t* source = static_cast<uint8_t*>(std::malloc(source_length ? source_length : 1));
    uint8_t* patch = static_cast<uint8_t*>(std::malloc(patch_length ? patch_length : 1));
    if (!source || !patch) {
        std::free(source);
        std::free(patch);
        return 0;
    }
    std::memcpy(source, data + 1, source_length);
    std::memcpy(patch, data + 1 + source_length, patch_length);

    size_t out_length = 0;
    vcdiff_stats stats{};
    uint8_t* out = vcdiff_apply(patch, patch_length, source, source_length, &out_length, &stats);
    if (out) {
        // Everything produced lies within the buffer the decoder sized.
        if (out_length > stats.final_capacity) std::abort();
        std::free(out);
    } else if (out_length != 0) {
        std::abort();  // a failure must leave the output length alone
    }
    std::free(source);
    std::free(patch);
    return 0;
}
