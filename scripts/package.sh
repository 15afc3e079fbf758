#!/usr/bin/env bash
# Builds the Debian packages of Kestrum (kestrum: the tool; libkestrum1: the
# shared reader runtime; libkestrum-dev: headers, static library, CMake and
# pkg-config files for embedding; python3-kestrum: the Python module;
# kestrum-mount: pakfiles through FUSE) and checks them: their contents, that
# they install with apt-get, that the installed kestrum runs and packs a
# pakfile, that kestrum-mount mounts it (where /dev/fuse can be used), that
# "man kestrum" and "man kestrum-mount" show the manual pages, that C++ and C programs build against the installed packages
# (CMake package, pkg-config) and run, and that Debian's python3 imports the
# module and reads the pakfile; then removes them again. Needs root for
# apt-get.
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
# Fails unless the package $1 holds every path that follows (a file, or a
# symbolic link).
expect_contents() {
  local deb=$1 contents path
  shift
  contents=$(dpkg-deb -c "$deb")
  for path in "$@"; do
    grep -qE " ${path//./\\.}( -> .*)?\$" <<<"$contents" || fail "$path is not in ${deb##*/}"
  done
}
# Fails unless field $2 of package $1 matches the extended regex $3.
expect_field() {
  dpkg-deb -f "$1" "$2" | grep -qE "$3" || fail "${1##*/}: $2 is '$(dpkg-deb -f "$1" "$2")', not /$3/"
}

packages=(kestrum libkestrum1 libkestrum-dev python3-kestrum kestrum-mount)
tool_deb=$(deb_of kestrum)
mount_deb=$(deb_of kestrum-mount)
lib_deb=$(deb_of libkestrum1)
dev_deb=$(deb_of libkestrum-dev)
python_deb=$(deb_of python3-kestrum)

echo "== contents"
for deb in "$tool_deb" "$lib_deb" "$dev_deb" "$python_deb" "$mount_deb"; do
  echo "${deb#"$root"/}:"
  dpkg-deb -f "$deb" Package Version Section Architecture Maintainer Depends | sed 's/^/  /'
done
expect_contents "$tool_deb" ./usr/bin/kestrum ./usr/share/man/man1/kestrum.1 ./usr/share/doc/kestrum/format.md
expect_contents "$lib_deb" ./usr/lib/libkestrum.so.1.0.0 ./usr/lib/libkestrum.so.1
expect_contents "$dev_deb" ./usr/include/kestrum/kestrum.h ./usr/include/kestrum/pak_reader.h \
  ./usr/include/kestrum/format/pak_layout.h ./usr/include/kestrum/format/locale_key.h \
  ./usr/include/kestrum/format/kestrum_export.h ./usr/lib/libkestrum.a ./usr/lib/libkestrum.so \
  ./usr/lib/cmake/Kestrum/KestrumConfig.cmake ./usr/lib/cmake/Kestrum/FindKestrumUring.cmake \
  ./usr/lib/pkgconfig/kestrum.pc
expect_contents "$python_deb" ./usr/lib/python3/dist-packages/kestrum/__init__.py \
  ./usr/lib/python3/dist-packages/kestrum/_installed.py
expect_contents "$mount_deb" ./usr/bin/kestrum-mount ./usr/share/man/man1/kestrum-mount.1
expect_field "$tool_deb" Section '^utils$'
expect_field "$tool_deb" Depends 'libc6'
expect_field "$lib_deb" Depends 'liburing2'
expect_field "$dev_deb" Depends 'libkestrum1 \(= [0-9.]+\)'
expect_field "$dev_deb" Depends 'liburing-dev'
expect_field "$python_deb" Architecture '^all$'
expect_field "$python_deb" Depends 'python3'
expect_field "$python_deb" Depends 'libkestrum1 \(= [0-9.]+\)'
expect_field "$mount_deb" Depends '(^|, )fuse3(,|$)'
expect_field "$mount_deb" Depends 'libfuse3-3'
! dpkg-deb -f "$tool_deb" Depends | grep -q fuse || fail "the kestrum package depends on FUSE"
dpkg-deb -I "$lib_deb" shlibs | grep -q '^libkestrum 1 libkestrum1' || fail "libkestrum1 has no shlibs entry"

for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$package is installed already; remove it first (apt-get remove $package)"
  fi
done

