#!/usr/bin/env bash
# Builds Kestrum and runs its main job on the bundled sample tree: packs
# sample/tree from the list sample/files.txt and shows the pakfile.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kestrum

kestrum="$PWD/build/src/driver/kestrum"
out="$PWD/build/sample"
rm -rf "$out" && mkdir -p "$out"

# List file paths are relative to the current directory.
(cd sample/tree && "$kestrum" -- -a ../files.txt "$out/sample.pak") | tr '\r' '\n' | grep -v '^$' | uniq
echo
ls -l "$out/sample.pak"
echo "First bytes (the signature is plain text, the rest of the header is masked):"
od -A d -t x1z -N 64 "$out/sample.pak"
