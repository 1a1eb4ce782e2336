#pragma once
// Groups the free components of a factorisation into sources: a note or a
// drum hit is one component, a voice or a drum kit several. The components
// are described by what the factors show (ComponentFeatures): activation
// roughness, pitch strength and, for stereo, balance, each on a fixed
// scale; Ward's clustering, each component weighing its share of the
// energy, joins them into the sources asked for. The same factors always
// give the same groups.

#include "grouping/ComponentFeatures.h"

#include <vector>

namespace tessavo {

// The source (0 … sources − 1) of each of the components first, first + 1,
// … of f, for 1 ≤ sources ≤ that many components. Sources are numbered in
// the order of their first components: the first free component is in
// source 0.
std::vector<int> groupComponents(const FeatureSource& f, int first, int sources);

}  // namespace tessavo
