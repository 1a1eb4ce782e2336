#!/usr/bin/python3
"""An independent computation of tessavo's numbers, shared with none of its code.

For every case of tests/data/modes/cases.txt (and for the runs that made the
template files there, listed in templates.txt) this runs the program and
computes the same separation here, in numpy: the program's FFT pass by pass
(32-bit float storage, double arithmetic), the sine window, the analysis, the
random start, the Euclidean or Kullback-Leibler updates with fixed template
rows, direct or soft-mask outputs, stereo splitting and the overlap-add, with
or without --pad (zeros around the input, every row rebuilt, each sample
divided by its sum of squared windows). Every
sum is formed in the program's order: a loop over the summed index adding
whole vectors, vectorised only across independent cells.

What must agree:
- W and H to the last bit: the case is run once more with -m --precision 17
  --encoding double, and its text must equal this computation's values,
  written with %.17g; the case's own W and H text (at its --precision) must
  equal this computation's, byte for byte;
- every sound to the last bit when written as float or double, and within one
  least significant bit (after clipping at full scale) when written as
  integers, in the encoding asked for;
- the progress lines: exactly for the Euclidean loss; for the KL loss, whose
  objective the program forms with a logarithm of its own (within 1 ulp of
  glibc's), each printed objective to its printed digits, and any stop only
  where no rounding of the objective could move it;
- the set of files written.

Usage: independent_check.py TESSAVO DATA_DIR   (DATA_DIR is tests/data)
Prints one line per case, and exits 1 if any disagrees.
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf

EPS = 1e-9        # the factorisation's and the soft masks' epsilon
SCALE = 6.103888176768602e-05  # double nearest 1/16383: random draw x SCALE


def rf(a):
    """Rounds doubles to 32-bit floats (kept as doubles)."""
    return np.asarray(a, dtype=np.float64).astype(np.float32).astype(np.float64)


def elementwise(fn, *arrays):
    """Applies a math-library function (glibc's, through Python) cell by cell."""
    flat = [a.ravel().tolist() for a in arrays]
    return np.array([fn(*v) for v in zip(*flat)], dtype=np.float64).reshape(arrays[0].shape)


def ordered_sum(vectors):
    """0.0 + v0 + v1 + ..., whole vectors at a time, in order."""
    s = 0.0
    for v in vectors:
        s = s + v
    return s


def matmul(a, b):
    """a·b with every cell summed from 0.0 in increasing inner index."""
    return ordered_sum(a[:, k:k + 1] * b[k:k + 1, :] for k in range(a.shape[1])) + np.zeros((a.shape[0], b.shape[1]))


# ---- real FFT of power-of-two length, half-complex layout -------------------

class Fft:
    def __init__(self, n):
        self.n = n
        self.b = int(math.floor(math.log(n) / math.log(2.0) + 0.5))
        assert self.b >= 3
        br, r = [0], 0
        for _ in range(1, n):
            c = n >> 1
            r ^= c
            while not r & c:
                c >>= 1
                r ^= c
            br.append(r)
        self.br = np.array(br)
        pi = 4.0 * math.atan(1.0)
        self.cos = {p: rf([math.cos((pi / 2 ** p) * j) for j in range(2 ** (p - 1))]) for p in range(3, self.b)}
        self.h = float(np.float32(math.sqrt(2.0) * 0.5))

    def forward(self, x):
        """Rows of x (float values) to unscaled half-complex spectra."""
        rows, n, h = x.shape[0], self.n, self.h
        X = x[:, self.br].reshape(rows, n // 4, 4)
        D = np.empty_like(X)
        D[..., 1] = rf(X[..., 0] - X[..., 1])
        D[..., 3] = rf(X[..., 2] - X[..., 3])
        s0, s2 = X[..., 0] + X[..., 1], X[..., 2] + X[..., 3]
        D[..., 0], D[..., 2] = rf(s0 + s2), rf(s0 - s2)
        S = D.reshape(rows, n // 8, 8)
        D = np.empty_like(S)
        D[..., 0], D[..., 4] = rf(S[..., 0] + S[..., 4]), rf(S[..., 0] - S[..., 4])
        D[..., 2], D[..., 6] = S[..., 2], S[..., 6]
        v = (S[..., 5] - S[..., 7]) * h
        D[..., 1], D[..., 3] = rf(S[..., 1] + v), rf(S[..., 1] - v)
        v = (S[..., 5] + S[..., 7]) * h
        D[..., 5], D[..., 7] = rf(v + S[..., 3]), rf(v - S[..., 3])
        out = D.reshape(rows, n)
        for p in range(3, self.b):
            q, m, T = 2 ** p, 2 ** (p - 1), self.cos[p]
            S = out.reshape(rows, n // (2 * q), 2 * q)
            D = np.empty_like(S)
            D[..., 0], D[..., q] = rf(S[..., 0] + S[..., q]), rf(S[..., 0] - S[..., q])
            D[..., m], D[..., q + m] = S[..., m], S[..., q + m]
            i = np.arange(1, m)
            cs, sn = T[i], T[m - i]
            v = S[..., q + i] * cs - S[..., q + m + i] * sn
            D[..., i], D[..., q - i] = rf(S[..., i] + v), rf(S[..., i] - v)
            v = S[..., q + i] * sn + S[..., q + m + i] * cs
            D[..., q + i], D[..., 2 * q - i] = rf(v + S[..., m + i]), rf(v - S[..., m + i])
            out = D.reshape(rows, n)
        return out

    def inverse(self, f):
        """Rows of half-complex spectra to N times the signals."""
        rows, n, h = f.shape[0], self.n, self.h
        out = f
        for p in range(self.b - 1, 2, -1):
            q, m, T = 2 ** p, 2 ** (p - 1), self.cos[p]
            S = out.reshape(rows, n // (2 * q), 2 * q)
            D = np.empty_like(S)
            D[..., 0], D[..., q] = rf(S[..., 0] + S[..., q]), rf(S[..., 0] - S[..., q])
            D[..., m], D[..., q + m] = rf(2 * S[..., m]), rf(2 * S[..., q + m])
            i = np.arange(1, m)
            cs, sn = T[i], T[m - i]
            D[..., i] = rf(S[..., i] + S[..., q - i])
            D[..., m + i] = rf(S[..., q + i] - S[..., 2 * q - i])
            vr = S[..., i] - S[..., q - i]
            vi = S[..., q + i] + S[..., 2 * q - i]
            D[..., q + i] = rf(vr * cs + vi * sn)
            D[..., q + m + i] = rf(vi * cs - vr * sn)
            out = D.reshape(rows, n)
        S = out.reshape(rows, n // 8, 8)
        D = np.empty_like(S)
        D[..., 0], D[..., 4] = rf(S[..., 0] + S[..., 4]), rf(S[..., 0] - S[..., 4])
        D[..., 2], D[..., 6] = rf(2 * S[..., 2]), rf(2 * S[..., 6])
        D[..., 1], D[..., 3] = rf(S[..., 1] + S[..., 3]), rf(S[..., 5] - S[..., 7])
        vr, vi = S[..., 1] - S[..., 3], S[..., 5] + S[..., 7]
        D[..., 5], D[..., 7] = rf((vr + vi) * h), rf((vi - vr) * h)
        Q = D.reshape(rows, n // 4, 4)
        b0, b2 = Q[..., 0] + Q[..., 2], Q[..., 0] - Q[..., 2]
        b1, b3 = 2 * Q[..., 1], 2 * Q[..., 3]
        Y = np.stack([rf(b0 + b1), rf(b0 - b1), rf(b2 + b3), rf(b2 - b3)], axis=-1).reshape(rows, n)
        x = np.empty_like(Y)
        x[:, self.br] = Y
        return x


# ---- analysis and resynthesis -------------------------------------------------

class Stft:
    def __init__(self, n, overlap, pad=False):
        self.n, self.overlap, self.hop = n, overlap, n // overlap
        # --pad: row r starts at r x hop - (overlap - 1) x hop.
        self.pad = (overlap - 1) * self.hop if pad else 0
        self.fft = Fft(n)
        pi_f = float(np.float32(4.0 * math.atan(1.0)))
        self.window = rf([math.sin(((i / (n - 1)) * pi_f) * 2) for i in range(n)])

    def analyse(self, x):
        """Samples (float values) to magnitude and phase, frames x bins."""
        n, hop, S, P = self.n, self.hop, len(x), self.pad
        F = (S + P - 1) // hop + 1 if P else S // hop + 1
        B = n // 2
        starts = [r * hop - P for r in range(F) if r * hop - P < S]
        frames = np.zeros((len(starts), n))
        for r, pos in enumerate(starts):
            first, last = max(pos, 0), min(pos + n, S)  # the part inside the input
            frames[r, first - pos:last - pos] = x[first:last]
        spectra = rf(self.fft.forward(rf(frames * self.window)) * (1.0 / n))
        re, im = spectra[:, :B], spectra[:, B:]
        mag, phase = np.zeros((F, B)), np.zeros((F, B))
        mag[:len(starts)] = np.sqrt(re * re + im * im)
        phase[:len(starts)] = elementwise(math.atan2, im, re)
        return mag, phase

    def synthesise(self, mag, cos_phase, sin_phase, length):
        if self.pad:
            return self.synthesise_padded(mag, cos_phase, sin_phase, length)
        n, hop, B, R = self.n, self.hop, self.n // 2, mag.shape[0]
        T = R * n // self.overlap
        g = float(np.float32(2.0 / self.overlap))
        E = 0
        while E * hop < T - n and E + 1 < R:
            E += 1
        a = g * mag[:E]
        spectra = np.concatenate([rf(a * cos_phase[:E]), rf(a * sin_phase[:E])], axis=1)
        frames = rf(self.fft.inverse(spectra) * self.window)
        out = np.zeros(T)
        for e in range(E):
            out[e * hop:e * hop + n] = rf(out[e * hop:e * hop + n] + frames[e])
        return out

    def synthesise_padded(self, mag, cos_phase, sin_phase, length):
        """Every row, at gain 1; the sums of frames and of squared windows in
        double, frame after frame; sample t is sum / weight at t + padding."""
        n, hop, R, P = self.n, self.hop, mag.shape[0], self.pad
        spectra = np.concatenate([rf(mag * cos_phase), rf(mag * sin_phase)], axis=1)
        frames = rf(self.fft.inverse(spectra) * self.window)
        total = np.zeros((R - 1) * hop + n)
        weight = np.zeros_like(total)
        for e in range(R):
            total[e * hop:e * hop + n] = total[e * hop:e * hop + n] + frames[e]
            weight[e * hop:e * hop + n] = weight[e * hop:e * hop + n] + self.window * self.window
        t = np.arange(length) + P
        out = np.zeros(length)
        covered = weight[t] > 0
        out[covered] = rf(total[t][covered] / weight[t][covered])
        return out


# ---- factorisation ------------------------------------------------------------

class Random:
    state = 1

    def draw(self):
        self.state = (self.state * 214013 + 2531011) % 2 ** 32
        return (self.state >> 16) & 0x7FFF


def fill(rng, rows, cols):
    return np.array([[rng.draw() * SCALE for _ in range(cols)] for _ in range(rows)]).reshape(rows, cols)


def euclidean_pass(V, W, H, free):
    Ht = H.T
    W = (matmul(V, Ht) * W) / (EPS + matmul(matmul(W, H), Ht))
    Wt = W.T
    new = (matmul(Wt, V) * H) / (EPS + matmul(matmul(Wt, W), H))
    H = H.copy()
    H[free] = new[free]
    return W, H


def euclidean_objective(V, W, H):
    d = V - matmul(W, H)
    return math.sqrt(np.add.accumulate((d * d).ravel())[-1])


def kl_pass(V, W, H, free):
    Q = V / (EPS + matmul(W, H))
    W = (matmul(Q, H.T) * W) / (EPS + ordered_sum(H[:, j] for j in range(H.shape[1])))
    Q = V / (EPS + matmul(W, H))
    new = (matmul(W.T, Q) * H) / (EPS + ordered_sum(W[i, :] for i in range(W.shape[0])))[:, None]
    H = H.copy()
    H[free] = new[free]
    return W, H


def kl_objective(V, W, H):
    WH = matmul(W, H)
    safe = np.where(V > 0, V, 1.0)
    term = np.where(V > 0, V * np.log(safe / (EPS + WH)) - V + WH, WH)
    rows = np.add.accumulate(term, axis=1)[:, -1]
    return np.add.accumulate(rows)[-1]


# ---- one case -------------------------------------------------------------------

class Options:
    def __init__(self, args):
        self.f, self.i, self.c, self.o = 4096, 1000, 0.001, 4
        self.silent = self.matrix = self.pad = False
        self.loss, self.mask, self.power, self.precision, self.encoding = "euclidean", "direct", 2.0, 6, None
        self.templates, words, k = [], [], 0
        value_of = {"-f": "f", "--fftsize": "f", "-i": "i", "--maxiterations": "i", "-c": "c",
                    "--criteria": "c", "-o": "o", "--overlap": "o", "--loss": "loss", "--mask": "mask",
                    "--maskpower": "power", "--precision": "precision", "--encoding": "encoding", "-t": None,
                    "--threads": None}
        while k < len(args):
            a = args[k]
            if a in ("-s", "--silent"):
                self.silent = True
            elif a in ("-m", "--matrixout"):
                self.matrix = True
            elif a == "--pad":
                self.pad = True
            elif a == "--templates":
                name, path = args[k + 1].split("=", 1)
                self.templates.append((name, path))
                k += 1
            elif a in value_of:
                if value_of[a]:
                    setattr(self, value_of[a], args[k + 1])
                k += 1
            else:
                words.append(a)
            k += 1
        self.filename, self.k = words[0], int(words[1])
        self.f, self.i, self.o, self.precision = int(self.f), int(self.i), int(self.o), int(self.precision)
        self.c, self.power = float(self.c), float(self.power)
        self.n = 1 << self.f.bit_length()  # smallest power of two strictly above f


def read_matrix(path):
    with open(path) as f:
        rows, cols = map(int, f.readline().split())
        return np.array([[float(v) for v in f.readline().split()] for _ in range(rows)]).reshape(rows, cols)


def matrix_text(m, precision):
    lines = ["%d %d\n" % m.shape]
    lines += ["".join("%.*g " % (precision, v) for v in row) + "\n" for row in m.tolist()]
    return "".join(lines)


def separate(opt, folder):
    """This computation's run: stdout lines (objective values), W, H, and the
    output sounds by file name, each a list of channels."""
    x, _ = sf.read(os.path.join(folder, opt.filename), dtype="float32", always_2d=True)
    x = x.astype(np.float64)
    stft = Stft(opt.n, opt.o, opt.pad)
    channels = [stft.analyse(x[:, c]) for c in range(x.shape[1])]
    if len(channels) == 1:
        V = channels[0][0]

        def split(m):
            return [m]
    else:
        (L, _), (R, _) = channels
        V = np.sqrt(L * L + R * R)
        theta = elementwise(math.atan2, R, L)
        cos_theta, sin_theta = elementwise(math.cos, theta), elementwise(math.sin, theta)

        def split(m):  # a magnitude into left and right by the stereo angle
            return [cos_theta * m, sin_theta * m]

    fixed = [read_matrix(os.path.join(folder, path)) for _, path in opt.templates]
    T = sum(t.shape[0] for t in fixed)
    rng = Random()
    W = fill(rng, V.shape[0], T + opt.k)
    H = np.vstack(fixed + [fill(rng, opt.k, V.shape[1])]) if T else fill(rng, opt.k, V.shape[1])
    free = list(range(T, T + opt.k))
    step, objective = (kl_pass, kl_objective) if opt.loss == "kl" else (euclidean_pass, euclidean_objective)

    printed, stop = [], None  # printed: (old, new) per pass
    W, H = step(V, W, H, free)
    old = objective(V, W, H)
    i = 1
    while opt.i > 1:
        W, H = step(V, W, H, free)
        new = objective(V, W, H)
        printed.append((old, new))
        if abs(new - old) < opt.c:
            stop = i
            break
        old, i = new, i + 1
        if i >= opt.i:
            break

    groups, row = [], 0
    for (name, _), t in zip(opt.templates, fixed):
        groups.append((name, list(range(row, row + t.shape[0]))))
        row += t.shape[0]
    groups += [(str(k), [T + k]) for k in range(opt.k)]
    models = [ordered_sum(W[:, k:k + 1] * H[k:k + 1, :] for k in rows) for _, rows in groups]

    # Per channel: the residual's magnitude, then each output's.
    if opt.mask == "soft":
        # M^P: the square as one product, other powers by the C library's pow.
        powered = [m * m if opt.power == 2.0 else elementwise(lambda v: math.pow(v, opt.power), m) for m in models]
        total = ordered_sum(powered) + np.zeros_like(V) + EPS
        shares = [x / total for x in split(V)]
        per_channel = [[EPS * share] + [p * share for p in powered] for share in shares]
    else:
        per_channel = list(zip(*[split(m) for m in [V - matmul(W, H)] + models]))

    stem = opt.filename[:opt.filename.rfind(".")]
    ext = opt.filename[opt.filename.rfind("."):]
    names = [stem + "-residual" + ext] + [stem + "-" + name + ext for name, _ in groups]
    trig = [(elementwise(math.cos, p), elementwise(math.sin, p)) for _, p in channels]
    sounds = {}
    for o, name in enumerate(names):
        sounds[name] = [stft.synthesise(per_channel[c][o], *trig[c], x.shape[0]) for c in range(len(channels))]
    return printed, stop, W, H, sounds


SUBTYPES = {"pcm16": "PCM_16", "pcm24": "PCM_24", "float": "FLOAT", "double": "DOUBLE"}
INTEGER_BITS = {"PCM_16": 16, "PCM_24": 24}  # the float encodings: none, and exact


def check_sound(folder, name, expected, subtype, problems):
    """A sound written as float or double holds this computation's samples
    exactly; as integers, within one step of them clipped at full scale."""
    path = os.path.join(folder, name)
    label = "%s/%s" % (os.path.basename(folder), name)
    if sf.info(path).subtype != subtype:
        problems.append("%s: encoding %s, not %s" % (label, sf.info(path).subtype, subtype))
        return
    got, _ = sf.read(path, dtype="float64", always_2d=True)
    want = np.stack(expected, axis=1)
    if got.shape != want.shape:
        problems.append("%s: %s samples, not %s" % (label, got.shape, want.shape))
        return
    step = 2.0 ** (1 - INTEGER_BITS[subtype]) if subtype in INTEGER_BITS else 0.0
    worst = np.max(np.abs(got - np.clip(want, -1.0, 1.0 - step) if step else got - want), initial=0.0)
    if worst > step:
        problems.append("%s: samples differ by up to %g" % (label, worst))


def printed_agrees(text, value):
    """The printed objective is value at six significant digits."""
    if text == "%g" % value:
        return True
    shown = float(text)
    exponent = math.floor(math.log10(abs(shown))) if shown else 0
    return abs(shown - value) <= 0.5 * 10.0 ** (exponent - 5) + 1e-12 * abs(value)


def run(tessavo, args, folder):
    r = subprocess.run([tessavo] + args, cwd=folder, capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise RuntimeError("tessavo %s failed with %d: %s%s" % (" ".join(args), r.returncode, r.stdout, r.stderr))
    return r.stdout


def exact_args(args):
    """The case's command line with -m --precision 17 --encoding double."""
    out, k = [], 0
    while k < len(args):
        if args[k] in ("--precision", "--encoding"):
            k += 2
            continue
        if args[k] not in ("-m", "--matrixout"):
            out.append(args[k])
        k += 1
    return out + ["-m", "--precision", "17", "--encoding", "double"]


def check_case(tessavo, modes, golden, name, args, made=None):
    """Runs one case and compares; made names a stored template file that the
    case's H file must equal byte for byte."""
    problems = []
    opt = Options(args)
    work = tempfile.mkdtemp(prefix="tessavo-check.")
    try:
        folders = {}
        for label, case_args in (("case", args), ("exact", exact_args(args))):
            folder = os.path.join(work, label)
            os.mkdir(folder)
            inputs = [os.path.join(golden, w) for w in ("mono.wav", "stereo.wav")]
            inputs += [os.path.join(modes, p) for _, p in opt.templates]
            for p in inputs:
                shutil.copy(p, folder)
            folders[label] = (folder, run(tessavo, case_args, folder), set(os.listdir(folder)))
        printed, stop, W, H, sounds = separate(opt, folders["case"][0])

        # Progress lines: exact for the Euclidean loss; for KL each objective
        # to its printed digits, and every pass clear of the stopping threshold.
        lines = folders["case"][1].splitlines()
        want = [] if opt.silent else ["objective: %g" % old for old, _ in printed]
        want += ["done in %d iterations" % stop] if stop is not None and not opt.silent else []
        if opt.loss == "kl":
            lines = [want[n] if n < len(printed) and line.startswith("objective: ")
                     and printed_agrees(line[len("objective: "):], printed[n][0]) else line
                     for n, line in enumerate(lines)]
            if opt.c > 0 and any(abs(abs(new - old) - opt.c) <= 1e-9 * abs(old) for old, new in printed):
                problems.append("a pass too close to the stopping threshold to decide")
        if lines != want:
            problems.append("stdout %r, expected %r" % (lines, want))

        # W and H: to the last bit, and the case's own text byte for byte.
        exact = folders["exact"][0]
        for label, ours in (("W", W), ("H", H)):
            theirs = read_matrix(os.path.join(exact, opt.filename + "-%s.txt" % label))
            if theirs.shape != ours.shape or not np.array_equal(theirs, ours):
                diff = np.max(np.abs(theirs - ours) / np.maximum(np.abs(ours), 1e-300)) \
                    if theirs.shape == ours.shape else "shape"
                problems.append("%s differs (largest relative difference %s)" % (label, diff))
            path = os.path.join(folders["case"][0], opt.filename + "-%s.txt" % label)
            if opt.matrix and open(path).read() != matrix_text(ours, opt.precision):
                problems.append("%s text at precision %d differs" % (label, opt.precision))

        # Sounds: every output, in the exact run (double) and as the case wrote it.
        own = SUBTYPES[opt.encoding] if opt.encoding else sf.info(os.path.join(exact, opt.filename)).subtype
        for out_name, channels in sounds.items():
            check_sound(exact, out_name, channels, "DOUBLE", problems)
            check_sound(folders["case"][0], out_name, channels, own, problems)

        if made and open(os.path.join(modes, made)).read() != \
                open(os.path.join(folders["case"][0], opt.filename + "-H.txt")).read():
            problems.append("the stored %s is not what this run writes" % made)

        # Nothing else written.
        for label, matrix in (("case", opt.matrix), ("exact", True)):
            files = {os.path.basename(p) for p in inputs} | set(sounds)
            files |= {opt.filename + "-W.txt", opt.filename + "-H.txt"} if matrix else set()
            if folders[label][2] != files:
                problems.append("%s run wrote %s" % (label, sorted(folders[label][2] ^ files)))
        result = "agrees" if not problems else "DISAGREES: " + "; ".join(problems)
        print("%s: %d passes, W %dx%d, H %dx%d, %d sounds, %s" % (
            name, len(printed) + 1, W.shape[0], W.shape[1], H.shape[0], H.shape[1], len(sounds), result))
        return not problems
    finally:
        shutil.rmtree(work)


def load(path):
    cases = []
    with open(path) as f:
        for line in f:
            if ":" in line:
                name, command = line.split(":", 1)
                cases.append((name.strip(), command.split()[1:]))
    return cases


def main():
    tessavo, data = os.path.abspath(sys.argv[1]), sys.argv[2]
    modes, golden = os.path.join(data, "modes"), os.path.join(data, "golden")
    ok = True
    # The template files: made by the program, and agreed here, value by value.
    for made, args in load(os.path.join(modes, "templates.txt")):
        ok &= check_case(tessavo, modes, golden, made, args, made)
    for name, args in load(os.path.join(modes, "cases.txt")):
        ok &= check_case(tessavo, modes, golden, name, args)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
