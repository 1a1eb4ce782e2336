#pragma once
// Where the frames of the short-time transform lie, and how many there are.
//
// Frame r covers the samples start(r) ... start(r) + N - 1, with
// start(r) = r * hop - padding.
// - Unpadded (the classic transform): frames start at the first sample, and
//   S samples give S / hop + 1 rows. The first N - hop samples, and the
//   last ones, lie under fewer frames than the rest.
// - Padded: the analysis sees (overlap - 1) * hop zeros before the signal,
//   and has a frame for every start before its end: (S + padding - 1) / hop
//   + 1 rows. Every sample then lies under as many frames as one in the
//   middle, and the resynthesis rebuilds exactly S samples, each divided by
//   the sum of the squared windows over it.

namespace tessavo {

struct Framing {
    int fftLength = 8192;
    int overlap = 4;
    bool padded = false;

    int hop() const { return fftLength / overlap; }
    int padding() const { return padded ? (overlap - 1) * hop() : 0; }
    // Rows of the analysis of samples samples (padded, overlap >= 2, so that
    // samples + padding >= 1).
    long long rows(long long samples) const
    {
        return padded ? (samples + padding() - 1) / hop() + 1 : samples / hop() + 1;
    }
    // The first sample of row r's frame; negative in the padding.
    long long start(long long r) const { return r * hop() - padding(); }
};

}  // namespace tessavo
