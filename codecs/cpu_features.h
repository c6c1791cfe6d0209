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

struct cpu_features {
    bool ssse3;
    bool sse41;
    bool sha;     // the SHA-256 instructions (SHA extensions)
    bool pclmul;  // carry-less multiply
    bool avx2;    // with the operating system saving the YMM registers
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
