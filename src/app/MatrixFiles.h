#pragma once
// The W and H text files.

#include "app/PendingFile.h"
#include "core/Matrix.h"

#include <string>

namespace tessavo {

// Writes m in the matrix text format, with precision significant digits,
// into file and closes it; the caller commits it. Throws RunError ("Not able to write output file " + name, and
// the reason) when the text cannot be written.
void writeMatrix(PendingFile& file, const Matrix& m, int precision);
// Writes text into file and closes it, failing as writeMatrix does.
void writeText(PendingFile& file, const std::string& text);

}  // namespace tessavo
