#pragma once
// Which outputs a separation rebuilds, and how.
//
// After the residual, each output is a group of components (columns of W
// with their rows of H): a named source sums the components of its
// templates, a free component stands alone. An output's model magnitude M
// is its group's sum of W_k·H_k, summed from 0.0 in the group's order (one
// component's product alone).
//
// Direct reconstruction rebuilds M itself, and the residual V − W·H.
// Soft masks rebuild, for each channel c, mask_o × x_c with mask_o =
// M_o^P / ((Σ M^P) + ε) (the sum over the outputs in order), where x_c is
// the channel's own magnitude (V, or V split by the stereo angle); it is
// computed as M_o^P × s_c with the channel's share s_c = x_c / ((Σ M^P) + ε)
// formed once. The residual is (1 − Σ mask_o) × x_c, that is ε × s_c, so the
// outputs and the residual add up to the channel's spectrum in every cell.

#include <cmath>
#include <vector>

namespace tessavo {

enum class MaskMode { direct, soft };

// Added to the sum of the masks' powers, so that a cell no output models
// (all M = 0) goes to the residual rather than to 0 / 0.
constexpr double kMaskEpsilon = 1e-9;

struct OutputPlan {
    std::vector<std::vector<int>> groups;  // the outputs after the residual
    MaskMode mode = MaskMode::direct;
    double power = 2.0;
};

// One output per component, 0 ... components - 1: the unsupervised outputs.
inline OutputPlan componentPlan(int components)
{
    OutputPlan plan;
    for (int k = 0; k < components; ++k)
        plan.groups.push_back({k});
    return plan;
}

// M^P; a square as one product, which std::pow need not round the same way.
inline double maskPowerOf(double m, double power)
{
    return power == 2.0 ? m * m : std::pow(m, power);
}

}  // namespace tessavo
