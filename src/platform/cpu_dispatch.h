// Functions built once for AVX2 machines and once for the rest, the loader choosing at
// start. The choice runs before ThreadSanitizer is ready and crashes such a build, so a
// ThreadSanitizer build keeps only the generic version.
#pragma once

#if defined(VANTRY_NO_TARGET_CLONES)
#define VANTRY_TARGET_CLONES
#else
#define VANTRY_TARGET_CLONES __attribute__((target_clones("avx2", "default")))
#endif
