#!/usr/bin/env bash
# Builds Kestrum and runs its whole job on the bundled sample tree: packs
# sample/tree from the list sample/files.txt, lists the pakfile both ways,
# unpacks it and compares every unpacked file with its original.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kestrum

kestrum="$PWD/build/src/driver/kestrum"
out="$PWD/build/sample"
rm -rf "$out" && mkdir -p "$out"

echo "== pack (list file paths are relative to the current directory)"
(cd sample/tree && "$kestrum" -- -a ../files.txt "$out/sample.pak") | tr '\r' '\n' | grep -v '^$' | uniq
ls -l "$out/sample.pak"

echo "== list in data order"
"$kestrum" -- -l "$out/sample.pak"
echo "== list in hash order"
"$kestrum" -- -L "$out/sample.pak"

echo "== unpack"
(cd "$out" && "$kestrum" -- -x sample.pak extracted)

echo "== compare"
# Stored paths are lower case with '\' separators; unpacked files carry them.
count=0
while IFS= read -r line; do
  path=${line%$'\r'}
  [ -z "$path" ] && continue
  original=$(printf '%s' "$path" | tr '\\' '/')
  stored=$(printf '%s' "$original" | tr 'A-Z' 'a-z')
  cmp "sample/tree/$original" "$out/extracted/$stored"
  count=$((count + 1))
done < sample/files.txt
echo "all $count files unpacked identical to their originals"
