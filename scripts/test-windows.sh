#!/usr/bin/env bash
# Cross-builds Kestrum.exe and the whole test suite for 64-bit Windows with
# MinGW-w64 into build-windows/, and runs the tests under Wine through CTest.
# The build machine's own kestrum (built into build/, as scripts/test.sh
# does) is compared with Kestrum.exe: same list, same pakfile bytes.
#   scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# What this leg needs beyond the native build's packages.
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The native tool to compare with.
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)" --target kestrum

dir=build-windows
# No Mono or Gecko: nothing here needs them, and wineboot would offer them.
export WINEPREFIX="$PWD/$dir/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A persistent Wine server and an initialised prefix before anything runs
# under Wine. All three standard streams go to /dev/null: Wine's helper
# processes would otherwise hold CTest's pipes open, and every test would
# linger or CTest hang.
# (-p fails harmlessly when a server for the prefix is running already.)
wineserver -p </dev/null >/dev/null 2>&1 || true
# wineboot has been seen to exit non-zero on a first start although the
# prefix came up; what counts is that the prefix exists afterwards.
for attempt in 1 2 3; do
  wineboot -i </dev/null >/dev/null 2>&1 && break
  echo "wineboot exited $? (attempt $attempt)"
  [ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/drive_c" ] && break
  sleep 2
done
[ -d "$WINEPREFIX/drive_c" ] || { echo "Wine prefix could not be set up"; exit 1; }
stop_wine() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT

# Optimised lightly and without debug information: that halves the build
# time of this leg, and the fully optimised code is tested natively.
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" -DKESTRUM_WERROR=ON -DKESTRUM_BUILD_BENCHMARKS=OFF -DKESTRUM_WINE_PREFIX="$WINEPREFIX" \
  -DKESTRUM_NATIVE_TOOL="$PWD/build/src/driver/kestrum" >/dev/null
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
