#pragma once
// What a fast loss shares when it sums its H half's terms as the W half
// goes (FastCells, the Itakura-Saito loss): each row's objective, summed
// in increasing row order, and the H half's numerators and denominators,
// K × stride each, handed to the schedule column range by column range.

#include "factorisation/FastLoss.h"
#include "factorisation/RowLayout.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tessavo {

class FollowingLoss : public FastLoss {
public:
    // rows: how many row sums the W half writes (at least the frames).
    explicit FollowingLoss(std::size_t rows) : rowSums_(rows, 0.0) {}

    void beginPass(const PassFactors& f) override
    {
        if (f.fixedRows < f.components) {
            numH_.assign(at(f.components, f.stride), 0.0);
            denH_.assign(numH_.size(), 0.0);
        }
    }

    bool followsBlocks() const override { return true; }

    double objective(const PassFactors& f) override
    {
        double sum = 0.0;
        for (int i = 0; i < f.frames; ++i)
            sum = sum + rowSums_[static_cast<std::size_t>(i)];
        return sum;
    }

    void beginH(const PassFactors&, ThreadTeam&) override {}

    void columnTerms(const PassFactors& f, int first, int end, double* num, double* den) override
    {
        for (int c = f.fixedRows; c < f.components; ++c) {
            const std::size_t row = at(c, f.stride);
            std::copy(numH_.begin() + row + first, numH_.begin() + row + end, num + row + first);
            std::copy(denH_.begin() + row + first, denH_.begin() + row + end, den + row + first);
        }
    }

protected:
    std::vector<double> rowSums_;      // each row's sum of the objective's terms
    std::vector<double> numH_, denH_;  // K × stride: the H half's sums of the new W
};

}  // namespace tessavo
