#!/usr/bin/env bash
# Scores made-up separations with tools/evaluate and checks the figures: a
# near-perfect estimate scores high, swapped estimates score low unless
# --best-permutation puts them back, a known leak gives the SIR it should,
# stereo sounds are scored too, and the figures agree with mir_eval's; the
# progress shows on a terminal only. Then checks that every unusable input is
# refused with one line beginning "evaluate: " and exit status 1.
#
# Usage: evaluate_check.sh EVALUATE_TOOL
set -uo pipefail

evaluate=$1

fail() { echo "FAIL: $*"; exit 1; }

[ -x "$evaluate" ] || fail "$evaluate is not executable"
case $evaluate in /*) ;; *) evaluate=$PWD/$evaluate ;; esac
# The sounds are made with the interpreter the tool runs with, which has
# numpy and soundfile.
python=$(head -n 1 "$evaluate" | sed 's/^#! *//')

work=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-evaluate.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$work"' EXIT
cd "$work" || fail "cannot enter $work"

# Two seconds at 22050 Hz of a sine and of noise with the same RMS level (0.2),
# and estimates made of one of them plus a little of the other. Estimates are
# 500 frames longer than the references, as tessavo's outputs can be.
$python - <<'EOF' || fail "cannot make the test sounds"
import numpy as np
import soundfile as sf

rate = 22050
n = 2 * rate
t = np.arange(n) / rate
rng = np.random.default_rng(7)
sine = 0.2 * np.sqrt(2) * np.sin(2 * np.pi * 440 * t)
noise = rng.standard_normal(n)
noise *= 0.2 / np.sqrt(np.mean(noise ** 2))
tail = np.zeros(500)

def write(name, data, r=rate):
    sf.write(name, data, r, subtype="FLOAT")

write("sine.wav", sine)
write("noise.wav", noise)
write("est-sine.wav", np.r_[sine + 0.01 * noise, tail])
write("est-noise.wav", np.r_[noise + 0.01 * sine, tail])
# A tenth of the other source's amplitude leaks in: SIR 20 dB.
write("leak-sine.wav", sine + 0.1 * noise)
write("leak-noise.wav", noise + 0.1 * sine)
# Stereo: the sine to the left, the noise to the right of centre.
write("sine-2.wav", np.c_[0.8 * sine, 0.3 * sine])
write("noise-2.wav", np.c_[0.3 * noise, 0.8 * noise])
write("est-sine-2.wav", np.c_[0.8 * sine + 0.01 * noise, 0.3 * sine])
write("est-noise-2.wav", np.c_[0.3 * noise, 0.8 * noise + 0.01 * sine])
write("three.wav", np.c_[sine, sine, sine])
# Unusable inputs.
write("sine-16k.wav", sine[:32000], 16000)
write("short-ref.wav", sine[:-100])
write("short-est.wav", (sine + 0.01 * noise)[:-1])
write("long-est.wav", np.r_[sine, np.zeros(16385)])
write("just-long-est.wav", np.r_[sine + 0.01 * noise, np.zeros(16384)])
write("silent.wav", np.zeros(n))
with open("text.wav", "w") as f:
    f.write("not a sound\n")
EOF

# Runs the tool; its output lands in out.txt and err.txt, its status in $status.
run() { "$evaluate" "$@" >out.txt 2>err.txt; status=$?; }

# The SDR, SIR or SAR (column 3, 4 or 5) of the row whose first cell is $1.
figure() { awk -F'|' -v row="$1" -v col="$2" '{ gsub(/ /, "", $2) } $2 == row { gsub(/ /, "", $(col + 1)); print $(col + 1) }' out.txt; }

# Checks that figure $1 of row $2 lies between $3 and $4.
between() {
  local value
  value=$(figure "$2" "$1")
  [ -n "$value" ] || fail "no figure $1 in row '$2': $(cat out.txt)"
  awk -v v="$value" -v lo="$3" -v hi="$4" 'BEGIN { exit !(v > lo && v < hi) }' \
    || fail "row '$2', column $1 is $value, expected between $3 and $4: $(cat out.txt)"
}

SDR=3; SIR=4; SAR=5

