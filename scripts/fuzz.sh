#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Default: 60 seconds each, every target, fixed seed. New crash inputs land
# in build-fuzz/crashes/<target>/; copy them to fuzz/regressions/<target>/
# once fixed, so that they replay as tests. Prints executions and coverage.
# Inputs are at most a few KiB, so no single allocation may pass 64 MiB (a
# size taken from a damaged header and trusted, for instance) and the whole
# process, sanitizers included, stays under 1 GiB.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(list_build extract_paths pak_reader)

KESTRUM_SANITIZE_DEPS=1 scripts/deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DKESTRUM_FUZZ=ON -DKESTRUM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

status=0
for t in "${targets[@]}"; do
  work="build-fuzz/corpus/$t" crashes="build-fuzz/crashes/$t"
  mkdir -p "$work" "$crashes"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== $t: $seconds s"
  if ! "build-fuzz/fuzz/${t}_fuzzer" "$work" "fuzz/corpus/$t" "${dict[@]}" -seed=1 -max_total_time="$seconds" \
      -malloc_limit_mb=64 -rss_limit_mb=1024 -artifact_prefix="$crashes/" -print_final_stats=1 2> "build-fuzz/$t.log"; then
    status=1
    echo "   crash: see build-fuzz/$t.log and $crashes/"
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "build-fuzz/$t.log" | sed 's/^/   /' || true
  grep -oE 'cov: [0-9]+ ft: [0-9]+' "build-fuzz/$t.log" | tail -1 | sed 's/^/   /' || true
done
exit $status
