#pragma once
// The measures of how far W·H is from V that the factorisation can minimise.

namespace tessavo {

enum class Loss {
    euclidean,  // the square root of the summed squared differences
    kl,         // the generalised Kullback-Leibler divergence D(V | W·H)
    is,         // the Itakura-Saito divergence D(V | W·H), zero cells floored (ItakuraSaito.h)
};

}  // namespace tessavo
