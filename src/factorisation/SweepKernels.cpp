#include "factorisation/SweepKernels.h"

#include "factorisation/VectorClones.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tessavo {

namespace {

// Eight doubles, one IEEE operation per lane: the same bits as eight scalar
// operations, whatever instructions the compiler picks for them. A scalar
// operand of a vector operation stands for eight copies of itself (the
// compiler broadcasts it straight from memory, where a written-out
// eight-element vector would go through the stack).
typedef double Vec8 __attribute__((vector_size(64)));
typedef double Vec4 __attribute__((vector_size(32)));
static_assert(sizeof(Vec8) == kBlockRows * sizeof(double), "one lane per row of a block");

__attribute__((always_inline)) inline Vec8 load(const double* p)
{
    Vec8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store(double* p, Vec8 v)
{
    std::memcpy(p, &v, sizeof v);
}

inline std::ptrdiff_t at(int row, int stride)
{
    return static_cast<std::ptrdiff_t>(row) * stride;
}

// out[j·8 + r] = (W·H)[first + r][c0 + j] for the chunk's columns, summed over
// k from 0.0. KC is the component count when known at compile time (the
// weights then stay in registers), 0 otherwise.
template <int KC>
TESSAVO_CLONES void productChunk(const double* ht, int padded, int components, const double* weights, int columns,
                                 double* out)
{
    const int count = KC > 0 ? KC : components;
    for (int j = 0; j < columns; ++j) {
        const double* row = ht + at(j, padded);
        Vec8 p = {};
        for (int k = 0; k < count; ++k)
            p = p + load(weights + at(k, kBlockRows)) * row[k];
        store(out + at(j, kBlockRows), p);
    }
}

// den and num of components [offset, offset + KC) continue their sums over
// the chunk's columns, in increasing j. KC independent pairs of chains per
// column keep the adders busy.
template <int KC>
TESSAVO_CLONES void denNumChunk(const double* products, const double* panel, const double* ht, int padded, int offset,
                                int columns, double* den, double* num)
{
    Vec8 d[KC], n[KC];
    for (int c = 0; c < KC; ++c) {
        d[c] = load(den + at(offset + c, kBlockRows));
        n[c] = load(num + at(offset + c, kBlockRows));
    }
    for (int j = 0; j < columns; ++j) {
        const Vec8 p = load(products + at(j, kBlockRows));
        const Vec8 v = load(panel + at(j, kBlockRows));
        const double* row = ht + at(j, padded) + offset;
        for (int c = 0; c < KC; ++c) {
            d[c] = d[c] + p * row[c];
            n[c] = n[c] + v * row[c];
        }
    }
    for (int c = 0; c < KC; ++c) {
        store(den + at(offset + c, kBlockRows), d[c]);
        store(num + at(offset + c, kBlockRows), n[c]);
    }
}

// blockProducts for up to four components: W·H, (W·H)·Hᵀ and V·Hᵀ in one
// pass over the panel, the weights and the 2·KC sums in registers.
template <int KC>
TESSAVO_CLONES void fusedBlock(const double* panel, const double* ht, int bins, const double* weights, double* den,
                               double* num)
{
    Vec8 w[KC], d[KC], n[KC];
    for (int c = 0; c < KC; ++c) {
        w[c] = load(weights + at(c, kBlockRows));
        d[c] = Vec8{};
        n[c] = Vec8{};
    }
    for (int j = 0; j < bins; ++j) {
        const double* row = ht + at(j, KC);
        Vec8 p = {};
        for (int c = 0; c < KC; ++c)
            p = p + w[c] * row[c];
        const Vec8 v = load(panel + at(j, kBlockRows));
        for (int c = 0; c < KC; ++c) {
            d[c] = d[c] + p * row[c];
            n[c] = n[c] + v * row[c];
        }
    }
    for (int c = 0; c < KC; ++c) {
        store(den + at(c, kBlockRows), d[c]);
        store(num + at(c, kBlockRows), n[c]);
    }
}

template <int KC>
TESSAVO_CLONES void objectiveRowOf(const double* vi, const double* wi, const double* h, int components, int bins,
                                   int stride, double& sum)
{
    const int count = KC > 0 ? KC : components;
    double s = sum;
    int j = 0;
    for (; j + kBlockRows <= bins; j += kBlockRows) {
        Vec8 p = {};
        for (int k = 0; k < count; ++k)
            p = p + load(h + at(k, stride) + j) * wi[k];
        const Vec8 diff = load(vi + j) - p;
        const Vec8 sq = diff * diff;
        for (int q = 0; q < kBlockRows; ++q)
            s = s + sq[q];
    }
    for (; j < bins; ++j) {
        double p = 0.0;
        for (int k = 0; k < count; ++k)
            p = p + wi[k] * h[at(k, stride) + j];
        const double diff = vi[j] - p;
        s = s + diff * diff;
    }
    sum = s;
}

// numeratorHt[j·width + k] gains the block's terms for kVectors vectors of
// components from offset, row after row. Each vector holds neighbouring
// components of one column, so the rows' terms go in one after another.
template <typename Vec, int kVectors, int kRows>
TESSAVO_CLONES void numeratorBlock(const double* panel, const double* newW, int rows, int bins, int width,
                                   int offset, double* numeratorHt)
{
    constexpr int lanes = sizeof(Vec) / sizeof(double);
    const int count = kRows > 0 ? kRows : rows;
    Vec w[kBlockRows][kVectors];
    for (int r = 0; r < count; ++r)
        for (int q = 0; q < kVectors; ++q)
            std::memcpy(&w[r][q], newW + at(r, width) + offset + q * lanes, sizeof(Vec));
    for (int j = 0; j < bins; ++j) {
        const double* column = panel + at(j, kBlockRows);
        double* acc = numeratorHt + at(j, width) + offset;
        Vec a[kVectors];
        std::memcpy(a, acc, sizeof a);
        for (int r = 0; r < count; ++r)
            for (int q = 0; q < kVectors; ++q)
                a[q] = a[q] + w[r][q] * column[r];
        std::memcpy(acc, a, sizeof a);
    }
}

template <typename Vec, int kVectors>
void numeratorBlockOf(const double* panel, const double* newW, int rows, int bins, int width, int offset,
                      double* numeratorHt)
{
    if (rows == kBlockRows)
        numeratorBlock<Vec, kVectors, kBlockRows>(panel, newW, rows, bins, width, offset, numeratorHt);
    else
        numeratorBlock<Vec, kVectors, 0>(panel, newW, rows, bins, width, offset, numeratorHt);
}

}  // namespace

void blockProducts(const double* panel, const double* ht, int padded, int bins, int components,
                   const double* weights, double* scratch, double* den, double* num)
{
    switch (components) {
    case 0: return;
    case 1: fusedBlock<1>(panel, ht, bins, weights, den, num); return;
    case 2: fusedBlock<2>(panel, ht, bins, weights, den, num); return;
    case 3: fusedBlock<3>(panel, ht, bins, weights, den, num); return;
    case 4: fusedBlock<4>(panel, ht, bins, weights, den, num); return;
    default: break;
    }
    std::fill(den, den + at(components, kBlockRows), 0.0);
    std::fill(num, num + at(components, kBlockRows), 0.0);
    for (int first = 0; first < bins; first += kScratchColumns) {
        const int columns = std::min(kScratchColumns, bins - first);
        const double* htChunk = ht + at(first, padded);
        const double* panelChunk = panel + at(first, kBlockRows);
        productChunk<0>(htChunk, padded, components, weights, columns, scratch);
        for (int offset = 0; offset < components; offset += 4) {
            switch (std::min(4, components - offset)) {
            case 1: denNumChunk<1>(scratch, panelChunk, htChunk, padded, offset, columns, den, num); break;
            case 2: denNumChunk<2>(scratch, panelChunk, htChunk, padded, offset, columns, den, num); break;
            case 3: denNumChunk<3>(scratch, panelChunk, htChunk, padded, offset, columns, den, num); break;
            default: denNumChunk<4>(scratch, panelChunk, htChunk, padded, offset, columns, den, num); break;
            }
        }
    }
}

void objectiveRow(const double* vi, const double* wi, const double* h, int components, int bins, int stride,
                  double& sum)
{
    switch (components) {
    case 1: objectiveRowOf<1>(vi, wi, h, components, bins, stride, sum); break;
    case 2: objectiveRowOf<2>(vi, wi, h, components, bins, stride, sum); break;
    case 3: objectiveRowOf<3>(vi, wi, h, components, bins, stride, sum); break;
    case 4: objectiveRowOf<4>(vi, wi, h, components, bins, stride, sum); break;
    case 5: objectiveRowOf<5>(vi, wi, h, components, bins, stride, sum); break;
    case 6: objectiveRowOf<6>(vi, wi, h, components, bins, stride, sum); break;
    case 7: objectiveRowOf<7>(vi, wi, h, components, bins, stride, sum); break;
    case 8: objectiveRowOf<8>(vi, wi, h, components, bins, stride, sum); break;
    default: objectiveRowOf<0>(vi, wi, h, components, bins, stride, sum); break;
    }
}

int numeratorWidth(int components)
{
    return components <= 4 ? 4 : (components + 7) / 8 * 8;
}

void blockNumerator(const double* panel, const double* newW, int rows, int bins, int width, double* numeratorHt)
{
    if (width == 4) {
        numeratorBlockOf<Vec4, 1>(panel, newW, rows, bins, width, 0, numeratorHt);
        return;
    }
    // Up to four vectors of eight components per pass over the panel.
    for (int offset = 0; offset < width; offset += 32) {
        switch (std::min(4, (width - offset) / 8)) {
        case 1: numeratorBlockOf<Vec8, 1>(panel, newW, rows, bins, width, offset, numeratorHt); break;
        case 2: numeratorBlockOf<Vec8, 2>(panel, newW, rows, bins, width, offset, numeratorHt); break;
        case 3: numeratorBlockOf<Vec8, 3>(panel, newW, rows, bins, width, offset, numeratorHt); break;
        default: numeratorBlockOf<Vec8, 4>(panel, newW, rows, bins, width, offset, numeratorHt); break;
        }
    }
}

}  // namespace tessavo
