#pragma once
// The W and H text files: filename + "-W.txt" and filename + "-H.txt", the
// whole input name with its extension.

#include "app/PendingFile.h"
#include "factorisation/Matrix.h"

#include <string>

namespace tessavo {

std::string wFileName(const std::string& filename);
std::string hFileName(const std::string& filename);

// Writes m in the matrix text format into file and closes it; the caller
// commits it. Throws RunError ("Not able to write output file " + name, and
// the reason) when the text cannot be written.
void writeMatrix(PendingFile& file, const Matrix& m);

}  // namespace tessavo
