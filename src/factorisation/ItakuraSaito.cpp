#include "factorisation/ItakuraSaito.h"

#include "factorisation/CellLoss.h"
#include "factorisation/PlainSchedule.h"

namespace tessavo {

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
                                       std::unique_ptr<Penalty> penalty)
{
    return makeFastCells<IsCells>(v, w, h, fixedRows, threads, IsCells{isFloor(v)}, std::move(penalty));
}

double isMemoryBytes(double frames, double bins, double components)
{
    return FastCells<IsCells>::memoryBytes(frames, bins, components);
}

}  // namespace tessavo
