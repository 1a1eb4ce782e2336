#!/usr/bin/env bash
# Loads the bash completion into a plain bash and completes command lines as
# bash would hand them over (the words in COMP_WORDS, the one under the
# cursor last): options, the values of --loss, --mask and --encoding, folders
# after -d, file names (blanks included) elsewhere and after "--".
#
# Usage: completion_check.sh COMPLETION_FILE
set -uo pipefail

completion=$(realpath -- "$1")

fail() { echo "FAIL: $*"; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-completion.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || fail "cannot enter $scratch"
touch song.wav "take two.flac" notes.txt ./-x.wav
mkdir "out dir" outputs

# complete WORD...: the words of the line, the last one being completed;
# prints the completions one per line, sorted. With $framework set, Debian's
# bash-completion is loaded first, as in an interactive shell.
framework=""
complete_words() {
  bash --norc --noprofile -c '
    if [ -n "$2" ]; then source "$2" || exit 3; fi
    source "$1" || exit 3
    registration=$(complete -p tessavo) || exit 4
    function=${registration#*-F }
    function=${function%% *}
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$function" tessavo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" || exit 5
    ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort
  ' completion "$completion" "$framework" "$@"
}

# expect WHAT WORD... "=>" EXPECTED...
expect() {
  local what="$1${framework:+ (with bash-completion)}"; shift
  local words=()
  while [ "$1" != "=>" ]; do words+=("$1"); shift; done
  shift
  local wanted=""
  [ $# -gt 0 ] && wanted=$(printf '%s\n' "$@" | LC_ALL=C sort)
  local got
  got=$(complete_words "${words[@]}"); local status=$?
  [ "$status" -eq 0 ] || fail "$what: the completion failed with status $status"
  [ "$got" = "$wanted" ] || fail "$what: completed to [$(tr '\n' '|' <<<"$got")], expected [$(tr '\n' '|' <<<"$wanted")]"
}

bash --norc --noprofile -c 'source "$1" && complete -p tessavo' completion "$completion" >/dev/null \
  || fail "sourcing $completion does not register a completion for tessavo"

# In plain bash, and with Debian's bash-completion where it is installed.
modes=("")
[ -f /usr/share/bash-completion/bash_completion ] && modes+=(/usr/share/bash-completion/bash_completion)
for framework in "${modes[@]}"; do
  expect "an option prefix" tessavo --lo "=>" --loss
  expect "options sharing a prefix" tessavo song.wav 3 --ma "=>" --mask --maskpower --matrixout --maxiterations
  expect "the new options" tessavo --o "=>" --outdir --overlap
  expect "--encoding by prefix" tessavo --enc "=>" --encoding
  expect "--loss values" tessavo --loss "" "=>" euclidean kl is
  expect "--loss is by prefix" tessavo --loss i "=>" is
  expect "--loss by prefix" tessavo --loss k "=>" kl
  expect "--mask values" tessavo -s --mask "" "=>" direct soft
  expect "--factors values" tessavo --factors "" "=>" npy text
  expect "--encoding values" tessavo --encoding "" "=>" pcm16 pcm24 pcm32 float double
  expect "--encoding by prefix" tessavo song.wav 2 --encoding pc "=>" pcm16 pcm24 pcm32
  expect "file names" tessavo "" "=>" -x.wav notes.txt "out dir" outputs song.wav "take two.flac"
  expect "a file name by prefix" tessavo s "=>" song.wav
  expect "a file name with a blank" tessavo -m ta "=>" "take two.flac"
  expect "folders only after -d" tessavo -d "" "=>" "out dir" outputs
  expect "folders only after --outdir" tessavo --outdir ou "=>" "out dir" outputs
  expect "nothing to offer for a number" tessavo -f "" "=>"
  expect "nothing to offer for a weight" tessavo --sparsity "" "=>"
  expect "nothing to offer for a source name" tessavo --templates sp "=>"
  expect "a template file after NAME=" tessavo --templates speech = no "=>" notes.txt
  expect "a template file right after =" tessavo --templates speech = "=>" -x.wav notes.txt "out dir" outputs song.wav "take two.flac"
  expect "file names after --" tessavo -s -- - "=>" -x.wav

  # Every option is offered after a lone dash.
  all=$(complete_words tessavo -)
  for option in -f --fftsize -i --maxiterations -c --criteria --tolerance -o --overlap -t --threads -s --silent -m --matrixout \
    --factors --no-sounds --loss --templates --mask --maskpower --precision -d --outdir --encoding --continuity --sparsity --seed --sources \
    -- --ignore_rest -h --help --version; do
    grep -qx -- "$option" <<<"$all" || fail "'tessavo -' does not offer $option"
  done
done

echo "completion check passed: $completion"
