#include "grouping/SourceGrouping.h"

#include "grouping/WardClustering.h"

namespace tessavo {

namespace {

// Fixed scales rather than each mixture's own spread: a feature that hardly
// varies within one mixture would otherwise weigh as much as one that
// tells its sources apart. Chosen on mixtures kept apart from those the
// method was then scored on (evaluation/README.md).
constexpr double kRoughnessScale = 1.0;  // already a log ratio
constexpr double kPitchScale = 0.2;      // a correlation
constexpr double kBalanceScale = 3.0;    // dB

}  // namespace

std::vector<int> groupComponents(const FeatureSource& f, int first, int sources)
{
    const std::vector<ComponentDescription> described = describeComponents(f, first);
    if (described.empty())
        return {};
    const bool stereo = f.angle.rows() > 0;
    double total = 0.0;
    for (const ComponentDescription& d : described)
        total = total + d.energy;
    std::vector<std::vector<double>> points;
    std::vector<double> masses;
    for (const ComponentDescription& d : described) {
        std::vector<double> point{d.roughness / kRoughnessScale, d.pitch / kPitchScale};
        if (stereo)
            point.push_back(d.balance / kBalanceScale);
        points.push_back(point);
        // Loud components pull their groups' centres: a quiet fragment
        // joins a source rather than splitting one.
        masses.push_back(total > 0.0 ? d.energy / total : 1.0 / static_cast<double>(described.size()));
    }
    return wardClusters(points, masses, sources);
}

}  // namespace tessavo
