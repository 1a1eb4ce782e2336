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
// k from 0.0; ht is the chunk's rows of Hᵀ (K each).
TESSAVO_CLONES void productChunk(const double* ht, int components, const double* weights, int columns, double* out)
{
    for (int j = 0; j < columns; ++j) {
        const double* row = ht + at(j, components);
        Vec8 p = {};
        for (int k = 0; k < components; ++k)
            p = p + load(weights + at(k, kBlockRows)) * row[k];
        store(out + at(j, kBlockRows), p);
    }
}

// den and num of components [offset, offset + KC) continue their sums over
// the chunk's columns, in increasing j. KC independent pairs of chains per
// column keep the adders busy.
template <int KC>
TESSAVO_CLONES void denNumChunk(const double* products, const double* panel, const double* ht, int components,
                                int offset, int columns, double* den, double* num)
{
    Vec8 d[KC], n[KC];
    for (int c = 0; c < KC; ++c) {
        d[c] = load(den + at(offset + c, kBlockRows));
        n[c] = load(num + at(offset + c, kBlockRows));
    }
    for (int j = 0; j < columns; ++j) {
        const Vec8 p = load(products + at(j, kBlockRows));
        const Vec8 v = load(panel + at(j, kBlockRows));
        const double* row = ht + at(j, components) + offset;
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

// Lanes of x (0-7) and y (8-15) in the order given.
template <int a, int b, int c, int d, int e, int f, int g, int h>
__attribute__((always_inline)) inline Vec8 pick(Vec8 x, Vec8 y)
{
#if defined(__clang__)
    return __builtin_shufflevector(x, y, a, b, c, d, e, f, g, h);
#else
    typedef long long Index8 __attribute__((vector_size(64)));
    return __builtin_shuffle(x, y, Index8{a, b, c, d, e, f, g, h});
#endif
}

// columns[q][r] = rows[r][first + j + q]: eight rows of eight values turned
// into eight columns by three rounds of two-vector shuffles (pairs of
// values, then 128-bit quarters), all of kinds the processor does in one
// step.
__attribute__((always_inline)) inline void transposeEight(const double* const rows[kBlockRows], int at,
                                                          Vec8 columns[kBlockRows])
{
    Vec8 r[kBlockRows], t[kBlockRows], u[kBlockRows];
    for (int q = 0; q < kBlockRows; ++q)
        r[q] = load(rows[q] + at);
    for (int q = 0; q < kBlockRows; q += 2) {
        t[q] = pick<0, 8, 2, 10, 4, 12, 6, 14>(r[q], r[q + 1]);
        t[q + 1] = pick<1, 9, 3, 11, 5, 13, 7, 15>(r[q], r[q + 1]);
    }
    // u[c] holds columns c and c + 4 of four rows, a quarter per pair of rows.
    for (int q = 0; q < kBlockRows; q += 4) {
        u[q] = pick<0, 1, 4, 5, 8, 9, 12, 13>(t[q], t[q + 2]);
        u[q + 1] = pick<0, 1, 4, 5, 8, 9, 12, 13>(t[q + 1], t[q + 3]);
        u[q + 2] = pick<2, 3, 6, 7, 10, 11, 14, 15>(t[q], t[q + 2]);
        u[q + 3] = pick<2, 3, 6, 7, 10, 11, 14, 15>(t[q + 1], t[q + 3]);
    }
    for (int c = 0; c < 4; ++c) {
        columns[c] = pick<0, 1, 4, 5, 8, 9, 12, 13>(u[c], u[c + 4]);
        columns[c + 4] = pick<2, 3, 6, 7, 10, 11, 14, 15>(u[c], u[c + 4]);
    }
}

// Column j of the block (eight rows) gathered one value at a time.
__attribute__((always_inline)) inline Vec8 gatherColumn(const double* const rows[kBlockRows], int at)
{
    Vec8 column;
    for (int r = 0; r < kBlockRows; ++r)
        column[r] = rows[r][at];
    return column;
}

// panel[j·8 + r] = rows[r][first + j] for the chunk's columns.
TESSAVO_CLONES void transposeChunk(const double* const rows[kBlockRows], int first, int columns, double* panel)
{
    int j = 0;
    for (; j + kBlockRows <= columns; j += kBlockRows) {
        Vec8 c[kBlockRows];
        transposeEight(rows, first + j, c);
        for (int q = 0; q < kBlockRows; ++q)
            store(panel + at(j + q, kBlockRows), c[q]);
    }
    for (; j < columns; ++j)
        store(panel + at(j, kBlockRows), gatherColumn(rows, first + j));
}

// One column of the block: p = (W·H)[·][j] across the rows, then den and
// num gain p · H[k][j] and V[·][j] · H[k][j].
template <int KC>
__attribute__((always_inline)) inline void fusedColumn(Vec8 v, const double* row, const Vec8 w[KC], Vec8 d[KC],
                                                       Vec8 n[KC])
{
    Vec8 p = {};
    for (int c = 0; c < KC; ++c)
        p = p + w[c] * row[c];
    for (int c = 0; c < KC; ++c) {
        d[c] = d[c] + p * row[c];
        n[c] = n[c] + v * row[c];
    }
}

// den and num continue their sums over a chunk of columns for up to four
// components at once: the rows are turned into columns in registers, and
// W·H, (W·H)·Hᵀ and V·Hᵀ go in one pass, with the weights and the 2·KC sums
// in registers too.
template <int KC>
TESSAVO_CLONES void fusedChunk(const double* const rows[kBlockRows], int first, int columns, const double* ht,
                               const double* weights, double* den, double* num, const double* const ahead[kBlockRows])
{
    Vec8 w[KC], d[KC], n[KC];
    for (int c = 0; c < KC; ++c) {
        w[c] = load(weights + at(c, kBlockRows));
        d[c] = load(den + at(c, kBlockRows));
        n[c] = load(num + at(c, kBlockRows));
    }
    int j = 0;
    for (; j + kBlockRows <= columns; j += kBlockRows) {
        Vec8 v[kBlockRows];
        transposeEight(rows, first + j, v);
        for (int q = 0; q < kBlockRows; ++q)
            fusedColumn<KC>(v[q], ht + at(j + q, KC), w, d, n);
        // A cache line of each of the next chunk's rows: they arrive while
        // this chunk is computed.
        for (int r = 0; r < kBlockRows; ++r)
            __builtin_prefetch(ahead[r] + j);
    }
    for (; j < columns; ++j)
        fusedColumn<KC>(gatherColumn(rows, first + j), ht + at(j, KC), w, d, n);
    for (int c = 0; c < KC; ++c) {
        store(den + at(c, kBlockRows), d[c]);
        store(num + at(c, kBlockRows), n[c]);
    }
}

// How far ahead of the running sum V is fetched, in doubles: past the end of
// a row it reaches into the next one. A prefetch never faults.
constexpr int kPrefetchAhead = 1024;

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
        // V comes from memory while H's rows come from the second-level
        // cache; asking for V well ahead keeps the running sum from waiting.
        __builtin_prefetch(vi + j + kPrefetchAhead);
        const Vec8 diff = load(vi + j) - p;
        const Vec8 squares = diff * diff;
        for (int q = 0; q < kBlockRows; ++q)
            s = s + squares[q];
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

// numeratorH gains the terms of one block's rows, row after row: V's rows
// (vs, rowStride apart) are loaded once per eight columns and serve every
// component.
template <int KC, int kRows>
TESSAVO_CLONES void numeratorRowsOf(const double* vs, std::ptrdiff_t rowStride, int rows, const double* newW,
                                    int components, int bins, int stride, double* numeratorH)
{
    const int count = KC > 0 ? KC : components;
    const int rowCount = kRows > 0 ? kRows : rows;
    // With K known here the weights are copied next to each other, so that
    // each is read straight into its multiplication at a fixed offset.
    double local[kBlockRows * (KC > 0 ? KC : 1)];
    const double* w = newW;
    if constexpr (KC > 0) {
        std::copy(newW, newW + at(rowCount, KC), local);
        w = local;
    }
    const int wStride = KC > 0 ? KC : components;
    int j = 0;
    for (; j + kBlockRows <= bins; j += kBlockRows) {
        Vec8 v[kBlockRows];
        for (int r = 0; r < rowCount; ++r)
            v[r] = load(vs + r * rowStride + j);
        for (int k = 0; k < count; ++k) {
            double* acc = numeratorH + at(k, stride) + j;
            Vec8 a = load(acc);
            for (int r = 0; r < rowCount; ++r)
                a = a + v[r] * w[at(r, wStride) + k];
            store(acc, a);
        }
    }
    for (; j < bins; ++j)
        for (int k = 0; k < count; ++k) {
            double& acc = numeratorH[at(k, stride) + j];
            for (int r = 0; r < rowCount; ++r)
                acc = acc + w[at(r, wStride) + k] * vs[r * rowStride + j];
        }
}

template <int KC>
void numeratorRowsFor(const double* vs, std::ptrdiff_t rowStride, int rows, const double* newW, int components,
                      int bins, int stride, double* numeratorH)
{
    if (rows == kBlockRows)
        numeratorRowsOf<KC, kBlockRows>(vs, rowStride, rows, newW, components, bins, stride, numeratorH);
    else
        numeratorRowsOf<KC, 0>(vs, rowStride, rows, newW, components, bins, stride, numeratorH);
}

}  // namespace

void blockProducts(const double* const rows[kBlockRows], const double* const next[kBlockRows], const double* ht,
                   int bins, int components, const double* weights, double* scratch, double* den, double* num)
{
    std::fill(den, den + at(components, kBlockRows), 0.0);
    std::fill(num, num + at(components, kBlockRows), 0.0);
    if (components == 0)
        return;
    double* panel = scratch;
    double* products = scratch + at(kScratchColumns, kBlockRows);
    for (int first = 0; first < bins; first += kScratchColumns) {
        const int columns = std::min(kScratchColumns, bins - first);
        const double* htChunk = ht + at(first, components);
        const double* ahead[kBlockRows];
        for (int r = 0; r < kBlockRows; ++r)
            ahead[r] = first + kScratchColumns < bins ? rows[r] + first + kScratchColumns : next[r];
        switch (components) {
        case 1: fusedChunk<1>(rows, first, columns, htChunk, weights, den, num, ahead); continue;
        case 2: fusedChunk<2>(rows, first, columns, htChunk, weights, den, num, ahead); continue;
        case 3: fusedChunk<3>(rows, first, columns, htChunk, weights, den, num, ahead); continue;
        case 4: fusedChunk<4>(rows, first, columns, htChunk, weights, den, num, ahead); continue;
        default: break;
        }
        transposeChunk(rows, first, columns, panel);
        productChunk(htChunk, components, weights, columns, products);
        for (int offset = 0; offset < components; offset += 4) {
            switch (std::min(4, components - offset)) {
            case 1: denNumChunk<1>(products, panel, htChunk, components, offset, columns, den, num); break;
            case 2: denNumChunk<2>(products, panel, htChunk, components, offset, columns, den, num); break;
            case 3: denNumChunk<3>(products, panel, htChunk, components, offset, columns, den, num); break;
            default: denNumChunk<4>(products, panel, htChunk, components, offset, columns, den, num); break;
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

void blockNumerator(const double* vs, std::ptrdiff_t rowStride, int rows, const double* newW, int components,
                    int bins, int stride, double* numeratorH)
{
    switch (components) {
    case 0: break;
    case 1: numeratorRowsFor<1>(vs, rowStride, rows, newW, components, bins, stride, numeratorH); break;
    case 2: numeratorRowsFor<2>(vs, rowStride, rows, newW, components, bins, stride, numeratorH); break;
    case 3: numeratorRowsFor<3>(vs, rowStride, rows, newW, components, bins, stride, numeratorH); break;
    case 4: numeratorRowsFor<4>(vs, rowStride, rows, newW, components, bins, stride, numeratorH); break;
    default: numeratorRowsFor<0>(vs, rowStride, rows, newW, components, bins, stride, numeratorH); break;
    }
}

}  // namespace tessavo
