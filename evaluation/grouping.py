"""Grouping tessavo's K components into S sources from the factors alone.

Written to be ported line for line to C++: plain loops over small arrays,
no randomness, every tie broken by the lowest index.

Input (Factors):
  W               T x K  activations (a column per component, a row per frame)
  H               K x F  spectra (a row per component, F = transform length / 2
                         bins, bin f at f * rate / (2F) Hz)
  rate            sample rate in Hz
  channel_energy  K x C  sum of squares of each component sound per channel
                         (C = 1 mono, 2 stereo)
Output: a list of K group numbers 0..S-1, none empty.
"""

import math

import numpy as np

EPS = 1e-12


class Factors:
    def __init__(self, W, H, rate, channel_energy):
        self.W = np.asarray(W, dtype=float)
        self.H = np.asarray(H, dtype=float)
        self.rate = float(rate)
        self.energy = np.asarray(channel_energy, dtype=float)
        self.K = self.W.shape[1]
        self.F = self.H.shape[1]


# ------------------------------------------------------------ features


def roughness(w):
    """log of mean squared frame-to-frame difference over mean square."""
    t = len(w)
    num = 0.0
    for i in range(t - 1):
        d = w[i + 1] - w[i]
        num += d * d
    num /= max(t - 1, 1)
    den = 0.0
    for i in range(t):
        den += w[i] * w[i]
    den /= t
    return math.log((num + EPS) / (den + EPS))


def pitch(h, rate, fmin=30.0, fmax=1100.0, fmax_band=6000.0, smooth_hz=160.0):
    """Pitch of a spectrum from its autocorrelation along frequency.

    The row is compressed (square root), limited to bins below fmax_band,
    and its smooth envelope (a centred moving average over smooth_hz) is
    taken away, leaving the harmonic ripple. r(l) = sum_f x[f] x[f+l] /
    sum_f x[f]^2 for lags l whose frequency l*bin_hz lies in [fmin, fmax];
    the lag of the largest r (the smallest lag on a tie) gives the pitch.
    Returns (log2 of the pitch in Hz, r at that lag)."""
    nbins = len(h)
    bin_hz = rate / (2.0 * nbins)
    top = min(nbins, int(fmax_band / bin_hz))
    x = [math.sqrt(max(h[f], 0.0)) for f in range(top)]
    half = max(1, int(round(smooth_hz / bin_hz / 2)))
    # centred moving average by a running sum (window clipped at the edges)
    pre = [0.0] * (top + 1)
    for f in range(top):
        pre[f + 1] = pre[f] + x[f]
    y = [0.0] * top
    for f in range(top):
        lo = max(0, f - half)
        hi = min(top, f + half + 1)
        y[f] = x[f] - (pre[hi] - pre[lo]) / (hi - lo)
    e = 0.0
    for f in range(top):
        e += y[f] * y[f]
    lmin = max(1, int(math.ceil(fmin / bin_hz)))
    lmax = min(top - 1, int(fmax / bin_hz))
    best_l, best_r = lmin, -2.0
    ya = np.array(y)
    for l in range(lmin, lmax + 1):
        r = float(np.dot(ya[:top - l], ya[l:])) / (e + EPS)
        if r > best_r:
            best_l, best_r = l, r
    return math.log2(best_l * bin_hz), best_r


def balance(energy_row):
    """Left-right balance in dB, clipped to +-30 (0 for mono)."""
    if len(energy_row) < 2:
        return 0.0
    v = 10.0 * math.log10((energy_row[0] + EPS) / (energy_row[1] + EPS))
    return max(-30.0, min(30.0, v))


def mel_cepstrum(h, rate, nbands=40, ncoef=13):
    """The published features: log mel-band energies of the spectrum row,
    DCT-II, coefficients 1..ncoef-1."""
    nbins = len(h)
    bin_hz = rate / (2.0 * nbins)
    mel = lambda f: 2595.0 * math.log10(1.0 + f / 700.0)
    inv = lambda m: 700.0 * (10 ** (m / 2595.0) - 1.0)
    top = mel(rate / 2.0)
    edges = [inv(top * i / (nbands + 1)) for i in range(nbands + 2)]
    bands = []
    for b in range(nbands):
        lo, mid, hi = edges[b], edges[b + 1], edges[b + 2]
        s = 0.0
        for f in range(int(lo / bin_hz), min(nbins, int(hi / bin_hz) + 1)):
            fr = f * bin_hz
            if lo <= fr <= mid and mid > lo:
                s += h[f] ** 2 * (fr - lo) / (mid - lo)
            elif mid < fr <= hi:
                s += h[f] ** 2 * (hi - fr) / (hi - mid)
        bands.append(math.log(s + EPS))
    out = []
    for c in range(1, ncoef):
        v = 0.0
        for b in range(nbands):
            v += bands[b] * math.cos(math.pi * c * (b + 0.5) / nbands)
        out.append(v)
    return out


