#!/usr/bin/env bash
# Runs tessavo with -m on the bundled example, draws its factors with
# tools/plot-factors and checks the picture; then checks that broken factor
# files are refused with a message and a failing exit status.
#
# Usage: plot_check.sh TESSAVO PLOT_TOOL EXAMPLE_WAV
set -uo pipefail

tessavo=$1
plot=$2
example=$3

fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-plot.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$work"' EXIT
cd "$work" || fail "cannot enter $work"

[ -x "$plot" ] || fail "$plot is not executable"
cp "$example" song.wav || fail "cannot copy $example"

# A short real run: transform length 2048, hop 512, 2 components.
"$tessavo" -f 1024 -i 20 -s -m song.wav 2 >run.out 2>&1 || fail "tessavo failed: $(cat run.out)"
[ -f song.wav-W.txt ] && [ -f song.wav-H.txt ] || fail "tessavo -m wrote no W and H files"
read -r frames k_w <song.wav-W.txt
read -r k_h bins <song.wav-H.txt
[ "$k_w" = 2 ] && [ "$k_h" = 2 ] && [ "$bins" = 1024 ] \
  || fail "unexpected factor shapes: W $frames x $k_w, H $k_h x $bins"

# Checks that $1 is a PNG of more than 10 KB whose width and height lie in
# 600..3000 and 300..3000 pixels.
check_png() {
  local f=$1 size sig dims w h
  [ -f "$f" ] || fail "no picture $f"
  size=$(wc -c <"$f")
  [ "$size" -gt 10240 ] || fail "$f has only $size bytes"
  sig=$(od -An -tx1 -N8 "$f" | tr -d ' \n')
  [ "$sig" = 89504e470d0a1a0a ] || fail "$f does not start with the PNG signature ($sig)"
  [ "$(od -An -c -j12 -N4 "$f" | tr -d ' \n')" = IHDR ] || fail "$f has no IHDR chunk first"
  dims=($(od -An -tu1 -j16 -N8 "$f"))
  w=$(( (dims[0] << 24) | (dims[1] << 16) | (dims[2] << 8) | dims[3] ))
  h=$(( (dims[4] << 24) | (dims[5] << 16) | (dims[6] << 8) | dims[7] ))
  [ "$w" -ge 600 ] && [ "$w" -le 3000 ] && [ "$h" -ge 300 ] && [ "$h" -le 3000 ] \
    || fail "$f is $w x $h pixels"
  echo "$f: $size bytes, $w x $h pixels"
}

# By prefix, with the default output name beside the input; the sample rate
# comes from the WAV header and the hop from the H file's transform length.
"$plot" song.wav >plot.out 2>plot.err || fail "plot-factors song.wav failed: $(cat plot.out plot.err)"
check_png song.wav-factors.png
grep -q "22050" plot.err || fail "the sample rate was not read from song.wav: $(cat plot.err)"
# Frame r starts at r * 512 samples (hop = 2048 / 4); bin j is at j * 22050 / 2048
# Hz, so the last of the 1024 bins is at 11014 Hz.
end=$(awk -v f="$frames" 'BEGIN { printf "%.2f", (f - 1) * 512 / 22050 }')
grep -qxF "wrote song.wav-factors.png: 2 components, $frames frames at hop 512 and 22050 Hz (0 to $end s), 1024 bins (0 to 11014 Hz, transform length 2048)" plot.out \
  || fail "plot-factors did not report the axes expected: $(cat plot.out)"

# A padded run: its rows start three hops (1536 samples) earlier.
cp song.wav padded.wav || fail "cannot copy song.wav"
"$tessavo" -f 1024 -i 20 -s -m --pad padded.wav 2 >run.out 2>&1 || fail "tessavo --pad failed: $(cat run.out)"
read -r padded _ <padded.wav-W.txt
end=$(awk -v f="$padded" 'BEGIN { printf "%.2f", ((f - 1) * 512 - 1536) / 22050 }')
"$plot" --pad padded.wav >plot.out 2>plot.err || fail "plot-factors --pad failed: $(cat plot.out plot.err)"
grep -qF "$padded frames at hop 512 and 22050 Hz (-0.0696599 to $end s)" plot.out \
  || fail "plot-factors --pad did not shift the time axis: $(cat plot.out)"
"$tessavo" -f 1024 -i 20 -s --no-sounds --pad --factors npy padded.wav 2 >run.out 2>&1 \
  || fail "tessavo --pad --factors npy failed: $(cat run.out)"
"$plot" padded.wav >plot.out 2>plot.err || fail "plot-factors, padded JSON: $(cat plot.out plot.err)"
grep -qF "$padded frames at hop 512 and 22050 Hz (-0.0696599 to $end s)" plot.out \
  || fail "the padding in the JSON did not shift the time axis: $(cat plot.out)"

# Both files named, every option given.
"$plot" --rate 22050 --hop 512 --fft 2048 --output named.png --title "Check" \
  song.wav-W.txt song.wav-H.txt >/dev/null 2>plot.err || fail "plot-factors with options failed: $(cat plot.err)"
check_png named.png

