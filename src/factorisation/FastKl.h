#pragma once
// The fast engine for the Kullback-Leibler loss: PlainKl's numbers to the
// last bit, without a frames × bins temporary in the pass.
//
// The W update runs over rows of V: each thread forms, one row at a time,
// that row of W·H, the divergence's terms, the quotient V / (ε + W·H) and
// the row's new weights. The H update runs over columns: each thread keeps a
// range of bins and goes through the rows in increasing order, forming the
// new W·H and quotient there and adding each row's terms to Wᵀ·Q, so every
// sum keeps the plain order whatever the thread count. The divergence is one
// running sum over a table of the terms, row after row.

#include "factorisation/Factoriser.h"
#include "factorisation/Matrix.h"

#include <vector>

namespace tessavo {

class FastKl : public Factoriser {
public:
    // Starts from copies of w (F × K) and h (K × B) for v (F × B), which it
    // refers to and which must outlive it; the first fixedRows rows of H are
    // never updated.
    FastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads);
    FastKl(Matrix&& v, const Matrix& w, const Matrix& h, int fixedRows, int threads) = delete;

    double step() override;
    Matrix measuredW() const override { return previousW_.clone(); }
    Matrix measuredH() const override { return previousH_.clone(); }

    // Bytes this engine holds for frames × bins and components, besides V.
    static double memoryBytes(double frames, double bins, double components, int threads);

private:
    void newWeights(int first, int end);
    void newSpectra(int first, int end);

    const Matrix& v_;
    int frames_, bins_, components_, fixedRows_, threads_;
    Matrix w_, previousW_, nextW_;  // F × K
    Matrix h_, previousH_, nextH_;  // K × B
    Matrix terms_;                  // F × B: the divergence's terms
    Matrix numeratorH_;             // K × B: Wᵀ · (V / (ε + W·H)) of the new W
    std::vector<double> sumH_, sumW_;  // each row of H, each column of the new W
};

}  // namespace tessavo
