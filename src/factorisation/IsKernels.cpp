#include "factorisation/IsKernels.h"

#include "factorisation/ItakuraSaito.h"
#include "factorisation/Logarithm.h"
#include "core/SplitVector.h"
#include "factorisation/MultiplicativeUpdate.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace tessavo {

namespace {

#define TESSAVO_VARIANT_BODY "factorisation/IsVariant.inc"
#include "core/VariantBodies.h"

}  // namespace

const IsKernels& isKernels(VectorVariant variant)
{
    return TESSAVO_OF_VARIANT(variant, kIsKernels);
}

const IsKernels& bestIsKernels()
{
    return isKernels(bestVariant());
}

}  // namespace tessavo