echo "== install"
work=$(mktemp -d)
cleanup() {
  if mountpoint -q "$work/mnt" 2>/dev/null; then fusermount3 -u "$work/mnt" || fusermount3 -u -z "$work/mnt"; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$tool_deb" "$lib_deb" "$dev_deb" "$python_deb" \
  "$mount_deb" >/dev/null
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

echo "== mount"
[ "$(command -v kestrum-mount)" = /usr/bin/kestrum-mount ] || fail "kestrum-mount is not on the PATH"
kestrum-mount --version | grep -q '^kestrum-mount 1\.0 (FUSE 3\.' || fail "kestrum-mount --version: $(kestrum-mount --version)"
if [ -r /dev/fuse ] && [ -w /dev/fuse ]; then
  mkdir "$work/mnt"
  kestrum-mount -- "$work/tree/files.pak" "$work/mnt" || fail "kestrum-mount could not mount files.pak"
  [ "$(cat "$work/mnt/data/a.txt")" = 0123456789 ] || fail "the mounted data/a.txt reads wrong"
  fusermount3 -u "$work/mnt" || fail "fusermount3 -u failed"
else
  echo "/dev/fuse cannot be used here: the installed kestrum-mount is not mounted"
fi

echo "== man"
[ "$(man -w kestrum)" = /usr/share/man/man1/kestrum.1 ] || fail "man -w kestrum: $(man -w kestrum 2>&1)"
page=$(MANPAGER=cat MANWIDTH=80 man kestrum 2>&1) || fail "man kestrum: $page"
grep -q 'kestrum - build, list and unpack pakfiles' <<<"$page" || fail "man kestrum shows no NAME line"
page=$(MANPAGER=cat MANWIDTH=80 man kestrum-mount 2>&1) || fail "man kestrum-mount: $page"
grep -q 'kestrum-mount - mount pakfiles as a read-only file system' <<<"$page" ||
  fail "man kestrum-mount shows no NAME line"

echo "== embedding"
for target in reader reader_shared; do
  cmake -S tests/packaging/consumer -B "$work/consumer-$target" -G Ninja -DKESTRUM_TARGET=Kestrum::$target >/dev/null
  cmake --build "$work/consumer-$target" >/dev/null
  "$work/consumer-$target/consumer"
done
# The C program, on a pakfile built under "fr" by the installed tool; the
# shared library found by the system's loader.
mkdir -p "$work/c/data"
printf '0123456789' >"$work/c/data/a.txt"
: >"$work/c/data/empty.txt"
printf 'readme\n' >"$work/c/readme"
printf 'data/a.txt\ndata/empty.txt\nreadme\n' >"$work/c/list.txt"
(cd "$work/c" && kestrum fr -a list.txt c.pak >/dev/null)
# shellcheck disable=SC2046 # pkg-config's flags are meant to be split
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror tests/api/c_program.c $(pkg-config --cflags --libs kestrum) \
  -o "$work/c/c_program"
"$work/c/c_program" "$work/c/c.pak"
# (/lib is /usr/lib on a merged /usr)
ldd "$work/c/c_program" | grep -qE '=> (/usr)?/lib/libkestrum\.so\.1 ' || fail "the C program does not load the installed libkestrum.so.1"

echo "== python"
(cd "$work/tree" && /usr/bin/python3 -c '
import kestrum
with kestrum.open("files.pak") as pak:
    assert list(pak) == [("data\\a.txt", 10), ("readme", 7)], list(pak)
    assert kestrum.read("DATA/A.TXT") == b"0123456789"
print("python3: kestrum", kestrum.__version__, "reads files.pak")
') || fail "the Python module does not work"

echo "== remove"
cleanup
trap - EXIT
[ ! -e /usr/bin/kestrum ] || fail "/usr/bin/kestrum is still there after apt-get purge"
[ ! -e /usr/bin/kestrum-mount ] || fail "/usr/bin/kestrum-mount is still there after apt-get purge"
[ ! -e /usr/include/kestrum ] || fail "/usr/include/kestrum is still there after apt-get purge"
[ ! -e /usr/lib/libkestrum.so.1 ] || fail "/usr/lib/libkestrum.so.1 is still there after apt-get purge"
[ ! -e /usr/lib/python3/dist-packages/kestrum ] || fail "the Python module is still there after apt-get purge"
echo "package: ${packages[*]} build, install, work and remove cleanly"