# A FLAC run with -o 8: the rate comes from the sound (not the 44100 Hz
# default), the hop from --overlap; bin 1023 of 2048 lies at 11014 Hz.
sox song.wav song.flac || fail "sox cannot write song.flac"
"$tessavo" -f 1024 -i 20 -s --no-sounds -m -o 8 song.flac 3 >run.out 2>&1 || fail "tessavo -o 8 failed: $(cat run.out)"
read -r flac_frames _ <song.flac-W.txt
end=$(awk -v f="$flac_frames" 'BEGIN { printf "%.2f", (f - 1) * 256 / 22050 }')
axes="3 components, $flac_frames frames at hop 256 and 22050 Hz (0 to $end s), 1024 bins (0 to 11014 Hz, transform length 2048)"
"$plot" --overlap 8 song.flac >plot.out 2>plot.err || fail "plot-factors song.flac failed: $(cat plot.err)"
grep -qxF "wrote song.flac-factors.png: $axes" plot.out || fail "FLAC text factors: $(cat plot.out plot.err)"

# What --factors text and --factors npy write: the rate, hop and padding come
# from the JSON beside the matrices (found by the sound's name, or named),
# and options that repeat them are accepted.
for format in text npy; do
  "$tessavo" -f 1024 -i 20 -s --no-sounds -o 8 --factors $format song.flac 3 >run.out 2>&1 \
    || fail "tessavo --factors $format failed: $(cat run.out)"
  args=(song.flac)
  [ $format = npy ] && args=(--rate 22050 --overlap 8 song.flac-factors.json)
  "$plot" "${args[@]}" >plot.out 2>plot.err || fail "--factors $format: $(cat plot.err)"
  grep -qxF "wrote song.flac-factors.png: $axes" plot.out || fail "--factors $format: $(cat plot.out plot.err)"
  grep -q "read from song.flac-factors.json" plot.err || fail "--factors $format: the JSON was not read"
done
check_png song.flac-factors.png
# Two .npy files named, no metadata: the axes from the sound and the options.
"$plot" --overlap 8 --output npy.png song.flac-W.npy song.flac-H.npy >plot.out 2>plot.err \
  || fail "an .npy pair was refused: $(cat plot.err)"
grep -qxF "wrote npy.png: $axes" plot.out || fail ".npy pair: $(cat plot.out plot.err)"

# Each broken input: exit status 1, one message naming the problem, no picture.
refused() {
  local what=$1 pattern=$2; shift 2
  rm -f broken.png
  "$plot" --rate 22050 --output broken.png "$@" >/dev/null 2>err.txt
  local status=$?
  [ "$status" -eq 1 ] || fail "$what: exit status $status, expected 1 ($(cat err.txt))"
  grep -q "^plot-factors: error: .*$pattern" err.txt && [ "$(wc -l <err.txt)" -eq 1 ] \
    || fail "$what: message '$(cat err.txt)' is not one line saying '$pattern'"
  [ ! -e broken.png ] || fail "$what: a picture was written all the same"
  echo "$what: $(cat err.txt)"
}

refused "missing file" "does not exist" missing.wav
{ echo "$frames two"; tail -n +2 song.wav-W.txt; } >header-W.txt
refused "malformed header" "header" header-W.txt song.wav-H.txt
head -n -1 song.wav-W.txt >short-W.txt
refused "missing row" "announces $frames rows but the file holds $((frames - 1))" short-W.txt song.wav-H.txt
{ echo "$frames 1"; cut -d' ' -f1 <(tail -n +2 song.wav-W.txt) | sed 's/$/ /'; } >one-W.txt
refused "K mismatch" "1 component but .* has 2" one-W.txt song.wav-H.txt
sed '3s/^[^ ]*/0.5x/' song.wav-W.txt >text-W.txt
refused "non-numeric value" "line 3, value 1: '0.5x' is not a number" text-W.txt song.wav-H.txt
refused "wrong transform length" "transform length of 2048" --fft 8192 song.wav


# Broken .npy files and metadata.
/usr/bin/python3 -c 'import numpy as np; np.save("flat.npy", np.zeros(5)); np.save("int.npy", np.zeros((2, 3), int))' \
  || fail "cannot write broken .npy files"
refused "1-D .npy" "1-D array of float64; expected a 2-D array" flat.npy song.flac-H.npy
refused "integer .npy" "2-D array of int64; expected a 2-D array of floating" int.npy song.flac-H.npy
refused "option against the JSON" "overlap 4 (the run's hop is 256, -o 8) disagrees" --overlap 4 song.flac
json_refused() {  # WHAT PATTERN SED-SCRIPT: song.flac-factors.json edited
  sed "$3" song.flac-factors.json >bad.json
  refused "$1" "$2" bad.json
}
json_refused "bad JSON" "not valid JSON" '$d'
json_refused "missing key" '"hop" is missing' '/"hop":/d'
json_refused "frame count" "records $((flac_frames + 1)) x 3 for W but song.flac-W.npy is $flac_frames x 3" \
  "s/\"frames\": $flac_frames/\"frames\": $((flac_frames + 1))/"
json_refused "non-finite number" "NaN is not a finite number" 's/"sample_rate": 22050/"sample_rate": NaN/'
json_refused "frame time" '"frame_times"\[1\] is 1 s' 's/"frame_times": \[0, [^,]*/"frame_times": [0, 1.0/'

# A wrong command line is a usage error, status 2.
"$plot" --hop 0 song.wav >/dev/null 2>err.txt; status=$?
[ "$status" -eq 2 ] || fail "--hop 0: exit status $status, expected 2"
"$plot" >/dev/null 2>err.txt; status=$?
[ "$status" -eq 2 ] && grep -q "usage:" err.txt || fail "no arguments: status $status, $(cat err.txt)"

echo "plot check passed"
