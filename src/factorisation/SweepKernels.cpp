#include "factorisation/SweepKernels.h"


#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tessavo {

namespace {

#define TESSAVO_VARIANT_BODY "factorisation/SweepKernels.inc"
#include "factorisation/VariantBodies.h"

#define TESSAVO_KERNELS_OF(variant) SweepKernels{variant::blockProducts, variant::objectiveRow, variant::blockNumerator}
const SweepKernels kBaseline = TESSAVO_KERNELS_OF(baseline);
#if TESSAVO_VECTOR_VARIANTS
const SweepKernels kAvx2 = TESSAVO_KERNELS_OF(avx2);
const SweepKernels kAvx512 = TESSAVO_KERNELS_OF(avx512);
#endif
#undef TESSAVO_KERNELS_OF

}  // namespace

const SweepKernels& sweepKernels(VectorVariant variant)
{
#if TESSAVO_VECTOR_VARIANTS
    if (variant == VectorVariant::avx512)
        return kAvx512;
    if (variant == VectorVariant::avx2)
        return kAvx2;
#endif
    (void)variant;
    return kBaseline;
}

const SweepKernels& bestSweepKernels()
{
    return sweepKernels(bestVariant());
}

}  // namespace tessavo
