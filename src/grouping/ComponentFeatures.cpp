#include "grouping/ComponentFeatures.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

// How rough the activation is: the mean square of its steps over its own
// mean square, on a log scale. Notes and words rise and fall smoothly;
// drum hits jump.
double roughness(const Matrix& w, int k)
{
    double steps = 0.0, power = 0.0;
    for (int t = 0; t < w.rows(); ++t) {
        power = power + w[t][k] * w[t][k];
        if (t > 0)
            steps = steps + (w[t][k] - w[t - 1][k]) * (w[t][k] - w[t - 1][k]);
    }
    return std::log(1e-3 + (power > 0.0 ? steps / power : 0.0));
}

// The spectrum's autocorrelation along frequency, over the bins up to
// 5 kHz with their mean taken off: a harmonic spectrum repeats at its
// fundamental. The pitch's strength is the highest local peak between 50
// and 1000 Hz, its frequency where that peak lies (log Hz); a spectrum with
// no peak has strength 0 and the lowest frequency.
void pitch(const Matrix& h, int k, double binHz, double& strength, double& logHz)
{
    const int bins = std::min(h.cols(), std::max(3, static_cast<int>(5000.0 / binHz)));
    const int lowest = std::max(1, static_cast<int>(std::lround(50.0 / binHz)));
    const int highest = std::min(bins - 2, static_cast<int>(std::lround(1000.0 / binHz)));
    strength = 0.0;
    logHz = std::log(lowest * binHz);
    double mean = 0.0;
    for (int j = 0; j < bins; ++j)
        mean = mean + h[k][j];
    mean = mean / bins;
    std::vector<double> x(static_cast<std::size_t>(bins));
    double energy = 0.0;
    for (int j = 0; j < bins; ++j) {
        x[j] = h[k][j] - mean;
        energy = energy + x[j] * x[j];
    }
    if (!(energy > 0.0) || highest <= lowest)
        return;
    const auto lagSum = [&](int l) {
        double sum = 0.0;
        for (int j = 0; j + l < bins; ++j)
            sum = sum + x[j] * x[j + l];
        return sum / energy;
    };
    double before = lagSum(lowest - 1), here = lagSum(lowest);
    for (int l = lowest; l <= highest; ++l) {
        const double after = lagSum(l + 1);
        if (here > before && here >= after && here > strength) {
            strength = here;
            logHz = std::log(l * binHz);
        }
        before = here;
        here = after;
    }
}

// Where each component sits between the channels: the angle atan2(R, L)
// of the cells, each weighted by the component's share of its energy; one
// sweep over the cells serves every component.
std::vector<double> balances(const FeatureSource& f, int first)
{
    const int count = f.h.rows() - first;
    std::vector<double> weighted(static_cast<std::size_t>(count), 0.0), total(weighted);
    std::vector<double> parts(static_cast<std::size_t>(f.h.rows()));
    for (int t = 0; t < f.v.rows(); ++t)
        for (int j = 0; j < f.v.cols(); ++j) {
            double model = 0.0;
            for (int c = 0; c < f.h.rows(); ++c) {
                parts[c] = f.w[t][c] * f.h[c][j];
                model = model + parts[c];
            }
            if (!(model > 0.0))
                continue;
            const double energy = f.v[t][j] * f.v[t][j] / model;
            for (int k = 0; k < count; ++k) {
                const double share = parts[first + k] * energy;
                weighted[k] = weighted[k] + share * f.angle[t][j];
                total[k] = total[k] + share;
            }
        }
    for (int k = 0; k < count; ++k)
        weighted[k] = total[k] > 0.0 ? weighted[k] / total[k] : 0.0;
    return weighted;
}

}  // namespace

std::vector<std::vector<double>> componentFeatures(const FeatureSource& f, int first)
{
    const bool stereo = f.angle.rows() > 0;
    const std::vector<double> angles = stereo ? balances(f, first) : std::vector<double>();
    std::vector<std::vector<double>> rows;
    for (int k = first; k < f.h.rows(); ++k) {
        double strength = 0.0, logHz = 0.0;
        pitch(f.h, k, f.binHz, strength, logHz);
        std::vector<double> row{roughness(f.w, k), strength, logHz};
        if (stereo)
            row.push_back(angles[k - first]);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace tessavo
