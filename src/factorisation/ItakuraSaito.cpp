#include "factorisation/ItakuraSaito.h"

#include "factorisation/CellLoss.h"
#include "factorisation/FastSchedule.h"
#include "factorisation/FollowingLoss.h"
#include "factorisation/PlainSchedule.h"
#include "factorisation/RowLayout.h"

#include <algorithm>

namespace tessavo {

namespace {

// FastCells<IsCells>' sums through IsKernels: the W half a block of rows at
// a time, one vector lane per row; the H half's sums as the W half goes,
// eight columns per vector, each thread its share of the columns through
// the blocks in order, so that V is read once per pass.
class IsLoss : public FollowingLoss {
public:
    IsLoss(int frames, int bins, double floor, const IsKernels& kernels)
        : FollowingLoss(at((frames + kBlockRows - 1) / kBlockRows, kBlockRows)),
          kernels_(kernels),
          floor_(floor),
          zeroRow_(static_cast<std::size_t>(bins), 0.0)
    {
    }

    void blockTerms(const PassFactors& f, int block, BlockSpace& space) override
    {
        const int first = block * kBlockRows;
        const int rows = std::min(kBlockRows, f.frames - first);
        const double* rowsOfV[kBlockRows];
        for (int r = 0; r < kBlockRows; ++r)
            rowsOfV[r] = r < rows ? (*f.v)[first + r] : zeroRow_.data();
        kernels_.blockWeights(rowsOfV, f.ht, f.bins, f.components, floor_, space.weights.data(),
                              space.scratch.data(), space.num.data(), space.den.data(),
                              rowSums_.data() + at(block, kBlockRows));
    }

    void followBlock(const PassFactors& f, int thread, int threads, int block) override
    {
        const int row = block * kBlockRows;
        const int rows = std::min(kBlockRows, f.frames - row);
        const auto [first, end] = columnShare(f.bins, thread, threads);
        if (end > first)
            kernels_.columnSums((*f.v)[row], f.bins, rows, (*f.nextW)[row], f.components, f.fixedRows, f.hRows,
                                f.stride, first, end, floor_, numH_.data(), denH_.data());
    }

private:
    const IsKernels& kernels_;
    double floor_;                     // δ
    std::vector<double> zeroRow_;      // the rows past V's end in the last block
};

}  // namespace

double isFloor(const Matrix& v)
{
    double sum = 0.0;
    for (int i = 0; i < v.rows(); ++i)
        for (int j = 0; j < v.cols(); ++j)
            sum = sum + v[i][j];
    const double cells = static_cast<double>(v.rows()) * static_cast<double>(v.cols());
    const double floor = cells > 0.0 ? kIsFloorFraction * (sum / cells) : 0.0;
    return floor > 0.0 ? floor : kIsFloorFraction;
}

std::unique_ptr<Factoriser> makePlainIs(const Matrix& v, StartFactors&& start, std::unique_ptr<Penalty> penalty)
{
    return std::make_unique<PlainSchedule>(v, std::move(start), std::make_unique<PlainCells<IsCells>>(IsCells{isFloor(v)}),
                                           std::move(penalty));
}

std::unique_ptr<Factoriser> makeFastIs(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                                       const IsKernels& kernels, std::unique_ptr<Penalty> penalty)
{
    return std::make_unique<FastSchedule>(v, w, h, fixedRows, threads,
                                          std::make_unique<IsLoss>(v.rows(), v.cols(), isFloor(v), kernels),
                                          std::move(penalty));
}

std::unique_ptr<Factoriser> makeCellsIs(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                        int threads, std::unique_ptr<Penalty> penalty)
{
    return makeFastCells<IsCells>(v, w, h, fixedRows, threads, IsCells{isFloor(v)}, std::move(penalty));
}

double isMemoryBytes(double frames, double bins, double components)
{
    // rowSums_ (whole blocks), zeroRow_, and numH_ and denH_ (stride <= bins + 16).
    return (frames + kBlockRows + bins + 2.0 * components * (bins + 16.0)) * 8.0;
}

}  // namespace tessavo
