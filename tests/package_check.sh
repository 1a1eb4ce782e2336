#!/usr/bin/env bash
# Builds the Debian package with cpack into a scratch folder and checks what a
# user would install: its name, its files (all under /usr), its control
# fields, and, unpacked into a scratch root, a program that separates the
# bundled example, tools that start and a manual page that renders. Needs no
# root and installs nothing.
#
# Usage: package_check.sh CPACK BUILD_DIR VERSION EXAMPLE_WAV
set -uo pipefail

cpack=$1
build=$2
version=$3
example=$4

fail() { echo "FAIL: $*"; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessavo-package.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$scratch"' EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack -G DEB failed"; }
arch=$(dpkg --print-architecture) || fail "dpkg --print-architecture failed"
deb="$scratch/out/tessavo_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$scratch/out")"

# Contents: mode, owner, size, date, time, path; the commands executable.
listing=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c cannot read $deb"
for f in bin/tessavo bin/tessavo-plot-factors bin/tessavo-evaluate share/man/man1/tessavo.1 \
         share/bash-completion/completions/tessavo share/doc/tessavo/copyright share/doc/tessavo/README.md; do
  mode='-rw-r--r--'; [[ $f == bin/* ]] && mode='-rwxr-xr-x'
  grep -Eq "^$mode .* \./usr/$f\$" <<<"$listing" || fail "the package lacks ./usr/$f with mode $mode: $listing"
done
outside=$(awk '{print $6}' <<<"$listing" | grep -Ev '^\./(usr/.*)?$')
[ -z "$outside" ] || fail "the package installs outside /usr: $outside"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tessavo ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', expected $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', expected $arch"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
depends=$(field Depends)
for p in libsndfile1 python3 python3-numpy; do
  grep -Eq "(^|, )$p( \([^)]*\))?(,|\$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
recommends=$(field Recommends)
for p in python3-matplotlib python3-soundfile python3-scipy; do
  grep -Eq "(^|, )$p(,|\$)" <<<"$recommends" || fail "Recommends lacks $p: $recommends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
program="$root/usr/bin/tessavo"

out=$("$program" --version 2>&1); status=$?
[ "$status" -eq 0 ] || fail "tessavo --version exited with $status: $out"
grep -Eq "version: $version\$" <<<"$out" || fail "tessavo --version printed '$out', expected version $version"

mkdir "$scratch/run" && cp "$example" "$scratch/run/mixture.wav" || fail "cannot copy $example"
out=$("$program" -s -i 20 "$scratch/run/mixture.wav" 2 2>&1); status=$?
[ "$status" -eq 0 ] || fail "the packaged tessavo exited with $status: $out"
for f in mixture-residual.wav mixture-0.wav mixture-1.wav; do
  [ "$(head -c 4 "$scratch/run/$f" 2>/dev/null)" = RIFF ] || fail "the packaged tessavo did not write a WAV file $f"
done

# Each tool starts and is the one its name says.
for tool in plot-factors evaluate; do
  out=$("$root/usr/bin/tessavo-$tool" --help 2>&1); status=$?
  [ "$status" -eq 0 ] || fail "tessavo-$tool --help exited with $status: $out"
  grep -q "^usage: $tool " <<<"$out" || fail "tessavo-$tool --help does not show the usage of $tool: $out"
done

page="$root/usr/share/man/man1/tessavo.1"
text=$(LC_ALL=C.UTF-8 MANWIDTH=100 MANPAGER=cat man -l "$page" 2>"$scratch/man.err"); status=$?
[ "$status" -eq 0 ] && [ ! -s "$scratch/man.err" ] || fail "man -l $page failed: $(cat "$scratch/man.err")"
text=$(printf '%s\n' "$text" | sed -e 's/\xe2\x80\x90/-/g' -e 's/\xe2\x88\x92/-/g')
for tool in tessavo-plot-factors tessavo-evaluate; do
  grep -q "$tool" <<<"$text" || fail "the packaged manual page does not name $tool"
done

echo "package check passed: $(basename "$deb"), Depends: $depends"
