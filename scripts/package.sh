#!/usr/bin/env bash
# Builds the Debian package of Kestrum and checks it: its contents, that it
# installs with apt-get, that the installed kestrum runs and packs a pakfile,
# that "man kestrum" shows the manual page, and that a program builds against
# the installed CMake package; then removes it again. Needs root for apt-get.
#   scripts/package.sh [BUILD_DIR]      (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
dir="${1:-build-package}"

KESTRUM_PACKAGE_DEPS=1 scripts/deps.sh
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

fail() {
  echo "package: FAILED: $*" >&2
  exit 1
}

echo "== build"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_TESTS=OFF \
  -DKESTRUM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/kestrum_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/kestrum_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single kestrum_*.deb in $dir"
deb="$root/${debs[0]}"
echo "package: ${deb#"$root"/}"

echo "== contents"
dpkg-deb -f "$deb" Package Version Section Maintainer Depends
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/kestrum ./usr/share/man/man1/kestrum.1 ./usr/include/kestrum/pak_reader.h \
  ./usr/include/kestrum/format/pak_layout.h ./usr/lib/cmake/Kestrum/KestrumConfig.cmake \
  ./usr/lib/pkgconfig/kestrum.pc; do
  grep -q " $path\$" <<<"$contents" || fail "$path is not in the package"
done
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package declares no dependencies"

if dpkg-query -W -f='${Status}' kestrum 2>/dev/null | grep -q 'install ok installed'; then
  fail "a kestrum package is installed already; remove it first (apt-get remove kestrum)"
fi

echo "== install"
work=$(mktemp -d)
cleanup() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq kestrum >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null
[ "$(command -v kestrum)" = /usr/bin/kestrum ] || fail "kestrum is not on the PATH as /usr/bin/kestrum"

echo "== run"
usage=$(kestrum) || fail "kestrum without arguments exits with $?"
grep -q '^Kestrum V1.0$' <<<"$usage" || fail "no banner: $usage"
grep -q '^Usage:$' <<<"$usage" || fail "no usage: $usage"
mkdir -p "$work/tree/data"
printf '0123456789' >"$work/tree/data/a.txt"
printf 'readme\n' >"$work/tree/readme"
printf 'data/a.txt\nreadme\n' >"$work/tree/files.txt"
(cd "$work/tree" && kestrum -- -a files.txt) >"$work/pack.out" || fail "packing failed: $(cat "$work/pack.out")"
grep -q 'Total file size = 123 (header=106 + data=17)' "$work/pack.out" || fail "unexpected pack output: $(cat "$work/pack.out")"
[ "$(stat -c %s "$work/tree/files.pak")" = 4096 ] || fail "files.pak is not 4096 bytes long"
[ "$(head -c 13 "$work/tree/files.pak" | od -An -c | tr -s ' ')" = " K E S T R V 1 . 0 \r \n" ] ||
  fail "files.pak does not start with the signature"

echo "== man"
[ "$(man -w kestrum)" = /usr/share/man/man1/kestrum.1 ] || fail "man -w kestrum: $(man -w kestrum 2>&1)"
page=$(MANPAGER=cat MANWIDTH=80 man kestrum 2>&1) || fail "man kestrum: $page"
grep -q 'kestrum - build, list and unpack pakfiles' <<<"$page" || fail "man kestrum shows no NAME line"

echo "== embedding"
cmake -S tests/packaging/consumer -B "$work/consumer" -G Ninja >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"

echo "== remove"
cleanup
trap - EXIT
[ ! -e /usr/bin/kestrum ] || fail "/usr/bin/kestrum is still there after apt-get remove"
echo "package: ${deb#"$root"/} builds, installs, runs and removes cleanly"
