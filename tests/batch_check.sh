#!/usr/bin/env bash
# Runs the README's batch commands, word for word, over real sound files:
# every output is there and is a sound of the right shape, a bad input makes
# the batch fail while the other files are still separated, and outputs are
# never taken as inputs, neither in one batch nor when it runs again. The
# commands for several machines run too, with ssh and sbatch played by small
# scripts that run their commands here; the files travel with the real rsync.
#
# Usage: batch_check.sh TESSAVO README
set -uo pipefail

tessavo=$1
readme=$2

fail() {
  echo "FAIL: $*"
  [ -s "${scratch-}/out" ] && { echo "The last command printed:"; cat "$scratch/out"; }
  exit 1
}

command -v parallel >/dev/null || fail "GNU parallel is not installed (scripts/setup installs it)"
command -v sox >/dev/null && command -v soxi >/dev/null || fail "sox is not installed (scripts/setup installs it)"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-batch.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$scratch"' EXIT
# GNU parallel keeps its state under $PARALLEL_HOME: not in the user's home.
export PARALLEL_HOME="$scratch/.parallel"
cd "$scratch" || fail "cannot enter $scratch"

# The README's code blocks (indented by four blanks) under the heading $1,
# up to the next heading, each ended by the character 036.
blocks_under() {
  awk -v heading="$1" '
    $0 == heading { inside = 1; next }
    inside && /^#/ { exit }
    inside && /^    / { sub(/^    /, ""); block = block $0 "\n"; next }
    inside && block != "" { printf "%s\036", block; block = "" }
    END { if (block != "") printf "%s\036", block }
  ' "$readme"
}
parallel_command=""
xargs_command=""
while IFS= read -r -d $'\036' block; do
  case $block in
    *xargs*) xargs_command=$block ;;
    *parallel*) parallel_command=$block ;;
  esac
