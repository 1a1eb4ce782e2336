#pragma once
// The inner loops of the factorisation sweep (FastNmf).
//
// Each kernel keeps every output element's own sum in the order the plain
// products use: W·H over k from 0.0, (W·H)·Hᵀ and V·Hᵀ over j from 0.0,
// Wᵀ·V over the rows in increasing order, and the objective as one running
// sum. The vectors run across independent outputs only (eight rows of a
// block, or eight neighbouring columns of one row), so the results are the
// plain path's to the last bit.

#include <cstddef>

namespace tessavo {

// Rows are updated in blocks of this many, one per vector lane.
constexpr int kBlockRows = 8;

// For one block of kBlockRows rows, with V's block stored column by column
// (panel[j·8 + r] = V[first + r][j]) and the block's old weights likewise
// (weights[k·8 + r] = W[first + r][k], zero for rows past the end):
//   den[k·8 + r] = Σj (W·H)[first + r][j] · H[k][j]
//   num[k·8 + r] = Σj V[first + r][j] · H[k][j]
// ht is Hᵀ with rows of `padded` entries; scratch holds kScratchColumns × 8
// doubles.
constexpr int kScratchColumns = 256;
void blockProducts(const double* panel, const double* ht, int padded, int bins, int components,
                   const double* weights, double* scratch, double* den, double* num);

// The objective's running sum continues over row i of V: (V − W·H)[i][j]² in
// increasing j, where wi is W's row i and h[k·stride + j] is H. A stride of
// an odd number of cache lines keeps the K rows of H in different sets of
// the first-level cache.
void objectiveRow(const double* vi, const double* wi, const double* h, int components, int bins, int stride,
                  double& sum);

// numeratorH gains the terms of Wᵀ·V for one block's rows, in increasing
// row order: numeratorH[k·stride + j] += newW[r·K + k] · V[first + r][j] for
// r = 0 … rows − 1, where vs points at V's row `first` and rows are
// rowStride apart.
void blockNumerator(const double* vs, std::ptrdiff_t rowStride, int rows, const double* newW, int components,
                    int bins, int stride, double* numeratorH);

}  // namespace tessavo
