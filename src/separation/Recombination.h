#pragma once
// Element-wise operations between the spectrograms and the factorisation.
//
// On the way in, a stereo file's two magnitude matrices L and R fold into
// one magnitude V = sqrt(L² + R²) and an angle atan2(R, L) per cell (0 all
// left, pi/2 all right). On the way out, W and H give one magnitude per
// component and the residual V - W·H, and a stereo angle splits any such
// magnitude back into left (cos) and right (sin) parts.
//
// Every result is frames x bins in fresh storage; operands are only read.
// The element-wise functions throw std::invalid_argument for operands of
// different shapes and componentMagnitude for a k outside 0 ... K - 1;
// residualMagnitude follows Matrix's rule and returns the empty matrix when
// W and H do not fit V.

#include "core/Matrix.h"
#include "separation/OutputPlan.h"

#include <cmath>
#include <vector>

namespace tessavo {

// One cell of stereoMagnitude: two rounded squares and a sum, not std::hypot,
// which rounds differently.
inline double stereoMagnitudeOf(double l, double r)
{
    const double l2 = l * l;
    const double r2 = r * r;
    return std::sqrt(l2 + r2);
}

// One cell of stereoAngle: right channel first, so 0 is all left.
inline double stereoAngleOf(double l, double r)
{
    return std::atan2(r, l);
}

// Replaces left by the stereo magnitude and right by the stereo angle, cell
// by cell: the same numbers as stereoMagnitude and stereoAngle without two
// more matrices. Rows first .. end-1 only, so that threads can share the work.
void foldStereoInPlace(Matrix& left, Matrix& right, int first, int end);

// Cell [i][j] = W[i][k] * H[k][j]: column k of W times row k of H.
Matrix componentMagnitude(const Matrix& w, const Matrix& h, int k);
// The sum of W_k·H_k over the group's components from 0.0 in the group's
// order; for a group of one, componentMagnitude itself.
Matrix groupMagnitude(const Matrix& w, const Matrix& h, const std::vector<int>& group);
// Output o's magnitude (0 the residual V − W·H, g + 1 the plan's group g)
// under direct reconstruction.
Matrix directMagnitude(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan, int output);
// Each channel's share for soft masks: its magnitude (V for mono; V split by
// theta, left then right, for stereo: theta empty for mono) divided by
// (Σ over the plan's outputs of M^P, from 0.0 in order) + kMaskEpsilon.
std::vector<Matrix> softShares(const Matrix& v, const Matrix& theta, const Matrix& w, const Matrix& h,
                               const OutputPlan& plan);
// Output o's magnitude for the channel of share under soft masks: M_o^P ×
// share, the residual (o = 0) kMaskEpsilon × share.
Matrix softMagnitude(const Matrix& w, const Matrix& h, const OutputPlan& plan, int output, const Matrix& share);
// V - W·H, signed: cells where W·H overshoots V stay negative.
Matrix residualMagnitude(const Matrix& v, const Matrix& w, const Matrix& h);
// sqrt(l * l + r * r) per cell.
Matrix stereoMagnitude(const Matrix& left, const Matrix& right);
// atan2(r, l) per cell; a cell silent in both channels gives 0.
Matrix stereoAngle(const Matrix& left, const Matrix& right);
// cos(theta) * x per cell.
Matrix splitLeft(const Matrix& x, const Matrix& theta);
// sin(theta) * x per cell.
Matrix splitRight(const Matrix& x, const Matrix& theta);

}  // namespace tessavo
