// libFuzzer target for the VCDIFF decoder: vcdiff_apply against the first,
// byte-by-byte decoder in tests/reference.
//
// Input: one byte n, then a source of n bytes (fewer if the input ends), then
// the patch. Source and patch are copied into heap blocks of exactly their
// sizes so that AddressSanitizer catches a read past either. Both decoders
// must return null alike or the same bytes, with the same record of windows
// and allocations; what is produced lies within the buffer the decoder sized,
// and a failure leaves the output length alone. The seeds in
// corpus/vcdiff_diff/ are xdelta3 patches and hand-written ones (target
// segments, runs, a header alone) in this layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/vcdiff.h"
#include "tests/reference/vcdiff_ref.h"

// Patches may declare windows of any length; allocations beyond this cap fail
// (null), as they would on a machine without the memory, in both decoders.
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

    const size_t untouched = 0xA5A5A5A5u;
    size_t fast_length = untouched, reference_length = untouched;
    vcdiff_stats fast_stats{}, reference_stats{};
    uint8_t* fast = vcdiff_apply(patch, patch_length, source, source_length, &fast_length, &fast_stats);
    uint8_t* reference =
        vcdiff_ref_apply(patch, patch_length, source, source_length, &reference_length, &reference_stats);

    // An allocation the cap refused in one decoder is refused in the other:
    // both ask for the same sizes in the same order.
    if ((fast == nullptr) != (reference == nullptr)) std::abort();
    if (fast_length != reference_length) std::abort();
    if (fast && std::memcmp(fast, reference, fast_length) != 0) std::abort();
    if (!fast && fast_length != untouched) std::abort();
    if (fast && fast_length > fast_stats.final_capacity) std::abort();
    if (fast_stats.windows != reference_stats.windows || fast_stats.growths != reference_stats.growths ||
        fast_stats.initial_capacity != reference_stats.initial_capacity ||
        fast_stats.final_capacity != reference_stats.final_capacity)
        std::abort();

    std::free(fast);
    std::free(reference);
    std::free(source);
    std::free(patch);
    return 0;
}
