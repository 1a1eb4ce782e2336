#pragma once
// Shared by the vectorised kernels (the factorisation sweep and the FFT).
//
// The hot loops are built three times, for AVX-512, AVX2 and the baseline,
// and the fastest one the processor runs is picked when the program starts; both give the same bits, as
// each lane does the same IEEE operations and no fused multiply-add is ever
// formed. Clang builds (the fuzzers) and ThreadSanitizer builds use the
// baseline only: the latter cannot run the code that picks a variant, which
// runs before the sanitizer is ready.
#if defined(__clang__) || defined(__SANITIZE_THREAD__)
#define TESSAVO_CLONES
#else
#define TESSAVO_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

// The vector helpers are always inlined, so no vector value crosses a call
// boundary and the note about the AVX calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
