#!/usr/bin/env bash
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
# Runs a Windows program under Wine for CTest, shielding the results from
# two faults of Wine itself that were seen on busy machines:
#  - Wine sometimes fails to start the program at all: it exits non-zero at
#    once and the program prints nothing. That start is tried again (three
#    times at most), with a notice on standard error.
#  - Wine helper processes started on demand inherit the standard streams
#    and can keep CTest's pipes open long after the program has ended. The
#    program's output therefore goes to files, and this script waits for the
#    program's own process only, then copies the output to its streams.
# WINEPREFIX and WINEDEBUG come from the environment (the toolchain file sets
# them).
set -u
wine=${KESTRUM_WINE:-wine}
work=$(mktemp -d)
child=
cleanup() {
  [ -n "$child" ] && kill -9 "$child" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

status=0
for attempt in 1 2 3; do
  "$wine" "$@" >"$work/out" 2>"$work/err" &
  child=$!
  wait "$child"
  status=$?
  child=
  if [ "$status" -eq 0 ] || [ -s "$work/out" ] || [ -s "$work/err" ]; then break; fi
  echo "wine-run: Wine exited with $status before $1 printed anything (attempt $attempt)" >&2
  sleep 1
done
cat "$work/out"
cat "$work/err" >&2
exit "$status"
