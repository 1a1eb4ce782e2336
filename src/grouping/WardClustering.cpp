#include "grouping/WardClustering.h"

#include <cstddef>
#include <limits>

namespace tessavo {

std::vector<int> wardClusters(const std::vector<std::vector<double>>& points, int clusters)
{
    const std::size_t n = points.size();
    // d[i][j]: the merging cost of live clusters i < j, kept up to date by
    // the Lance-Williams formula; it starts as the squared distance, which
    // is twice Ward's cost for two single points.
    std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            double sum = 0.0;
            for (std::size_t c = 0; c < points[i].size(); ++c) {
                const double diff = points[i][c] - points[j][c];
                sum = sum + diff * diff;
            }
            d[i][j] = sum;
        }
    std::vector<std::size_t> size(n, 1);
    std::vector<std::size_t> owner(n);  // the live cluster each point is in
    for (std::size_t i = 0; i < n; ++i)
        owner[i] = i;
    std::vector<bool> live(n, true);
    const auto cost = [&](std::size_t a, std::size_t b) { return a < b ? d[a][b] : d[b][a]; };

    for (std::size_t remaining = n; remaining > static_cast<std::size_t>(clusters); --remaining) {
        std::size_t bi = 0, bj = 0;
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; live[i] && j < n; ++j)
                if (live[j] && (d[i][j] < best || bj == 0)) {
                    best = d[i][j];
                    bi = i;
                    bj = j;
                }
        // Cluster bj joins bi; every other cluster's cost to the union.
        for (std::size_t k = 0; k < n; ++k) {
            if (!live[k] || k == bi || k == bj)
                continue;
            const double nk = static_cast<double>(size[k]), ni = static_cast<double>(size[bi]),
                         nj = static_cast<double>(size[bj]);
            const double merged =
                ((ni + nk) * cost(k, bi) + (nj + nk) * cost(k, bj) - nk * best) / (ni + nj + nk);
            (k < bi ? d[k][bi] : d[bi][k]) = merged;
        }
        size[bi] += size[bj];
        live[bj] = false;
        for (std::size_t p = 0; p < n; ++p)
            if (owner[p] == bj)
                owner[p] = bi;
    }

    // Number the clusters in the order of their first points.
    std::vector<int> number(n, -1), result(n);
    int next = 0;
    for (std::size_t p = 0; p < n; ++p) {
        if (number[owner[p]] < 0)
            number[owner[p]] = next++;
        result[p] = number[owner[p]];
    }
    return result;
}

}  // namespace tessavo
