#pragma once
// The inner loops of the Itakura-Saito loss in the fast schedule
// (ItakuraSaito.cpp): IsCells' numbers to the last bit.
//
// Each cell's terms are IsCells' operations in IsCells' order, lane by lane,
// and the logarithm is logOfNormal in every lane (naturalLog where a lane is
// not a positive normal number). Each output element keeps its own sum in
// FastCells' order: W·H over k from 0.0, the W half's sums over j from 0.0,
// the H half's over the rows in increasing order. The vectors run across
// independent outputs only (the eight rows of a block, or eight
// neighbouring columns).

#include "factorisation/SweepKernels.h"
#include "core/VectorVariants.h"

#include <cstddef>

namespace tessavo {

// For the W update, blockWeights takes one block of kBlockRows rows of V
// (rows[r]; a row of zeros past the end of V) with the block's weights
// stored column by column (weights[k·8 + r] = W[first + r][k]) and Hᵀ (ht,
// bins × K), and forms, with λ = ε + W·H and v = max(V, floor),
//   num[k·8 + r]   = Σj v / λ² · H[k][j]
//   den[k·8 + r]   = Σj 1 / λ · H[k][j]
//   rowSums[r]     = Σj of q − log q − 1, q = v / λ, of row first + r
// scratch holds 2 · kScratchColumns · kBlockRows doubles.
//
// For the H update, columnSums adds to numerator[k·stride + j] the terms
// W[i][k] · v / λ² and to denominator[k·stride + j] the terms W[i][k] / λ
// (as W[i][k] · (1 / λ)) for every row i in increasing order, for the
// columns [first, end) and the rows k >= fixedRows; w is W (frames × K, row
// by row), h[k·stride + j] is H and vs[i·vStride + j] is V.
struct IsKernels {
    void (*blockWeights)(const double* const rows[kBlockRows], const double* ht, int bins, int components,
                         double floor, const double* weights, double* scratch, double* num, double* den,
                         double* rowSums);
    void (*columnSums)(const double* vs, std::ptrdiff_t vStride, int frames, const double* w, int components,
                       int fixedRows, const double* h, int stride, int first, int end, double floor,
                       double* numerator, double* denominator);
};

// The kernels of a variant this build holds (the baseline for any other).
const IsKernels& isKernels(VectorVariant variant);
// Those of the widest variant this processor runs.
const IsKernels& bestIsKernels();

}  // namespace tessavo
