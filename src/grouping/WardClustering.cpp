#include "grouping/WardClustering.h"

#include <algorithm>
#include <cstddef>

namespace tessavo {

namespace {

struct Cluster {
    std::vector<int> members;   // in increasing order
    std::vector<double> mean;   // mass-weighted
    double mass;
};

double squaredDistance(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0.0;
    for (std::size_t c = 0; c < a.size(); ++c)
        sum = sum + (a[c] - b[c]) * (a[c] - b[c]);
    return sum;
}

}  // namespace

std::vector<int> wardClusters(const std::vector<std::vector<double>>& points, const std::vector<double>& masses,
                              int clusters)
{
    // Kept in the order of their first points: a merged cluster takes the
    // place of the earlier of the two, whose first point it keeps.
    std::vector<Cluster> live;
    for (std::size_t p = 0; p < points.size(); ++p)
        live.push_back({{static_cast<int>(p)}, points[p], std::max(masses[p], 1e-12)});

    while (live.size() > static_cast<std::size_t>(std::max(clusters, 1))) {
        std::size_t ba = 0, bb = 1;
        double best = -1.0;
        for (std::size_t a = 0; a < live.size(); ++a)
            for (std::size_t b = a + 1; b < live.size(); ++b) {
                const double ma = live[a].mass, mb = live[b].mass;
                const double cost = ma * mb / (ma + mb) * squaredDistance(live[a].mean, live[b].mean);
                if (best < 0.0 || cost < best) {
                    best = cost;
                    ba = a;
                    bb = b;
                }
            }
        Cluster& a = live[ba];
        const Cluster& b = live[bb];
        for (std::size_t c = 0; c < a.mean.size(); ++c)
            a.mean[c] = (a.mass * a.mean[c] + b.mass * b.mean[c]) / (a.mass + b.mass);
        a.mass = a.mass + b.mass;
        a.members.insert(a.members.end(), b.members.begin(), b.members.end());
        std::sort(a.members.begin(), a.members.end());
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(bb));
    }

    std::vector<int> result(points.size());
    for (std::size_t g = 0; g < live.size(); ++g)
        for (int p : live[g].members)
            result[static_cast<std::size_t>(p)] = static_cast<int>(g);
    return result;
}

}  // namespace tessavo
