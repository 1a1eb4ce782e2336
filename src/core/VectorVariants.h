#pragma once
// The vector kernels (the factorisation sweep, the FFT) are compiled several
// times: for AVX-512, for AVX2 and for the baseline instruction set. The
// program runs the widest variant the processor has; the tests run every
// variant that was built and this processor can run, each against the
// plain path, bit for bit. Every variant gives the same bits, as each lane
// does the same IEEE operations and no fused multiply-add is ever formed.
//
// Clang builds (the fuzzers) and the sanitizer builds have the baseline
// only: every variant works in the same eight-lane vectors, so they touch
// memory and share work between threads alike, and the sanitizers would
// only check the same accesses three times over (at minutes of compiling
// each); the normal build tests every variant's bits.

#include <vector>

#if defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__) && \
    (defined(__x86_64__) || defined(__i386__))
#define TESSAVO_VECTOR_VARIANTS 1
#else
#define TESSAVO_VECTOR_VARIANTS 0
#endif

// The object named name in the namespace of variant v (see VariantBodies.h),
// where the build holds that variant, and the baseline's otherwise.
#if TESSAVO_VECTOR_VARIANTS
#define TESSAVO_OF_VARIANT(v, name)                                                                      \
    ((v) == ::tessavo::VectorVariant::avx512 ? avx512::name                                               \
     : (v) == ::tessavo::VectorVariant::avx2 ? avx2::name                                                 \
                                              : baseline::name)
#else
#define TESSAVO_OF_VARIANT(v, name) ((void)(v), baseline::name)
#endif

namespace tessavo {

enum class VectorVariant { baseline, avx2, avx512 };

const char* variantName(VectorVariant v);

// The variants this build holds, baseline first.
std::vector<VectorVariant> builtVariants();

// Whether this processor (and its operating system) runs the variant.
bool runsHere(VectorVariant v);

// The widest built variant this processor runs.
VectorVariant bestVariant();

}  // namespace tessavo
