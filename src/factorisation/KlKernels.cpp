#include "factorisation/KlKernels.h"

#include "factorisation/Logarithm.h"
#include "core/SplitVector.h"
#include "factorisation/MultiplicativeUpdate.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace tessavo {

namespace {

#define TESSAVO_VARIANT_BODY "factorisation/KlVariant.inc"
#include "core/VariantBodies.h"

}  // namespace

const KlKernels& klKernels(VectorVariant variant)
{
    return TESSAVO_OF_VARIANT(variant, kKlKernels);
}

const KlKernels& bestKlKernels()
{
    return klKernels(bestVariant());
}

}  // namespace tessavo
