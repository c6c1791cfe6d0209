// The processor features the fast codec paths may use beyond the baseline the
// build assumes, and how code asks for them. The one place that knows about
// particular processors: the executable must run on every 64-bit x86, so a
// path that needs more is compiled for it alone (PELKO_TARGET) and taken only
// after the processor has said it has the feature. Elsewhere (another
// architecture or compiler) no feature is reported and the portable paths run.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define PELKO_X86_64 1
// Compiles one function for the named features (GCC/Clang spelling, e.g.
// "bmi2"); functions it inlines are compiled for them too.
#define PELKO_TARGET(features) __attribute__((target(features)))
#define PELKO_ALWAYS_INLINE inline __attribute__((always_inline))
// Asks for the cache line at p to be fetched, for writing. Never faults.
#define PELKO_PREFETCH_FOR_WRITE(p) __builtin_prefetch((p), 1)
#else
#define PELKO_X86_64 0
#define PELKO_TARGET(features)
#define PELKO_ALWAYS_INLINE inline
#define PELKO_PREFETCH_FOR_WRITE(p) ((void)(p))
#endif

// Carry-less multiplication (PCLMULQDQ).
bool cpu_has_pclmul();
// Shifts and bit-field extraction without flags (BMI2: SHLX, SHRX, BZHI).
bool cpu_has_bmi2();