# Near-perfect estimates, in the references' order.
run --references sine.wav noise.wav --estimates est-sine.wav est-noise.wav
[ "$status" -eq 0 ] || fail "near-perfect estimates: status $status: $(cat err.txt)"
[ "$(sed -n 1p out.txt)" = "| source | estimate | SDR dB | SIR dB | SAR dB |" ] || fail "header: $(cat out.txt)"
[ "$(sed -n 2p out.txt)" = "| --- | --- | --- | --- | --- |" ] || fail "separator line: $(cat out.txt)"
[ "$(wc -l <out.txt)" -eq 5 ] || fail "expected 5 lines (header, separator, 2 sources, mean): $(cat out.txt)"
grep -Eqx '\| sine \| est-sine\.wav \| [0-9]+\.[0-9] \| [0-9]+\.[0-9] \| [0-9]+\.[0-9] \|' out.txt \
  || fail "no row for sine with est-sine.wav and three figures of one decimal: $(cat out.txt)"
grep -Eq '^\| noise \| est-noise\.wav \|' out.txt || fail "no row for noise: $(cat out.txt)"
grep -Eqx '\| mean \| \| [0-9.]+ \| [0-9.]+ \| [0-9.]+ \|' out.txt || fail "no mean row: $(cat out.txt)"
between $SDR sine 30 60
between $SDR noise 30 60
between $SDR mean 30 60
# The mean row is the mean of the rows (to the rounding of one decimal).
awk -v a="$(figure sine $SIR)" -v b="$(figure noise $SIR)" -v m="$(figure mean $SIR)" \
  'BEGIN { d = (a + b) / 2 - m; exit !(d > -0.11 && d < 0.11) }' || fail "mean SIR is not the mean: $(cat out.txt)"
[ ! -s err.txt ] || fail "near-perfect estimates: something on stderr: $(cat err.txt)"
echo "near-perfect: SDR $(figure mean $SDR) dB"

# A known leak of a tenth of the other source's amplitude at the same level:
# SIR 20 dB, and as nothing else is wrong, SDR 20 dB too.
run --references sine.wav noise.wav --estimates leak-sine.wav leak-noise.wav --names tone hiss
[ "$status" -eq 0 ] || fail "leak: status $status: $(cat err.txt)"
grep -q '^| tone | leak-sine.wav |' out.txt && grep -q '^| hiss | leak-noise.wav |' out.txt \
  || fail "--names not used in the table: $(cat out.txt)"
between $SIR tone 19 21
between $SIR hiss 19 21
between $SDR tone 19 21
echo "leak of -20 dB: SIR $(figure tone $SIR) and $(figure hiss $SIR) dB"

# Swapped estimates score low in the given order...
run --references sine.wav noise.wav --estimates est-noise.wav est-sine.wav
[ "$status" -eq 0 ] || fail "swapped: status $status: $(cat err.txt)"
grep -q '^| sine | est-noise.wav |' out.txt || fail "swapped: sine not scored against est-noise.wav: $(cat out.txt)"
between $SDR sine -100 0
between $SDR noise -100 0
! grep -q "permutation" out.txt || fail "a permutation reported without --best-permutation: $(cat out.txt)"
echo "swapped: SDR $(figure mean $SDR) dB"

# ...and high when --best-permutation puts them back.
run --references sine.wav noise.wav --estimates est-noise.wav est-sine.wav --best-permutation
[ "$status" -eq 0 ] || fail "--best-permutation: status $status: $(cat err.txt)"
grep -q '^| sine | est-sine.wav |' out.txt && grep -q '^| noise | est-noise.wav |' out.txt \
  || fail "--best-permutation did not assign est-sine.wav to sine: $(cat out.txt)"
between $SDR sine 30 60
between $SDR noise 30 60
grep -qxF "best permutation (greatest mean SDR): sine <- estimate 2 (est-sine.wav), noise <- estimate 1 (est-noise.wav)" out.txt \
  || fail "--best-permutation does not say which estimate went where: $(cat out.txt)"
echo "swapped, best permutation: SDR $(figure mean $SDR) dB"

# Already in order, --best-permutation keeps the order.
run --references sine.wav noise.wav --estimates est-sine.wav est-noise.wav --best-permutation
[ "$status" -eq 0 ] && grep -q "sine <- estimate 1 (est-sine.wav), noise <- estimate 2" out.txt \
  || fail "--best-permutation on ordered estimates: $(cat out.txt err.txt)"

# Stereo sounds: bss_eval_images. The sources are panned, each channel a
# multiple of the other, so the Gram matrix of their delays is singular: SIR
# is that of the least-squares projection, about 38.6 dB by construction (0.01
# of the other source's amplitude in one channel, 0.73 of the energy in the
# source), where an LU solve, as mir_eval's, gives 30 to 37 dB.
run --references sine-2.wav noise-2.wav --estimates est-sine-2.wav est-noise-2.wav
[ "$status" -eq 0 ] || fail "stereo: status $status: $(cat err.txt)"
between $SDR sine-2 30 80
between $SDR noise-2 30 80
between $SIR sine-2 38.4 39
between $SIR noise-2 38.4 39
echo "stereo: SDR $(figure mean $SDR) dB"