# ------------------------------------------------------------ clustering


def standardise(X):
    """Each column to mean 0 and (population) standard deviation 1 over the
    components; a column whose deviation is below 1e-9 becomes 0."""
    X = np.array(X, dtype=float)
    k, d = X.shape
    for j in range(d):
        m = sum(X[i, j] for i in range(k)) / k
        v = sum((X[i, j] - m) ** 2 for i in range(k)) / k
        sd = math.sqrt(v)
        for i in range(k):
            X[i, j] = (X[i, j] - m) / sd if sd > 1e-9 else 0.0
    return X


def sqdist(a, b):
    s = 0.0
    for j in range(len(a)):
        d = a[j] - b[j]
        s += d * d
    return s


def kmeans(X, s, max_iter=100):
    """k-means from a farthest-point start: the first centre is the point
    farthest from the mean of all, each next one the point whose distance
    to its nearest centre so far is largest (lowest index on ties). Lloyd
    steps (a point joins its nearest centre, the lowest on ties; a centre
    becomes its members' mean) until no point moves. A group left empty
    takes the point farthest from its own centre."""
    k, d = X.shape
    mean = [sum(X[i, j] for i in range(k)) / k for j in range(d)]
    first = 0
    for i in range(k):
        if sqdist(X[i], mean) > sqdist(X[first], mean):
            first = i
    centres = [list(X[first])]
    while len(centres) < s:
        best, best_d = -1, -1.0
        for i in range(k):
            di = min(sqdist(X[i], c) for c in centres)
            if di > best_d:
                best, best_d = i, di
        centres.append(list(X[best]))
    assign = [-1] * k
    for _ in range(max_iter):
        changed = False
        for i in range(k):
            g = 0
            for c in range(1, s):
                if sqdist(X[i], centres[c]) < sqdist(X[i], centres[g]):
                    g = c
            if g != assign[i]:
                assign[i], changed = g, True
        for c in range(s):
            if c not in assign:
                far = max(range(k), key=lambda i: (sqdist(X[i], centres[assign[i]]), -i))
                assign[far], changed = c, True
        for c in range(s):
            members = [i for i in range(k) if assign[i] == c]
            centres[c] = [sum(X[i, j] for i in members) / len(members)
                          for j in range(d)]
        if not changed:
            break
    return assign


def ward(X, s):
    """Agglomerative clustering with Ward's criterion: start with every
    component alone, repeatedly merge the two groups whose merge raises the
    within-group sum of squares least, n_a n_b / (n_a + n_b) |m_a - m_b|^2,
    until s groups are left (on a tie, the pair whose lower-numbered group
    comes first, then the other). Groups are numbered by their lowest
    member."""
    k, d = X.shape
    groups = [[i] for i in range(k)]
    means = [list(X[i]) for i in range(k)]
    while len(groups) > s:
        best, ba, bb = None, -1, -1
        for a in range(len(groups)):
            for b in range(a + 1, len(groups)):
                na, nb = len(groups[a]), len(groups[b])
                cost = na * nb / (na + nb) * sqdist(means[a], means[b])
                if best is None or cost < best:
                    best, ba, bb = cost, a, b
        na, nb = len(groups[ba]), len(groups[bb])
        means[ba] = [(na * means[ba][j] + nb * means[bb][j]) / (na + nb)
                     for j in range(d)]
        groups[ba] = sorted(groups[ba] + groups[bb])
        del groups[bb], means[bb]
    order = sorted(range(len(groups)), key=lambda g: groups[g][0])
    assign = [0] * k
    for label, g in enumerate(order):
        for i in groups[g]:
            assign[i] = label
    return assign


