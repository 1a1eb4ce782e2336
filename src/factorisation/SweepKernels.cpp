#include "factorisation/SweepKernels.h"

#include "core/SplitVector.h"
#include "factorisation/ExactSum.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tessavo {

namespace {

#define TESSAVO_VARIANT_BODY "factorisation/SweepVariant.inc"
#include "core/VariantBodies.h"

}  // namespace

const SweepKernels& sweepKernels(VectorVariant variant)
{
    return TESSAVO_OF_VARIANT(variant, kKernels);
}

const SweepKernels& bestSweepKernels()
{
    return sweepKernels(bestVariant());
}

}  // namespace tessavo