# An estimate exactly the slack longer is cut and scored.
run --references sine.wav noise.wav --estimates just-long-est.wav est-noise.wav
[ "$status" -eq 0 ] || fail "estimate longer by the slack: status $status: $(cat err.txt)"
between $SDR sine 30 60

# The figures against mir_eval's own functions, to 0.01 dB: three sources of
# coloured noise (independent channels in stereo) and estimates mixed from
# them, filtered and with noise added. Estimate 0 is source 2; estimates 1 and
# 2 are mostly source 1, with a fifth and a thousandth of source 0's energy,
# the second in noise of four times its energy: mean SIR (mir_eval's choice)
# would give source 0 estimate 1, mean SDR gives it estimate 2 (by about 1 dB
# each). Mono: every (estimate, source) pair, and the best permutation of
# mir_eval's figures; stereo (slow in mir_eval): the best permutation's pairs.
$python - "$evaluate" <<'EOF' || fail "the figures differ from mir_eval's"
import importlib.machinery, importlib.util, itertools, sys, warnings
import numpy as np
import soundfile as sf
import mir_eval.separation as sep

loader = importlib.machinery.SourceFileLoader("evaluate", sys.argv[1])
tool = importlib.util.module_from_spec(importlib.util.spec_from_loader("evaluate", loader))
loader.exec_module(tool)
warnings.simplefilter("ignore")
rng = np.random.default_rng(5)
rate, frames, n = 8000, 3 * 8000, 3
mix = np.array([[0, 0, 1], [0.45, 1, 0], [0.03, 1, 0]])

def mir_eval(refs, ests):  # SDR, SIR, SAR of estimate j against source j
    if refs.shape[2] == 1:
        sdr, sir, sar, _ = sep.bss_eval_sources(refs[..., 0], ests[..., 0], compute_permutation=False)
    else:
        sdr, _, sir, sar, _ = sep.bss_eval_images(refs, ests, compute_permutation=False)
    return np.c_[sdr, sir, sar]

for c in (1, 2):
    noise = lambda k: np.convolve(rng.standard_normal(frames), rng.standard_normal(3 + 4 * k), "same")
    refs = np.stack([np.stack([noise(k) for _ in range(c)], 1) for k in range(n)])
    refs /= np.sqrt(np.mean(refs ** 2, axis=1, keepdims=True))
    ests = np.apply_along_axis(np.convolve, 1, np.einsum("kj,jtc->ktc", mix, refs), [1, 0.4, -0.2])
    ests = ests[:, :frames] + np.array([0.05, 0.05, 2])[:, None, None] * rng.standard_normal(refs.shape)
    names = [f"ref{c}-{k}.wav" for k in range(n)], [f"est{c}-{k}.wav" for k in range(n)]
    for name, x in zip(names[0] + names[1], list(refs) + list(ests)):
        sf.write(name, x, rate, subtype="DOUBLE")
    args = tool.parse_args(["--references", *names[0], "--estimates", *names[1], "--best-permutation"])
    assignment, *figures = tool.score(args, frames, c, tool.Progress(sys.stderr))
    if c == 1:
        theirs = np.empty((n, n, 3))
        for shift in range(n):
            order = [(j + shift) % n for j in range(n)]
            theirs[order, range(n)] = mir_eval(refs, ests[order])
        best = max(itertools.permutations(range(n)), key=lambda p: np.mean(theirs[p, range(n), 0]))
        assert assignment == list(best), (assignment, best)
        theirs = theirs[best, range(n)]
    else:
        theirs = mir_eval(refs, ests[assignment])
    difference = np.max(np.abs(np.array(figures).T - theirs))
    print(f"{c} channel(s): figures {np.round(theirs.ravel(), 1)}, mir_eval's within {difference:.0e} dB")
    assert difference < 0.01 and assignment == [2, 1, 0], (figures, theirs, assignment)
EOF

