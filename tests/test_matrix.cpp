#include "factorisation/Matrix.h"

#include <gtest/gtest.h>

using tessavo::Matrix;

TEST(Matrix, Placeholder) { EXPECT_EQ(Matrix(2, 3, 1.5).size(), 6); }