def weighted_ward(X, mass, s):
    """Ward's clustering with a mass per point: every component starts
    alone with its mass; repeatedly merge the two groups a, b whose merge
    raises the mass-weighted within-group sum of squares least,
        cost(a, b) = m_a m_b / (m_a + m_b) * |c_a - c_b|^2
    (c: the mass-weighted mean), until s groups are left. Pairs are looked
    at in order a < b over the current list (kept in order of lowest
    member) and only a strictly smaller cost replaces the best, so a tie
    goes to the first pair. The merged group takes a's place, b is removed.
    Groups are numbered by their lowest member. With every mass 1 it is
    ward() above."""
    k, d = X.shape
    groups = [[i] for i in range(k)]
    means = [list(X[i]) for i in range(k)]
    masses = [max(float(mass[i]), 1e-12) for i in range(k)]
    while len(groups) > s:
        best, ba, bb = None, -1, -1
        for a in range(len(groups)):
            for b in range(a + 1, len(groups)):
                ma, mb = masses[a], masses[b]
                cost = ma * mb / (ma + mb) * sqdist(means[a], means[b])
                if best is None or cost < best:
                    best, ba, bb = cost, a, b
        ma, mb = masses[ba], masses[bb]
        means[ba] = [(ma * means[ba][j] + mb * means[bb][j]) / (ma + mb)
                     for j in range(d)]
        masses[ba] = ma + mb
        groups[ba] = sorted(groups[ba] + groups[bb])
        del groups[bb], means[bb], masses[bb]
    assign = [0] * k
    for label, g in enumerate(groups):  # already in order of lowest member
        for i in g:
            assign[i] = label
    return assign


# ------------------------------------------------------------ methods


def feature_table(f):
    rows = []
    for k in range(f.K):
        p, strength = pitch(f.H[k], f.rate)
        rows.append(dict(rough=roughness(f.W[:, k]), pitch=p,
                         strength=strength, balance=balance(f.energy[k])))
    return rows


def weighted(f, names_weights):
    t = feature_table(f)
    X = np.array([[r[n] for n, _ in names_weights] for r in t])
    X = standardise(X)
    for j, (_, w) in enumerate(names_weights):
        X[:, j] *= w
    return X


def method_mfcc_kmeans(f, s):
    X = standardise([mel_cepstrum(f.H[k], f.rate) for k in range(f.K)])
    return kmeans(X, s)


def method_rough_pitch(f, s):
    stereo = f.energy.shape[1] > 1
    nw = [("rough", 1.0), ("pitch", 1.0), ("strength", 1.0)]
    if stereo:
        nw.append(("balance", 2.0))
    return ward(weighted(f, nw), s)


def method_rough_pitch_km(f, s):
    stereo = f.energy.shape[1] > 1
    nw = [("rough", 1.0), ("pitch", 1.0), ("strength", 1.0)]
    if stereo:
        nw.append(("balance", 2.0))
    return kmeans(weighted(f, nw), s)


# The chosen method: fixed scales (not a per-mixture standardisation, which
# blows a feature that hardly varies in one mixture up to the size of one
# that separates its sources), tuned on the development takes only.
SCALE_ROUGH = 1.0      # roughness is already a log ratio
SCALE_STRENGTH = 0.2   # pitch strength, a correlation in [-1, 1]
SCALE_BALANCE = 3.0    # dB of left-right balance (stereo only)


def energy_ward_features(f):
    """K x D: roughness / 1, pitch strength / 0.2, and for stereo the
    balance / 3 dB."""
    stereo = f.energy.shape[1] > 1
    X = []
    for k in range(f.K):
        _, strength = pitch(f.H[k], f.rate)
        row = [roughness(f.W[:, k]) / SCALE_ROUGH, strength / SCALE_STRENGTH]
        if stereo:
            row.append(balance(f.energy[k]) / SCALE_BALANCE)
        X.append(row)
    return np.array(X)


def energy_shares(f):
    """Each component sound's share of the energy of all of them."""
    total = 0.0
    e = []
    for k in range(f.K):
        v = 0.0
        for c in range(f.energy.shape[1]):
            v += f.energy[k, c]
        e.append(v)
        total += v
    return [v / total if total > 0 else 1.0 / f.K for v in e]


def method_energy_ward(f, s):
    return weighted_ward(energy_ward_features(f), energy_shares(f), s)


METHODS = {
    "mfcc-km": method_mfcc_kmeans,      # the published features, k-means
    "zscore-ward": method_rough_pitch,  # roughness, pitch, strength; z-scores
    "rp-km": method_rough_pitch_km,
    "energy-ward": method_energy_ward,  # the chosen method
}
DEFAULT_METHODS = ["mfcc-km", "zscore-ward", "energy-ward"]
