#!/usr/bin/env bash
# Builds Kestrum and runs every test.
#   scripts/test.sh             g++, warnings as errors, into build/
#   scripts/test.sh --sanitize  clang with AddressSanitizer and UBSan, into build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--sanitize" ]; then
  KESTRUM_SANITIZE_DEPS=1 scripts/deps.sh
  dir=build-sanitize
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUM_WERROR=ON -DKESTRUM_SANITIZE=ON -DKESTRUM_BUILD_BENCHMARKS=OFF >/dev/null
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  scripts/deps.sh
  dir=build
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_WERROR=ON >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
