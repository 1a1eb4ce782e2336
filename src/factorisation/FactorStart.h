#pragma once
// The factors a factorisation starts from.
//
// H's first rows may be fixed: given spectra (templates) that no update
// changes. Everything else is drawn from the run's random stream, in this
// order: every element of W (frames × (fixed + free)), row by row, then the
// free rows of H (free × bins), row by row; each draw is scaled by
// kNmfRandomScale. With no fixed rows these are exactly the draws of an
// unsupervised start.

#include "core/Matrix.h"
#include "factorisation/Random.h"

namespace tessavo {

// Scale of the random start: the double nearest 1/16383 (bit pattern
// 0x3F10004001000400). Applied as a product; draw / 16383 differs in the
// last bit for some draws.
constexpr double kNmfRandomScale = 6.103888176768602e-05;

struct StartFactors {
    Matrix w;           // frames × (fixedRows + free)
    Matrix h;           // (fixedRows + free) × bins, the fixed rows first
    int fixedRows = 0;
};

// Draws the start for frames × bins with the rows of fixed (each bins long,
// or the empty matrix for none) first in H and free components beside them.
// Throws std::invalid_argument for a negative free count or fixed rows of
// another length; Matrix's std::length_error or std::bad_alloc propagate
// when the factors are too large.
StartFactors drawStart(int frames, int bins, const Matrix& fixed, int free, RandomStream& random);

}  // namespace tessavo
