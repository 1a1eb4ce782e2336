#pragma once
// Small matrices written out in the tests, row by row.

#include "core/Matrix.h"

#include <initializer_list>

namespace tessavo::test {

inline Matrix matrixOf(int rows, int cols, std::initializer_list<double> values)
{
    Matrix m(rows, cols);
    int n = 0;
    for (double v : values)
        m.data()[n++] = v;
    return m;
}

}  // namespace tessavo::test
