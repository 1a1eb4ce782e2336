#pragma once
// Agglomerative clustering with Ward's criterion: every point starts as a
// cluster of its own, and the two clusters whose merging adds least to the
// within-cluster sum of squares merge, until as many clusters remain as
// asked for. Nothing is drawn at random, so the same points always give
// the same clusters.

#include <vector>

namespace tessavo {

// points: n rows of d coordinates each (n ≥ 1, all the same length);
// 1 ≤ clusters ≤ n. Returns each point's cluster, numbered in the order of
// each cluster's first point: point 0 is in cluster 0, the first point not
// in cluster 0 is in cluster 1, and so on. Of equal merging costs, the pair
// with the smallest first index, then the smallest second, merges first.
std::vector<int> wardClusters(const std::vector<std::vector<double>>& points, int clusters);

}  // namespace tessavo
