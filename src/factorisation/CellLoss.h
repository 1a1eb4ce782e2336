#pragma once
// A loss given cell by cell, for both schedules: a policy P says, for one
// cell of V and of W·H, the terms its numerators and denominators gain and
// its term of the objective:
//
//     struct P {
//         double num(double v, double wh) const;
//         double den(double v, double wh) const;
//         double term(double v, double wh) const;
//     };
//
// The engines hold a copy of the policy, so it may carry what it derives
// from V (such as a floor) instead of a modified copy of V; static members
// serve as well.
//
// and the updates are
//
//     W <- W × (A · Hᵀ) / (ε + B · Hᵀ),   H <- H × (Wᵀ · A) / (ε + Wᵀ · B)
//
// where A and B hold num and den of every cell (from the new W for H's
// update). The objective is each row's terms summed in increasing column,
// then the rows' sums in increasing row. Every sum runs from 0.0 in
// increasing index, so PlainCells and FastCells give the same bits for
// any thread count; FastCells reads V once per pass and runs on every
// thread, but has no vector kernels of its own.
//
// The Kullback-Leibler divergence is such a loss (num = V / (ε + W·H),
// den = 1), and its cell form gives KlLoss's bits; the Euclidean loss is
// not, as its H update forms (Wᵀ·W)·H.

#include "core/Matrix.h"
#include "factorisation/FastLoss.h"
#include "factorisation/FastSchedule.h"
#include "factorisation/FollowingLoss.h"
#include "factorisation/PlainLoss.h"
#include "factorisation/RowLayout.h"
#include "factorisation/SweepKernels.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace tessavo {

template <class P>
class PlainCells : public PlainLoss {
public:
    explicit PlainCells(P policy = P()) : policy_(policy) {}

    double objective(const Matrix& v, const Matrix& w, const Matrix& h) const override
    {
        const Matrix p = matmul(w, h);
        double sum = 0.0;
        for (int i = 0; i < v.rows(); ++i) {
            double row = 0.0;
            for (int j = 0; j < v.cols(); ++j)
                row = row + policy_.term(v[i][j], p[i][j]);
            sum = sum + row;
        }
        return sum;
    }
    UpdateTerms weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override
    {
        const Matrix ht = transpose(h);
        UpdateTerms cells = cellTerms(v, matmul(w, h));
        return UpdateTerms{matmul(cells.num, ht), matmul(cells.den, ht)};
    }
    UpdateTerms spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override
    {
        const Matrix wt = transpose(w);
        UpdateTerms cells = cellTerms(v, matmul(w, h));
        return UpdateTerms{matmul(wt, cells.num), matmul(wt, cells.den)};
    }

private:
    UpdateTerms cellTerms(const Matrix& v, const Matrix& p) const
    {
        UpdateTerms t{Matrix(v.rows(), v.cols()), Matrix(v.rows(), v.cols())};
        for (int i = 0; i < v.rows(); ++i)
            for (int j = 0; j < v.cols(); ++j) {
                t.num[i][j] = policy_.num(v[i][j], p[i][j]);
                t.den[i][j] = policy_.den(v[i][j], p[i][j]);
            }
        return t;
    }

    P policy_;
};

template <class P>
class FastCells : public FollowingLoss {
public:
    explicit FastCells(int frames, P policy = P()) : FollowingLoss(static_cast<std::size_t>(frames)), policy_(policy)
    {
    }

    // Bytes it holds for frames × bins and components.
    static double memoryBytes(double frames, double bins, double components)
    {
        return (frames + 2.0 * components * (bins + 16.0)) * 8.0;
    }

    // W·H of each cell of the block over k, then A · Hᵀ and B · Hᵀ over j.
    void blockTerms(const PassFactors& f, int block, BlockSpace& space) override
    {
        const int first = block * kBlockRows;
        const int rows = std::min(kBlockRows, f.frames - first);
        const int k = f.components;
        std::fill(space.num.begin(), space.num.end(), 0.0);
        std::fill(space.den.begin(), space.den.end(), 0.0);
        for (int r = 0; r < rows; ++r) {
            const double* vr = (*f.v)[first + r];
            double row = 0.0;
            for (int j = 0; j < f.bins; ++j) {
                const double* hj = f.ht + at(j, k);
                double wh = 0.0;
                for (int c = 0; c < k; ++c)
                    wh = wh + space.weights[at(c, kBlockRows) + r] * hj[c];
                const double a = policy_.num(vr[j], wh), b = policy_.den(vr[j], wh);
                for (int c = 0; c < k; ++c) {
                    const std::size_t lane = at(c, kBlockRows) + r;
                    space.num[lane] = space.num[lane] + a * hj[c];
                    space.den[lane] = space.den[lane] + b * hj[c];
                }
                row = row + policy_.term(vr[j], wh);
            }
            rowSums_[static_cast<std::size_t>(first + r)] = row;
        }
    }

    // Wᵀ · A and Wᵀ · B of the new W gain the block's rows, on the thread's
    // share of the columns.
    void followBlock(const PassFactors& f, int thread, int threads, int block) override
    {
        const int first = block * kBlockRows;
        const int rows = std::min(kBlockRows, f.frames - first);
        const auto [begin, end] = columnShare(f.bins, thread, threads);
        for (int i = first; i < first + rows; ++i) {
            const double* wi = (*f.nextW)[i];
            const double* vi = (*f.v)[i];
            for (int j = begin; j < end; ++j) {
                double wh = 0.0;
                for (int c = 0; c < f.components; ++c)
                    wh = wh + wi[c] * f.hRows[at(c, f.stride) + j];
                const double a = policy_.num(vi[j], wh), b = policy_.den(vi[j], wh);
                for (int c = f.fixedRows; c < f.components; ++c) {
                    const std::size_t cell = at(c, f.stride) + j;
                    numH_[cell] = numH_[cell] + wi[c] * a;
                    denH_[cell] = denH_[cell] + wi[c] * b;
                }
            }
        }
    }

private:
    P policy_;
};

// The fast engine of the loss policy.
template <class P>
std::unique_ptr<Factoriser> makeFastCells(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                          int threads, P policy = P(), std::unique_ptr<Penalty> penalty = nullptr)
{
    return std::make_unique<FastSchedule>(v, w, h, fixedRows, threads,
                                          std::make_unique<FastCells<P>>(v.rows(), policy), std::move(penalty));
}

}  // namespace tessavo
