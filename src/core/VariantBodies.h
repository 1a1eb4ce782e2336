// Compiles the kernel body named by TESSAVO_VARIANT_BODY (a file of
// function definitions, no includes) once per vector variant, each in a
// namespace of its own: baseline, avx2 and avx512, where kVectorBytes is
// the width of the variant's vector registers. Include it where the
// variants are wanted, once per body; it has no include guard on purpose.
//
//     #define TESSAVO_VARIANT_BODY "factorisation/SweepVariant.inc"
//     #include "core/VariantBodies.h"

#include "core/VectorVariants.h"

namespace baseline {
constexpr int kVectorBytes = 16;
#include TESSAVO_VARIANT_BODY
}  // namespace baseline

#if TESSAVO_VECTOR_VARIANTS
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kVectorBytes = 32;
#include TESSAVO_VARIANT_BODY
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
constexpr int kVectorBytes = 64;
#include TESSAVO_VARIANT_BODY
}  // namespace avx512
#pragma GCC pop_options
#endif

#undef TESSAVO_VARIANT_BODY
