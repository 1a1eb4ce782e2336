#include "grouping/SourceGrouping.h"

#include "grouping/WardClustering.h"

#include <cmath>
#include <cstddef>

namespace tessavo {

namespace {

// Each feature to mean 0 and standard deviation weight over the
// components; a feature that does not vary tells nothing and becomes 0.
void standardise(std::vector<std::vector<double>>& rows, const std::vector<double>& weights)
{
    const double n = static_cast<double>(rows.size());
    for (std::size_t c = 0; c < rows.front().size(); ++c) {
        double mean = 0.0;
        for (const auto& row : rows)
            mean = mean + row[c];
        mean = mean / n;
        double spread = 0.0;
        for (const auto& row : rows)
            spread = spread + (row[c] - mean) * (row[c] - mean);
        spread = std::sqrt(spread / n);
        const double weight = c < weights.size() ? weights[c] : 1.0;
        for (auto& row : rows)
            row[c] = spread > 1e-12 ? (row[c] - mean) / spread * weight : 0.0;
    }
}

}  // namespace

std::vector<int> groupComponents(const FeatureSource& f, int first, int sources)
{
    std::vector<std::vector<double>> rows = componentFeatures(f, first);
    if (rows.empty())
        return {};
    // roughness, pitch strength, pitch, balance
    standardise(rows, {1.0, 1.0, 1.0, 1.0});
    return wardClusters(rows, sources);
}

}  // namespace tessavo
