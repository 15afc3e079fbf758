#!/usr/bin/env bash
# Checks that the shared libkestrum exports exactly its interface: the
# functions that the public headers mark with KESTRUM_API (C names from
# kestrum.h, kestrum:: functions from the C++ headers), all of them, and
# nothing else: no internal function, no instance of a standard template.
# For libkestrum.so also that every export is a function and the SONAME; for
# kestrum.dll that it needs no DLL of the compiler's (libstdc++, libgcc,
# winpthread) beside it.
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

if [[ "$library" == *.dll ]]; then
  exported=$("$objdump" -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]*\[ *[0-9]+\]/ {print $NF}' |
    c++filt | sed -E 's/\(.*//' | sort -u)
  compiler_dlls=$("$objdump" -p "$library" | awk '/DLL Name:/ {print $3}' | grep -iE 'stdc|gcc|pthread' || true)
  [ -z "$compiler_dlls" ] || fail "needs the compiler's DLLs beside it: $compiler_dlls"
else
  symbols=$("$nm" -D --defined-only -C "$library" | sed -E 's/^[0-9a-f]* //')
  not_functions=$(grep -v '^T ' <<<"$symbols" || true)
  [ -z "$not_functions" ] || fail "exported, but not as functions:"$'\n'"$not_functions"
  exported=$(sed -E 's/^T //; s/\(.*//' <<<"$symbols" | sort -u)
fi

missing=$(comm -23 <(echo "$expected") <(echo "$exported"))
extra=$(comm -13 <(echo "$expected") <(echo "$exported"))
[ -z "$missing" ] || fail "declared with KESTRUM_API but not exported:"$'\n'"$missing"
[ -z "$extra" ] || fail "exported but not part of the interface:"$'\n'"$extra"

if [[ "$library" != *.dll ]]; then
  found_soname=$("$objdump" -p "$library" | awk '$1 == "SONAME" {print $2}')
  [ "$found_soname" = "$soname" ] || fail "SONAME is '$found_soname', not $soname"
fi
echo "check_exports: $(wc -l <<<"$exported") functions exported, exactly the interface (${library##*/})"
