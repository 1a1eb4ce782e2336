#pragma once
// The factorisation of V: the engine for the loss, and the loop that runs
// it to its stopping rule, printing the progress lines. The loop is the same
// for every loss and engine.

#include "factorisation/ActivationPenalty.h"
#include "factorisation/Factoriser.h"
#include "factorisation/Loss.h"
#include "core/Matrix.h"
#include "factorisation/Random.h"
#include "separation/Engine.h"
#include "separation/RunObserver.h"

#include <memory>
#include <ostream>

namespace tessavo {

// The loop stops after maxiterations passes, or once the objective changes
// from one pass to the next by less than criteria, or, with a tolerance
// above 0, by less than tolerance times its previous value (the criteria is
// then not used).
struct LoopSettings {
    int maxiterations = 1000;
    double criteria = 0.001;
    double tolerance = 0.0;
};

struct Factors {
    Matrix w;  // frames × K
    Matrix h;  // K × bins
};

// The engine of the kind asked for and the loss, for v, which must outlive
// it: the rows of fixed (the empty matrix for none) first in H and never
// updated, components free components beside them, started as drawStart
// says. Throws SeparationError ("Not able to hold K components for F frames
// and B bins: too many components") when the factors do not fit in memory.
// Nonzero weights add the activations' continuity and sparseness costs
// (ActivationPenalty.h), scaled by V's level.
std::unique_ptr<Factoriser> makeFactoriser(Engine engine, Loss loss, const Matrix& v, const Matrix& fixed,
                                           int components, RandomStream& random, int threads,
                                           const ActivationWeights& weights = {});

// Bytes the fast engine for the loss on threads threads and its start hold
// besides V.
double factorisationMemory(Loss loss, double frames, double bins, double components, int threads);

// The initial update pair, then passes until the objective changes by less
// than criteria (strictly, on the absolute change; a NaN change never
// stops) or maxiterations update pairs have run. Each pass writes
// "objective: " and the objective from before it to progress, and the pass
// that stops writes "done in N iterations"; progress may be null. The
// observer, when not null, is told of every pass, the pass that gives the
// returned factors last. Returns the factors the last objective belongs
// to. Throws OverflowError when an objective is not a finite number.
Factors runLoop(Factoriser& factoriser, const LoopSettings& settings, std::ostream* progress,
                RunObserver* observer = nullptr);

}  // namespace tessavo
