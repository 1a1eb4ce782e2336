#pragma once
// Text form of a Matrix, the format of the W and H files.
//
// A header line "rows cols", then one line per row in which every value is
// followed by one space:
//
//     2 3
//     1 0.5 0.25 
//     2 3 0.0001 
//
// Values use the stream's current formatting (by default printf's %g with
// six significant digits). Nothing is flushed; a failed stream writes
// nothing.

#include "core/Matrix.h"

#include <ostream>

namespace tessavo {

std::ostream& operator<<(std::ostream& out, const Matrix& m);

}  // namespace tessavo
