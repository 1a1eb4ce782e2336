#pragma once
// What the factors show of each component, as numbers that tell sources
// apart: how its activation moves in time, whether its spectrum has a
// pitch and which, and for stereo where it sits between the channels.

#include "core/Matrix.h"

#include <vector>

namespace tessavo {

struct FeatureSource {
    const Matrix& w;      // frames × components: the activations
    const Matrix& h;      // components × bins: the spectra
    const Matrix& v;      // frames × bins: the magnitude that was factorised
    const Matrix& angle;  // stereo: atan2(R, L) per cell; empty for mono
    double binHz;         // the width of one bin in Hz
};

// One row of features for each of the components first, first + 1, …
// (columns of W, rows of H); see ComponentFeatures.cpp for each feature.
std::vector<std::vector<double>> componentFeatures(const FeatureSource& f, int first);

}  // namespace tessavo
