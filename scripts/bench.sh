#!/usr/bin/env bash
# Builds an optimised Kestrum and times it against the tools a user would
# pick instead (GNU tar, bsdtar, zip/unzip, 7zz) and the cat / cp -R
# references, on three reproducible corpora, on two cores and pinned to one;
# counts the system calls of building and unpacking; times the kernel's floor
# of both on one core (the files alone, no archive); times asset loading
# through the reader runtime against loose files and PhysicsFS; times
# kestrum-mount against squashfuse and archivemount; then runs the
# microbenchmarks.
# The table of medians and ratios lands in build-release/bench-report.md.
#   scripts/bench.sh [compare.py options, e.g. --rounds 7 --only tiny --phases load]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
tools=(libarchive-tools zip unzip 7zip time strace libphysfs-dev squashfs-tools squashfuse archivemount)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target kestrum kestrum_microbench kestrum_reader_bench \
  kestrum_load_bench physfs_load_bench kestrum_floor_bench kestrum-mount
if [ $# -eq 0 ]; then
  set -- --one-core --phases build list extract syscalls floor load mount
fi
python3 bench/compare.py "$@"
build-release/bench/kestrum_microbench
build-release/bench/kestrum_reader_bench
