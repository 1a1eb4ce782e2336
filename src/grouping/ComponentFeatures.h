#pragma once
// What the factors show of each component, as numbers that tell sources
// apart: how its activation moves in time, how strongly its spectrum has a
// pitch, and for stereo where it sits between the channels; and how much of
// the input's energy it holds.

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

struct ComponentDescription {
    double roughness = 0.0;  // log of the activation's mean squared step over its mean square
    double pitch = 0.0;      // the spectrum's pitch strength, a correlation in [−1, 1]
    double balance = 0.0;    // stereo: left over right energy in dB, within ±30
    double energy = 0.0;     // the component's energy over both channels
};

// How rough the activation, column k of w, is: ln((Σ (w_{t+1} − w_t)² /
// (T − 1) + 1e−12) / (Σ w_t² / T + 1e−12)). Notes and words rise and fall
// smoothly; drum hits jump.
double activationRoughness(const Matrix& w, int k);

// How strongly row k of h repeats along frequency with a period between 30
// and 1100 Hz, as a harmonic spectrum does at its fundamental: the square
// roots of the bins below 6 kHz, less their moving average over 160 Hz,
// correlated with themselves shifted by each such period; the largest
// correlation.
double pitchStrength(const Matrix& h, int k, double binHz);

// The components first, first + 1, … of f (columns of W, rows of H).
// Their energies and balances come from each cell's magnitude in each
// channel (V, or V·cos and V·sin of the angle), shared out by Wiener masks
// (W_k·H_k)² / Σ_c (W_c·H_c)².
std::vector<ComponentDescription> describeComponents(const FeatureSource& f, int first);

}  // namespace tessavo
