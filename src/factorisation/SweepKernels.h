#pragma once
// The inner loops of the Euclidean loss in the fast schedule (EuclideanLoss).
//
// Each kernel keeps every output element's own sum in the order the plain
// products use: W·H over k from 0.0, (W·H)·Hᵀ and V·Hᵀ over j from 0.0,
// Wᵀ·V over the rows in increasing order, and the objective as one running
// sum. The vectors run across independent outputs only (eight rows of a
// block, or eight neighbouring columns of one row), so the results are the
// plain path's to the last bit.

#include "core/VectorVariants.h"

#include <cstddef>
#include <cstdint>

namespace tessavo {

// Rows are updated in blocks of this many, one per vector lane.
constexpr int kBlockRows = 8;

// The kernels of one vector variant. For one block of kBlockRows rows of V
// (rows[r], a row of zeros for rows past the end of V), with the block's old
// weights stored column by column (weights[k·8 + r] = W[first + r][k], zero
// for rows past the end), blockProducts forms
//   den[k·8 + r] = Σj (W·H)[first + r][j] · H[k][j]
//   num[k·8 + r] = Σj V[first + r][j] · H[k][j]
// ht is Hᵀ (bins × K). The rows are turned into columns a chunk at a time in
// scratch, which holds 2 · kScratchColumns · kBlockRows doubles, so that one
// vector holds one column of the block and each lane one row's sums.
// next[r] are the rows of the block that comes next (any readable rows for
// the last): their first chunk is fetched ahead while the last chunk of this
// block is computed. With numKnown, num already holds V·Hᵀ (H fixed, from an
// earlier pass) and only den is formed. The block's terms of the
// objective, (V − W·H)² for each row r, go into units[r], each in units of
// the binade whose unitScale is scales[r] (ExactSum.h); flagged[r] is set
// where a term ties or has limit units or more.
//
// objectiveRow continues the objective's running sum over row i of V:
// (V − W·H)[i][j]² in increasing j, where wi is W's row i and
// h[k·stride + j] is H. A stride of an odd number of cache lines keeps the K
// rows of H in different sets of the first-level cache.
//
// blockNumerator adds the terms of Wᵀ·V for one block's rows, in increasing
// row order: numeratorH[k·stride + j] += newW[r·K + k] · V[r][j] for
// r = 0 … rows − 1, where vs points at the block's first row of V and rows
// are rowStride apart.
constexpr int kScratchColumns = 256;

struct SweepKernels {
    void (*blockProducts)(const double* const rows[kBlockRows], const double* const next[kBlockRows],
                          const double* ht, int bins, int components, const double* weights, double* scratch,
                          double* den, double* num, bool numKnown, const double* scales, double limit,
                          std::uint64_t* units, std::uint64_t* flagged);
    void (*objectiveRow)(const double* vi, const double* wi, const double* h, int components, int bins, int stride,
                         double& sum);
    void (*blockNumerator)(const double* vs, std::ptrdiff_t rowStride, int rows, const double* newW, int components,
                           int bins, int stride, double* numeratorH);
};

// The kernels of a variant this build holds (the baseline for any other).
const SweepKernels& sweepKernels(VectorVariant variant);
// Those of the widest variant this processor runs.
const SweepKernels& bestSweepKernels();

}  // namespace tessavo
