#!/usr/bin/env bash
# Builds the Debian packages of Kestrum (kestrum: the tool; libkestrum-dev:
# the reader runtime for embedding) and checks them: their contents, that
# they install with apt-get, that the installed kestrum runs and packs a
# pakfile, that "man kestrum" shows the manual page, and that a program builds
# against the installed CMake package; then removes them again. Needs root
# for apt-get.
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
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)

# The one .deb in $dir whose name starts with $1_.
deb_of() {
  local found=("$dir/$1"_*.deb)
  if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
    fail "cpack made no single $1_*.deb in $dir"
  fi
  echo "$root/${found[0]}"
}
# Fails unless the package $1 holds every path that follows.
expect_contents() {
  local deb=$1 contents path
  shift
  contents=$(dpkg-deb -c "$deb")
  for path in "$@"; do
    grep -q " $path\$" <<<"$contents" || fail "$path is not in ${deb##*/}"
  done
}

tool_deb=$(deb_of kestrum)
dev_deb=$(deb_of libkestrum-dev)

echo "== contents"
for deb in "$tool_deb" "$dev_deb"; do
  echo "${deb#"$root"/}:"
  dpkg-deb -f "$deb" Package Version Section Maintainer Depends | sed 's/^/  /'
done
expect_contents "$tool_deb" ./usr/bin/kestrum ./usr/share/man/man1/kestrum.1 ./usr/share/doc/kestrum/format.md
expect_contents "$dev_deb" ./usr/include/kestrum/pak_reader.h ./usr/include/kestrum/format/pak_layout.h \
  ./usr/lib/cmake/Kestrum/KestrumConfig.cmake ./usr/lib/pkgconfig/kestrum.pc
[ "$(dpkg-deb -f "$tool_deb" Section)" = utils ] || fail "kestrum is not in section utils"
[ -n "$(dpkg-deb -f "$tool_deb" Depends)" ] || fail "kestrum declares no dependencies"

for package in kestrum libkestrum-dev; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$package is installed already; remove it first (apt-get remove $package)"
  fi
done

echo "== install"
work=$(mktemp -d)
cleanup() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq kestrum libkestrum-dev >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$tool_deb" "$dev_deb" >/dev/null
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
[ ! -e /usr/include/kestrum ] || fail "/usr/include/kestrum is still there after apt-get remove"
echo "package: ${tool_deb#"$root"/} and ${dev_deb#"$root"/} build, install, work and remove cleanly"
