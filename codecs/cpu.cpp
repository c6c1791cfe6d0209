#include "codecs/cpu.h"

// The compiler's own check reads the processor's identification once, before
// main, and answers from it; asking is cheap.
#if PELKO_X86_64

bool cpu_has_pclmul() { return __builtin_cpu_supports("pclmul"); }
bool cpu_has_bmi2() { return __builtin_cpu_supports("bmi2"); }

#else

bool cpu_has_pclmul() { return false; }
bool cpu_has_bmi2() { return false; }

#endif