done < <(blocks_under "## Many files at once")
ssh_command=""
shared_command=""
slurm_command=""
while IFS= read -r -d $'\036' block; do
  case $block in
    *--transferfile*) ssh_command=$block ;;
    *parallel*/shared/*) shared_command=$block ;;
    *sbatch*) slurm_command=$block ;;
  esac
done < <(blocks_under "### Spreading a collection over several machines")
[ -n "$ssh_command" ] || fail "no GNU parallel command with --transferfile under 'Spreading a collection over several machines'"
[ -n "$shared_command" ] || fail "no GNU parallel command over /shared/ under 'Spreading a collection over several machines'"
[ -n "$slurm_command" ] || fail "no sbatch command under 'Spreading a collection over several machines'"
[ -n "$parallel_command" ] || fail "no GNU parallel command in the README's section 'Many files at once'"
[ -n "$xargs_command" ] || fail "no xargs command in the README's section 'Many files at once'"
grep -q 'recordings/\*\.wav' <<<"$parallel_command$xargs_command" || fail "the commands no longer read recordings/*.wav"
grep -q 'separated' <<<"$parallel_command" || fail "the parallel command no longer writes into separated/"

# The layout the commands expect: the program at build/tessavo and the
# sounds in recordings/, here three of three seconds (mono and stereo, one
# with a blank in its name): long enough for several transforms, so that no
# output is silent and a mix-up of outputs shows in their checksums.
mkdir -p build recordings
ln -s "$tessavo" build/tessavo
sox -V1 -n -r 8000 -b 16 -c 1 recordings/alpha.wav synth 3 sine 300 sine 500 vol 0.4 || fail "sox failed"
sox -V1 -n -r 8000 -b 16 -c 2 "recordings/take two.wav" synth 3 pluck 220 pluck 330 vol 0.5 || fail "sox failed"
sox -V1 -n -r 8000 -b 16 -c 1 recordings/gamma.wav synth 3 square 110 vol 0.3 || fail "sox failed"
stems=(alpha "take two" gamma)
checksums() { (cd recordings && sha256sum -- alpha.wav "take two.wav" gamma.wav); }
inputs=$(checksums)

# Transforms of 8192 samples, hop 2048: 24000 samples give 12 hops.
expect_outputs() {  # FOLDER WHAT STEM...
  local folder=$1 what=$2; shift 2
  local stem part file channels
  for stem in "$@"; do
    channels=1
    [ "$stem" = "take two" ] && channels=2
    for part in residual 0 1 2; do
      file="$folder/$stem-$part.wav"
      [ -f "$file" ] || fail "$what: no $file"
      [ "$(soxi -t "$file" 2>/dev/null)" = wav ] || fail "$what: $file is not a WAV sound"
      [ "$(soxi -s "$file" 2>/dev/null)" = 24576 ] || fail "$what: $file has $(soxi -s "$file" 2>&1) samples, not 24576"
      [ "$(soxi -c "$file" 2>/dev/null)" = "$channels" ] || fail "$what: $file does not have $channels channels"
      [ "$(soxi -r "$file" 2>/dev/null)" = 8000 ] || fail "$what: $file is not at 8000 Hz"
      [ "$(soxi -b "$file" 2>/dev/null)" = 16 ] || fail "$what: $file is not 16-bit"
    done
  done
}
count() { find "$1" -mindepth 1 | wc -l; }
run() {  # COMMAND: runs it as a shell would, with nothing on standard input
  bash -c "$1" </dev/null >"$scratch/out" 2>&1
}
inputs_unchanged() {
  [ "$(checksums)" = "$inputs" ] || fail "$1: the inputs changed"
}

# The GNU parallel command: every output, nothing else, inputs untouched.
run "$parallel_command"; status=$?
[ "$status" -eq 0 ] || fail "the parallel command exited with $status"
expect_outputs separated "parallel" "${stems[@]}"
[ "$(count separated)" -eq 12 ] || fail "parallel: separated/ holds $(count separated) files, not 12: $(ls separated)"
inputs_unchanged "parallel"
first=$(cd separated && sha256sum -- *)
[ "$(cut -d' ' -f1 <<<"$first" | sort -u | wc -l)" -eq 12 ] || fail "parallel: some outputs are the same: $first"

# Again over the same pattern: the outputs are not among the inputs, so the
# same files come out with the same bytes.
run "$parallel_command"; status=$?
[ "$status" -eq 0 ] || fail "the second parallel run exited with $status"
[ "$(count separated)" -eq 12 ] || fail "second run: separated/ holds $(ls separated)"
[ "$(cd separated && sha256sum -- *)" = "$first" ] || fail "the second run gave other outputs"
[ "$(count recordings)" -eq 3 ] || fail "second run: recordings/ holds $(ls recordings)"

# A bad input (text named .wav): the batch fails with one failed run, says
# why, and the good files are still separated.
printf 'not a sound\n' >recordings/bad.wav
rm -rf separated
run "$parallel_command"; status=$?
[ "$status" -eq 1 ] || fail "with one bad input the parallel command exited with $status, not 1"
grep -q 'Not able to open input file recordings/bad.wav' out || fail "parallel: no message about the bad input"
expect_outputs separated "parallel with a bad input" "${stems[@]}"
[ "$(count separated)" -eq 12 ] || fail "parallel with a bad input: separated/ holds $(ls separated)"

# The xargs command, the same way: 123 when any run failed.
rm -rf separated
run "$xargs_command"; status=$?
[ "$status" -eq 123 ] || fail "with one bad input the xargs command exited with $status, not 123"
expect_outputs separated "xargs with a bad input" "${stems[@]}"
[ "$(count separated)" -eq 12 ] || fail "xargs: separated/ holds $(ls separated)"
rm recordings/bad.wav
rm -rf separated
run "$xargs_command"; status=$?
[ "$status" -eq 0 ] || fail "the xargs command exited with $status"
[ "$(cd separated && sha256sum -- *)" = "$first" ] || fail "xargs gave other outputs than parallel"
inputs_unchanged "xargs"

# Without --outdir, as the README describes: the outputs land beside the
# inputs, and the pattern, expanded once before any run, takes none of them.
beside=${parallel_command//--outdir separated /}
[ "$beside" != "$parallel_command" ] || fail "could not drop --outdir from: $parallel_command"
rm -rf separated
run "$beside"; status=$?
[ "$status" -eq 0 ] || fail "the parallel command without --outdir exited with $status"
expect_outputs recordings "without --outdir" "${stems[@]}"
[ "$(count recordings)" -eq 15 ] || fail "without --outdir recordings/ holds $(ls recordings)"
inputs_unchanged "without --outdir"
for stem in "${stems[@]}"; do rm -f "recordings/$stem-"{residual,0,1,2}.wav; done
[ "$(count recordings)" -eq 3 ] || fail "recordings/ still holds outputs: $(ls recordings)"

# The commands for several machines. "ssh" is played by a script that runs
# the command here, in a home folder of that machine's own under machines/,
# with tessavo on the PATH; the files travel with the real rsync.
command -v rsync >/dev/null || fail "rsync is not installed (scripts/setup installs it)"
mkdir -p bin machines
ln -s "$tessavo" bin/tessavo
cat >ssh <<'END'
#!/usr/bin/env bash
# ssh [OPTION...] HOST [--] COMMAND...
while [[ ${1-} == -* && $1 != -- ]]; do case $1 in -[oplisFJ]) shift 2 ;; *) shift ;; esac; done
host=$1
shift
[ "${1-}" = -- ] && shift
echo "$host" >>"$MACHINES/used"
# As sshd does, the command gets the account's home and login shell: GNU
# parallel's worker runs each job with $SHELL and, without one, runs nothing
# yet reports success.
export HOME="$MACHINES/$host"
SHELL=$(getent passwd "$(id -u)" | cut -d: -f7)
export SHELL=${SHELL:-/bin/sh}
mkdir -p "$HOME" && cd "$HOME" || exit 255
exec bash -c "$*"
END
chmod +x ssh
export PARALLEL_SSH="$scratch/ssh" MACHINES="$scratch/machines" PATH="$scratch/bin:$PATH"

rm -rf separated
run "$ssh_command"; status=$?
[ "$status" -eq 0 ] || fail "the command for several machines exited with $status"
expect_outputs separated "several machines" "${stems[@]}"
[ "$(count separated)" -eq 12 ] || fail "several machines: separated/ holds $(ls separated)"
[ "$(cd separated && sha256sum -- *)" = "$first" ] || fail "the machines gave other outputs than one machine"
grep -Eqx 'alpha|beta' machines/used || fail "no job ran on the machines alpha and beta"
[ -z "$(find machines -mindepth 2 -type f)" ] || fail "files were left on the machines: $(find machines -mindepth 2 -type f)"
inputs_unchanged "several machines"

printf 'not a sound\n' >recordings/bad.wav
rm -rf separated
run "$ssh_command"; status=$?
[ "$status" -eq 1 ] || fail "with one bad input the command for several machines exited with $status, not 1"
grep -q 'Not able to open input file recordings/bad.wav' out || fail "several machines: no message about the bad input"
[ "$(cd separated && sha256sum -- *)" = "$first" ] || fail "several machines with a bad input: other outputs: $(ls separated)"
rm recordings/bad.wav

# A folder that every machine sees at the same path: here a folder of the
# scratch space in place of /shared.
mkdir -p shared
cp -r recordings shared/
shared=${shared_command//\/shared\//$scratch\/shared\/}
run "$shared"; status=$?
[ "$status" -eq 0 ] || fail "the command for a shared folder exited with $status"
[ "$(cd shared/separated && sha256sum -- *)" = "$first" ] || fail "the shared folder got other outputs: $(ls shared/separated)"

# The Slurm job array, with "sbatch" played by a script that runs every
# task of --array=1-N here, one after the other, as sh runs a --wrap job.
cat >bin/sbatch <<'END'
#!/usr/bin/env bash
# sbatch --array=1-N [--cpus-per-task=C] --wrap COMMAND
last="" wrap=""
while [ $# -gt 0 ]; do
  case $1 in
    --array=1-*) last=${1#--array=1-} ;;
    --cpus-per-task=*) ;;
    --wrap) wrap=$2; shift ;;
    *) echo "sbatch: unexpected $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$last" ] && [ -n "$wrap" ] || { echo "sbatch: no --array or no --wrap" >&2; exit 2; }
for ((task = 1; task <= last; task++)); do
  SLURM_ARRAY_TASK_ID=$task sh -c "$wrap" >>"slurm-$task.out" 2>&1
done
END
chmod +x bin/sbatch
rm -rf separated
run "$slurm_command"; status=$?
[ "$status" -eq 0 ] || fail "the Slurm command exited with $status"
[ "$(cd separated && sha256sum -- *)" = "$first" ] || fail "the Slurm job array gave other outputs: $(ls separated) $(cat slurm-*.out)"

echo "batch check passed: the README's commands over ${#stems[@]} files, on one machine, on several and as a job array"
