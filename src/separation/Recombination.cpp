#include "separation/Recombination.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace tessavo {

namespace {

void requireSameShape(const Matrix& a, const Matrix& b, const char* operation)
{
    if (a.rows() != b.rows() || a.cols() != b.cols())
        throw std::invalid_argument(std::string(operation) + ": operands differ in shape (" +
                                    std::to_string(a.rows()) + " x " + std::to_string(a.cols()) +
                                    " and " + std::to_string(b.rows()) + " x " +
                                    std::to_string(b.cols()) + ")");
}

// result[i] = f(a[i], b[i]) over two matrices of equal shape.
template <typename Function>
Matrix combine(const Matrix& a, const Matrix& b, const char* operation, Function f)
{
    requireSameShape(a, b, operation);
    Matrix result(a.rows(), b.cols());
    const int n = result.size();
    const double* av = a.data();
    const double* bv = b.data();
    double* rv = result.data();
    for (int i = 0; i < n; ++i)
        rv[i] = f(av[i], bv[i]);
    return result;
}

}  // namespace

Matrix componentMagnitude(const Matrix& w, const Matrix& h, int k)
{
    if (k < 0 || k >= w.cols() || k >= h.rows())
        throw std::invalid_argument("componentMagnitude: no component " + std::to_string(k));
    // One product per cell, formed directly; no sum over other components.
    Matrix result(w.rows(), h.cols());
    for (int i = 0; i < result.rows(); ++i) {
        const double weight = w[i][k];
        for (int j = 0; j < result.cols(); ++j)
            result[i][j] = weight * h[k][j];
    }
    return result;
}

Matrix groupMagnitude(const Matrix& w, const Matrix& h, const std::vector<int>& group)
{
    if (group.size() == 1)
        return componentMagnitude(w, h, group[0]);
    Matrix sum(w.rows(), h.cols(), 0.0);
    for (int k : group)
        sum += componentMagnitude(w, h, k);
    return sum;
}

namespace {

Matrix powerOf(Matrix m, double power)
{
    double* x = m.data();
    for (int i = 0; i < m.size(); ++i)
        x[i] = maskPowerOf(x[i], power);
    return m;
}

void requireOutput(const OutputPlan& plan, int output, const char* operation)
{
    if (output < 0 || output > static_cast<int>(plan.groups.size()))
        throw std::invalid_argument(std::string(operation) + ": no output " + std::to_string(output));
}

}  // namespace

Matrix directMagnitude(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan, int output)
{
    requireOutput(plan, output, "directMagnitude");
    return output == 0 ? residualMagnitude(v, w, h)
                       : groupMagnitude(w, h, plan.groups[static_cast<std::size_t>(output - 1)]);
}

std::vector<Matrix> softShares(const Matrix& v, const Matrix& theta, const Matrix& w, const Matrix& h,
                               const OutputPlan& plan)
{
    Matrix sum(w.rows(), h.cols(), 0.0);
    for (const std::vector<int>& group : plan.groups)
        sum += powerOf(groupMagnitude(w, h, group), plan.power);
    sum += Matrix(sum.rows(), sum.cols(), kMaskEpsilon);
    std::vector<Matrix> shares;
    if (theta.size() == 0) {
        shares.push_back(v.clone());
    } else {
        shares.push_back(splitLeft(v, theta));
        shares.push_back(splitRight(v, theta));
    }
    for (Matrix& share : shares)
        share /= sum;
    return shares;
}

Matrix softMagnitude(const Matrix& w, const Matrix& h, const OutputPlan& plan, int output, const Matrix& share)
{
    requireOutput(plan, output, "softMagnitude");
    Matrix x = output == 0 ? Matrix(share.rows(), share.cols(), kMaskEpsilon)
                           : powerOf(groupMagnitude(w, h, plan.groups[static_cast<std::size_t>(output - 1)]),
                                     plan.power);
    x *= share;
    return x;
}

Matrix residualMagnitude(const Matrix& v, const Matrix& w, const Matrix& h)
{
    // Never clamped: a negative cell is resynthesised with its phase turned
    // by half a turn, which keeps components plus residual equal to V.
    return v - matmul(w, h);
}

Matrix stereoMagnitude(const Matrix& left, const Matrix& right)
{
    return combine(left, right, "stereoMagnitude", stereoMagnitudeOf);
}

Matrix stereoAngle(const Matrix& left, const Matrix& right)
{
    return combine(left, right, "stereoAngle", stereoAngleOf);
}

void foldStereoInPlace(Matrix& left, Matrix& right, int first, int end)
{
    requireSameShape(left, right, "foldStereoInPlace");
    for (int i = first; i < end; ++i) {
        double* l = left[i];
        double* r = right[i];
        for (int j = 0; j < left.cols(); ++j) {
            const double lj = l[j];
            const double rj = r[j];
            l[j] = stereoMagnitudeOf(lj, rj);
            r[j] = stereoAngleOf(lj, rj);
        }
    }
}

Matrix splitLeft(const Matrix& x, const Matrix& theta)
{
    return combine(x, theta, "splitLeft",
                   [](double value, double angle) { return std::cos(angle) * value; });
}

Matrix splitRight(const Matrix& x, const Matrix& theta)
{
    return combine(x, theta, "splitRight",
                   [](double value, double angle) { return std::sin(angle) * value; });
}

}  // namespace tessavo
