#pragma once
// Agglomerative clustering with Ward's criterion, each point with a mass:
// every point starts as a cluster of its own, and the two clusters a, b
// whose merging adds least to the mass-weighted within-cluster sum of
// squares, m_a·m_b / (m_a + m_b) · |c_a − c_b|² (c the clusters' mass-
// weighted means), merge, until as many clusters remain as asked for.
// Nothing is drawn at random, so the same points always give the same
// clusters.

#include <vector>

namespace tessavo {

// points: n rows of d coordinates each (n ≥ 1, all the same length);
// masses: n positive numbers (those below 1e-12 count as 1e-12);
// 1 ≤ clusters ≤ n. Returns each point's cluster, numbered in the order of
// each cluster's first point: point 0 is in cluster 0, the first point not
// in cluster 0 is in cluster 1, and so on. Of equal merging costs, the pair
// whose first cluster has the lowest first point merges, then the pair
// whose second one has.
std::vector<int> wardClusters(const std::vector<std::vector<double>>& points, const std::vector<double>& masses,
                              int clusters);

}  // namespace tessavo
