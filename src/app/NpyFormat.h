#pragma once
// NumPy's .npy format for one 2-D matrix of doubles, so that np.load reads
// the factors without a parser of its own. Written as version 1.0,
// little-endian '<f8', C order; read in versions 1 to 3, C or Fortran order.

#include "core/Matrix.h"

#include <cstdio>
#include <string>

namespace tessavo {

// The whole file for m: the header, padded to 64 bytes as np.save pads it,
// then every element, row by row.
std::string npyBytes(const Matrix& m);

// The matrix in an .npy file open at its first byte. Throws RunError, with
// what + " " + path at the start of its one-line message, when the file is
// no 2-D little-endian double array or ends early or late.
Matrix readNpy(std::FILE* file, const std::string& path, const std::string& what);

}  // namespace tessavo
