// cpuid (Intel SDM vol. 2A, "CPUID"): leaf 1 ECX has SSSE3 (bit 9), SSE4.1
// (bit 19), PCLMULQDQ (bit 1), OSXSAVE (bit 27) and AVX (bit 28); leaf 7
// subleaf 0 EBX has BMI1 (bit 3), AVX2 (bit 5), BMI2 (bit 8) and SHA (bit 29).
// BMI1 and BMI2 work on general registers and need nothing of the OS. AVX2 is
// usable only when the OS saves the XMM and YMM state, which XCR0 bits 1 and 2
// tell.
#include "codecs/cpu_features.h"

#if PELKO_CPU_X86
#include <cpuid.h>
#endif

namespace {

#if PELKO_CPU_X86
cpu_features query_processor() {
    cpu_features f{};
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return f;
    f.ssse3 = ecx & (1u << 9);
    f.sse41 = ecx & (1u << 19);
    f.pclmul = ecx & (1u << 1);
    bool avx = (ecx & (1u << 28)) && (ecx & (1u << 27));
    bool ymm_saved = false;
    if (avx) {
        unsigned xcr0_low, xcr0_high;
        __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
        ymm_saved = (xcr0_low & 0x6) == 0x6;
    }
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        f.sha = ebx & (1u << 29);
        f.avx2 = ymm_saved && (ebx & (1u << 5));
        f.bmi2 = ebx & (1u << 8);
        f.bmi1 = ebx & (1u << 3);
    }
    return f;
}
#else
cpu_features query_processor() { return cpu_features{}; }
#endif

// Filled on first use. Only the main thread hashes, patches and unpacks.
bool g_detected_known = false;
cpu_features g_detected;
bool g_limited = false;
cpu_features g_allowed;

}  // namespace

cpu_features cpu_features_detected() {
    if (!g_detected_known) {
        g_detected = query_processor();
        g_detected_known = true;
    }
    return g_detected;
}

cpu_features cpu_features_in_use() {
    cpu_features f = cpu_features_detected();
    if (g_limited) {
        f.ssse3 = f.ssse3 && g_allowed.ssse3;
        f.sse41 = f.sse41 && g_allowed.sse41;
        f.sha = f.sha && g_allowed.sha;
        f.pclmul = f.pclmul && g_allowed.pclmul;
        f.avx2 = f.avx2 && g_allowed.avx2;
        f.bmi2 = f.bmi2 && g_allowed.bmi2;
        f.bmi1 = f.bmi1 && g_allowed.bmi1;
    }
    return f;
}

void cpu_features_limit(const cpu_features* allowed) {
    g_limited = allowed != nullptr;
    if (allowed) g_allowed = *allowed;
}
