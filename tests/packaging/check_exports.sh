#!/usr/bin/env bash
# Checks that a shared libkestrum exports exactly its interface: the
# functions that the public headers mark with KESTRUM_API (C names from
# kestrum.h, kestrum:: functions from the C++ headers), all of them, as
# functions, and nothing else: no internal function, no instance of a
# standard template, no data. Also checks the SONAME.
#   check_exports.sh NM OBJDUMP LIBRARY SONAME C_HEADER CXX_HEADER...
set -euo pipefail
nm=$1 objdump=$2 library=$3 soname=$4 c_header=$5
shift 5

fail() {
  echo "check_exports: FAILED: $*" >&2
  exit 1
}

# The name before the first "(" of each KESTRUM_API declaration.
declared() { grep -h 'KESTRUM_API' "$@" | grep '(' | sed -E 's/\(.*//; s/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)$/\1/'; }
expected=$( (declared "$c_header"; declared "$@" | sed 's/^/kestrum::/') | sort -u)
[ "$(wc -l <<<"$expected")" -ge 30 ] || fail "found only $(wc -l <<<"$expected") declarations in the headers"

symbols=$("$nm" -D --defined-only -C "$library" | sed -E 's/^[0-9a-f]* //')
not_functions=$(grep -v '^T ' <<<"$symbols" || true)
[ -z "$not_functions" ] || fail "exported, but not as functions:"$'\n'"$not_functions"
exported=$(sed -E 's/^T //; s/\(.*//' <<<"$symbols" | sort -u)

missing=$(comm -23 <(echo "$expected") <(echo "$exported"))
extra=$(comm -13 <(echo "$expected") <(echo "$exported"))
[ -z "$missing" ] || fail "declared with KESTRUM_API but not exported:"$'\n'"$missing"
[ -z "$extra" ] || fail "exported but not part of the interface:"$'\n'"$extra"

found_soname=$("$objdump" -p "$library" | awk '$1 == "SONAME" {print $2}')
[ "$found_soname" = "$soname" ] || fail "SONAME is '$found_soname', not $soname"
echo "check_exports: $(wc -l <<<"$exported") functions exported, exactly the interface; SONAME $soname"