# On a terminal, standard error shows each phase and how far it has come, and
# standard output holds the table alone, as when it is not a terminal; with
# both on the terminal, the progress line is cleared before the table.
swapped="--references sine.wav noise.wav --estimates est-noise.wav est-sine.wav --best-permutation"
script -qec "'$evaluate' $swapped >tty-out.txt" /dev/null >tty.txt </dev/null || fail "under script: $(cat tty.txt)"
for phase in "reading 4 sounds: 44100 of 44100 frames" "projections: 3 of 3 systems solved" \
             "scoring 4 pairs: 44611 of 44611 frames"; do
  grep -qF "evaluate: $phase" tty.txt || fail "no '$phase' on the terminal: $(cat -A tty.txt)"
done
run $swapped
cmp -s out.txt tty-out.txt || fail "standard output differs on a terminal: $(cat tty-out.txt)"
script -qec "'$evaluate' $swapped" /dev/null </dev/null | tr '\r' '\n' >tty-both.txt
grep -qxF "$(head -n 1 out.txt)" tty-both.txt || fail "the progress line is not cleared before the table"
echo "progress on a terminal: $(tr '\r' '\n' <tty.txt | grep -c 'evaluate: ') updates"

# Each unusable input: status 1, one line beginning "evaluate: " that says
# what is wrong, no traceback, no table.
refused() {
  local what=$1 pattern=$2; shift 2
  run "$@"
  [ "$status" -eq 1 ] || fail "$what: exit status $status, expected 1 ($(cat err.txt))"
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "$what: not one line on stderr: $(cat err.txt)"
  grep -q "^evaluate: " err.txt || fail "$what: message does not begin with 'evaluate: ': $(cat err.txt)"
  grep -q "$pattern" err.txt || fail "$what: message '$(cat err.txt)' does not say '$pattern'"
  ! grep -q "Traceback" err.txt out.txt || fail "$what: a traceback"
  [ ! -s out.txt ] || fail "$what: something on stdout: $(cat out.txt)"
  echo "$what: $(cat err.txt)"
}

refused "missing file" "reference missing.wav does not exist" \
  --references sine.wav missing.wav --estimates est-sine.wav est-noise.wav
refused "folder" "estimate $work is a folder" \
  --references sine.wav noise.wav --estimates est-sine.wav "$work"
refused "not a sound" "cannot read estimate text.wav: ." \
  --references sine.wav noise.wav --estimates est-sine.wav text.wav
refused "counts differ" "2 references but 1 estimate" \
  --references sine.wav noise.wav --estimates est-sine.wav
refused "names count" "1 name for 2 references" \
  --references sine.wav noise.wav --estimates est-sine.wav est-noise.wav --names one
refused "sample rates differ" "sample rates differ: reference sine.wav is at 22050 Hz but estimate sine-16k.wav is at 16000 Hz" \
  --references sine.wav noise.wav --estimates sine-16k.wav est-noise.wav
refused "channel counts differ" "channel counts differ: .*noise.wav 1 channel, .*est-sine-2.wav 2 channels" \
  --references sine.wav noise.wav --estimates est-sine-2.wav est-noise.wav
refused "three channels" "only mono and stereo" \
  --references three.wav --estimates three.wav
refused "reference lengths differ" "lengths of the references differ: sine.wav has 44100 frames but short-ref.wav has 44000" \
  --references sine.wav short-ref.wav --estimates est-sine.wav est-noise.wav
refused "estimate too short" "estimate short-est.wav is shorter than reference sine.wav: 44099 frames against 44100" \
  --references sine.wav noise.wav --estimates short-est.wav est-noise.wav
refused "estimate too long" "estimate long-est.wav is longer than reference sine.wav by more than the slack of 16384 frames: 60485 frames against 44100" \
  --references sine.wav noise.wav --estimates long-est.wav est-noise.wav
refused "smaller slack" "by more than the slack of 499 frames: 44600 frames against 44100" \
  --references sine.wav noise.wav --estimates est-sine.wav est-noise.wav --slack 499
refused "silent reference" "reference silent.wav is all silence" \
  --references sine.wav silent.wav --estimates est-sine.wav est-noise.wav
refused "silent estimate" "estimate silent.wav is all silence" \
  --references sine.wav noise.wav --estimates est-sine.wav silent.wav

# A wrong command line is a usage error, status 2.
run --references sine.wav; [ "$status" -eq 2 ] && grep -q "usage:" err.txt \
  || fail "no --estimates: status $status, $(cat err.txt)"
run --references sine.wav --estimates est-sine.wav --slack -1; [ "$status" -eq 2 ] \
  || fail "--slack -1: status $status, $(cat err.txt)"
run --help; [ "$status" -eq 0 ] && grep -q "best-permutation" out.txt || fail "--help: status $status"

echo "evaluate check passed"
