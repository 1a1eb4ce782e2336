#!/usr/bin/env bash
# Installs a build under a temporary prefix and checks what a user gets there:
# the program and its two tools, the copyright file; the program runs and
# tells its version, the manual page renders with its synopsis and every
# option that --help lists, and the bash completion is where bash-completion
# looks for it and registers itself.
#
# Usage: install_check.sh CMAKE BUILD_DIR VERSION
set -uo pipefail

cmake=$1
build=$2
version=$3

fail() { echo "FAIL: $*"; exit 1; }

prefix=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-install.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 \
  || { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

program="$prefix/bin/tessavo"
page="$prefix/share/man/man1/tessavo.1"
[ -x "$program" ] || fail "no executable at $program"
[ -f "$page" ] || fail "no manual page at $page"
completion="$prefix/share/bash-completion/completions/tessavo"
[ -f "$completion" ] || fail "no bash completion at $completion"
for tool in tessavo-plot-factors tessavo-evaluate; do
  [ -x "$prefix/bin/$tool" ] || fail "no executable at $prefix/bin/$tool"
done
[ -f "$prefix/share/doc/tessavo/copyright" ] || fail "no copyright file in $prefix/share/doc/tessavo"
bash --norc --noprofile -c 'source "$1" && complete -p tessavo' check "$completion" 2>&1 | grep -q -- '-F _tessavo' \
  || fail "sourcing $completion does not register a completion for tessavo"

out=$("$program" --version 2>&1); status=$?
[ "$status" -eq 0 ] || fail "tessavo --version exited with $status: $out"
grep -Eq "version: $version\$" <<<"$out" || fail "tessavo --version printed '$out', expected version $version"

command -v man >/dev/null || fail "man is not installed (scripts/setup installs man-db)"
text=$(LC_ALL=C.UTF-8 MANWIDTH=100 MANPAGER=cat man -l "$page" 2>"$prefix/man.err"); status=$?
[ "$status" -eq 0 ] || fail "man -l exited with $status: $(cat "$prefix/man.err")"
[ -s "$prefix/man.err" ] && fail "man -l reported: $(cat "$prefix/man.err")"
# Render dashes and quotes as ASCII so that option names can be searched for.
text=$(printf '%s\n' "$text" | sed -e 's/\xe2\x80\x90/-/g' -e 's/\xe2\x88\x92/-/g')

for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "OUTPUT FILES" "EXIT STATUS" EXAMPLES "SEE ALSO"; do
  grep -q "^$heading\$" <<<"$text" || fail "the manual page has no section $heading"
done
synopsis=$(sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p' <<<"$text" | tr -s ' \n' '  ')
grep -q 'tessavo .*\[-t threads\].* filename components tessavo' <<<"$synopsis" \
  || fail "the synopsis does not show 'tessavo [options] filename components': $synopsis"

# Every long option that the program itself lists must be described, with
# its short form where it has one.
help=$("$program" --help 2>&1) || fail "tessavo --help failed"
options=$(grep -Eo -- '^ *(-[a-z-][^,]*, +)?--[a-z_][a-z_-]*' <<<"$help" | sed -E 's/^ +//')
[ "$(wc -l <<<"$options")" -ge 9 ] || fail "could not read the options from tessavo --help: $help"
while read -r line; do
  long=$(grep -Eo -- '--[a-z_][a-z_-]*$' <<<"$line")
  short=$(grep -Eo -- '^-[a-z]' <<<"$line" || true)
  # A tag narrower than the indent has its description on the same line.
  tag=$(grep -E -- "^ +(-[a-z-]( [a-z]+)?, )?$long( [a-z=]+)?(\$|  +[A-Z])" <<<"$text" | head -1)
  [ -n "$tag" ] || fail "the OPTIONS section does not describe $long"
  if [ -n "$short" ]; then
    grep -Eq -- "^ +$short[ ,]" <<<"$tag" || fail "the manual page gives $long without its short form $short"
  fi
done <<<"$options"

# The output naming and the exit statuses are spelled out.
for needle in "song-residual.wav" "song-0.wav" "song.wav-W.txt" "song.wav-H.txt"; do
  grep -q -- "$needle" <<<"$text" || fail "the manual page does not mention $needle"
done
sed -n '/^EXIT STATUS$/,/^EXAMPLES$/p' <<<"$text" | grep -Eq '^ +0 ' || fail "exit status 0 is not described"
sed -n '/^EXIT STATUS$/,/^EXAMPLES$/p' <<<"$text" | grep -Eq '^ +1 ' || fail "exit status 1 is not described"

echo "install check passed: $program (version $version), $page and $completion"
