#pragma once
// The inner loops of the Kullback-Leibler loss in the fast schedule (KlLoss).
//
// Each output element keeps its own sum in the plain order: W·H over k from
// 0.0, Q·Hᵀ over j from 0.0, Wᵀ·Q over the rows in increasing order. The
// vectors run across independent outputs only (the eight rows of a block,
// or eight neighbouring columns), and the logarithm is logOfNormal in every
// lane, so the results are PlainKl's to the last bit.

#include "factorisation/SweepKernels.h"
#include "core/VectorVariants.h"

#include <cstddef>

namespace tessavo {

// For the W update, blockWeights takes one block of kBlockRows rows of V
// (rows[r]; a row of zeros past the end of V) with the block's weights
// stored column by column (weights[k·8 + r] = W[first + r][k]) and Hᵀ (ht,
// bins × K), and forms
//   num[k·8 + r]   = Σj Q[first + r][j] · H[k][j], Q = V / (ε + W·H)
//   rowSums[r]     = Σj of the divergence's terms of row first + r
// scratch holds 2 · kScratchColumns · kBlockRows doubles.
//
// For the H update, columnSums adds to numerator[k·stride + j] the terms
// W[i][k] · Q[i][j] for every row i in increasing order, for the columns
// [first, end) and the rows k >= fixedRows; w is W (frames × K, row by row),
// h[k·stride + j] is H and vs[i·vStride + j] is V.
struct KlKernels {
    void (*blockWeights)(const double* const rows[kBlockRows], const double* ht, int bins, int components,
                         const double* weights, double* scratch, double* num, double* rowSums);
    void (*columnSums)(const double* vs, std::ptrdiff_t vStride, int frames, const double* w, int components,
                       int fixedRows, const double* h, int stride, int first, int end, double* numerator);
};

// The kernels of a variant this build holds (the baseline for any other).
const KlKernels& klKernels(VectorVariant variant);
// Those of the widest variant this processor runs.
const KlKernels& bestKlKernels();

}  // namespace tessavo
