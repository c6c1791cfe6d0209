// What the processor offers the codecs beyond plain x86-64 (or any other
// architecture), found once with cpuid. The launcher runs on whatever CPU a
// player has, so every fast path is chosen at run time and every one has a
// portable twin that gives the same bytes.
#pragma once

// Whether this build targets x86, the one family with run-time selected paths.
// The only place that asks the compiler which processor it builds for.
#if defined(__x86_64__) || defined(__i386__)
#define PELKO_CPU_X86 1
#else
#define PELKO_CPU_X86 0
#endif

// How a fast path is compiled. A function marked PELKO_TARGET("bmi2") (the
// compiler's spelling of the features) may use those instructions, and so may
// the PELKO_ALWAYS_INLINE functions it takes in; it is called only after
// cpu_features_in_use() has reported them. PELKO_PREFETCH_FOR_WRITE(p) asks
// for the cache line at p to be fetched for writing; it never faults.
#if defined(__GNUC__)
#define PELKO_ALWAYS_INLINE inline __attribute__((always_inline))
#define PELKO_PREFETCH_FOR_WRITE(p) __builtin_prefetch((p), 1)
#else
#define PELKO_ALWAYS_INLINE inline
#define PELKO_PREFETCH_FOR_WRITE(p) ((void)(p))
#endif
#if PELKO_CPU_X86 && defined(__GNUC__)
#define PELKO_TARGET(features) __attribute__((target(features)))
#else
#define PELKO_TARGET(features)
#endif

struct cpu_features {
    bool ssse3;
    bool sse41;
    bool sha;     // the SHA-256 instructions (SHA extensions)
    bool pclmul;  // carry-less multiply
    bool avx2;    // with the operating system saving the YMM registers
    bool bmi2;    // flag-free shifts and masking (SHLX, SHRX, BZHI)
    bool bmi1;    // bit-field extraction (BEXTR)
};

// What the processor reports. All false on processors other than x86.
cpu_features cpu_features_detected();

// What the codecs use: what the processor reports, less what a test has
// turned off.
cpu_features cpu_features_in_use();

// For tests: allowed limits the features in use to those set in it and
// reported by the processor (a feature the processor lacks is never turned
// on). Null goes back to everything detected. Not thread-safe; the codecs run
// on one thread.
void cpu_features_limit(const cpu_features* allowed);
