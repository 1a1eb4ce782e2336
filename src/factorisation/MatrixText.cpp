#include "factorisation/MatrixText.h"

namespace tessavo {

std::ostream& operator<<(std::ostream& out, const Matrix& m)
{
    out << m.rows() << ' ' << m.cols() << '\n';
    for (int i = 0; i < m.rows(); ++i) {
        // Every value, the last one included, is followed by a space.
        for (int j = 0; j < m.cols(); ++j)
            out << m[i][j] << ' ';
        out << '\n';
    }
    return out;
}

}  // namespace tessavo
