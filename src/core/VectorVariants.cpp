#include "core/VectorVariants.h"

namespace tessavo {

const char* variantName(VectorVariant v)
{
    switch (v) {
    case VectorVariant::avx512: return "avx512";
    case VectorVariant::avx2: return "avx2";
    default: return "baseline";
    }
}

std::vector<VectorVariant> builtVariants()
{
#if TESSAVO_VECTOR_VARIANTS
    return {VectorVariant::baseline, VectorVariant::avx2, VectorVariant::avx512};
#else
    return {VectorVariant::baseline};
#endif
}

bool runsHere(VectorVariant v)
{
#if TESSAVO_VECTOR_VARIANTS
    // libgcc's checks include the operating system's support for the wider
    // registers.
    if (v == VectorVariant::avx512)
        return __builtin_cpu_supports("avx512f");
    if (v == VectorVariant::avx2)
        return __builtin_cpu_supports("avx2");
    return true;
#else
    return v == VectorVariant::baseline;
#endif
}

VectorVariant bestVariant()
{
    static const VectorVariant best = [] {
        VectorVariant chosen = VectorVariant::baseline;
        for (VectorVariant v : builtVariants())
            if (runsHere(v))
                chosen = v;
        return chosen;
    }();
    return best;
}

}  // namespace tessavo
