#pragma once
// The W and H text files: filename + "-W.txt" and filename + "-H.txt", the
// whole input name with its extension, written whole or not at all.

#include "factorisation/Matrix.h"

#include <string>

namespace tessavo {

// Throws RunError ("Not able to open output file " + name) when a file
// cannot be created or written.
void writeMatrixFiles(const std::string& filename, const Matrix& w, const Matrix& h);

}  // namespace tessavo
