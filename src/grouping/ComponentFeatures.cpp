#include "grouping/ComponentFeatures.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

constexpr double kTiny = 1e-12;

// Each component's energy in each channel (left, right; or all in left for
// mono), in one sweep over the cells.
void channelEnergies(const FeatureSource& f, int first, std::vector<double>& left, std::vector<double>& right)
{
    const int count = f.h.rows() - first;
    const bool stereo = f.angle.rows() > 0;
    left.assign(static_cast<std::size_t>(count), 0.0);
    right.assign(left.size(), 0.0);
    std::vector<double> powers(static_cast<std::size_t>(f.h.rows()));
    for (int t = 0; t < f.v.rows(); ++t)
        for (int j = 0; j < f.v.cols(); ++j) {
            double total = 0.0;
            for (int c = 0; c < f.h.rows(); ++c) {
                const double m = f.w[t][c] * f.h[c][j];
                powers[c] = m * m;
                total = total + powers[c];
            }
            if (!(total > 0.0))
                continue;
            const double x = f.v[t][j];
            const double l = stereo ? x * std::cos(f.angle[t][j]) : x;
            const double r = stereo ? x * std::sin(f.angle[t][j]) : 0.0;
            for (int k = 0; k < count; ++k) {
                const double mask = powers[first + k] / total;
                left[k] = left[k] + mask * mask * l * l;
                right[k] = right[k] + mask * mask * r * r;
            }
        }
}

}  // namespace

double activationRoughness(const Matrix& w, int k)
{
    const int frames = w.rows();
    double steps = 0.0, power = 0.0;
    for (int t = 0; t + 1 < frames; ++t)
        steps = steps + (w[t + 1][k] - w[t][k]) * (w[t + 1][k] - w[t][k]);
    for (int t = 0; t < frames; ++t)
        power = power + w[t][k] * w[t][k];
    steps = steps / std::max(frames - 1, 1);
    power = power / std::max(frames, 1);
    return std::log((steps + kTiny) / (power + kTiny));
}

double pitchStrength(const Matrix& h, int k, double binHz)
{
    const int top = std::min(h.cols(), static_cast<int>(6000.0 / binHz));
    if (top < 3)
        return -2.0;
    std::vector<double> x(static_cast<std::size_t>(top)), sums(static_cast<std::size_t>(top) + 1, 0.0);
    for (int j = 0; j < top; ++j) {
        x[j] = std::sqrt(std::max(h[k][j], 0.0));
        sums[j + 1] = sums[j] + x[j];
    }
    // Taking off the smooth envelope leaves the harmonics' ripple; the window
    // is clipped at the edges. Halves round to even.
    const int half = std::max(1, static_cast<int>(std::nearbyint(160.0 / binHz / 2.0)));
    std::vector<double> y(x.size());
    double energy = 0.0;
    for (int j = 0; j < top; ++j) {
        const int low = std::max(0, j - half), high = std::min(top, j + half + 1);
        y[j] = x[j] - (sums[high] - sums[low]) / (high - low);
        energy = energy + y[j] * y[j];
    }
    const int shortest = std::max(1, static_cast<int>(std::ceil(30.0 / binHz)));
    const int longest = std::min(top - 1, static_cast<int>(1100.0 / binHz));
    double best = -2.0;
    for (int l = shortest; l <= longest; ++l) {
        double sum = 0.0;
        for (int j = 0; j + l < top; ++j)
            sum = sum + y[j] * y[j + l];
        best = std::max(best, sum / (energy + kTiny));
    }
    return best;
}

std::vector<ComponentDescription> describeComponents(const FeatureSource& f, int first)
{
    std::vector<double> left, right;
    channelEnergies(f, first, left, right);
    std::vector<ComponentDescription> out;
    for (int k = first; k < f.h.rows(); ++k) {
        ComponentDescription d;
        d.roughness = activationRoughness(f.w, k);
        d.pitch = pitchStrength(f.h, k, f.binHz);
        const double l = left[k - first], r = right[k - first];
        d.energy = l + r;
        if (f.angle.rows() > 0)
            d.balance = std::clamp(10.0 * std::log10((l + kTiny) / (r + kTiny)), -30.0, 30.0);
        out.push_back(d);
    }
    return out;
}

}  // namespace tessavo
