#!/usr/bin/env bash
# Usage: same_pakfiles.sh NATIVE_TOOL WINDOWS_TOOL WORK_DIR EMULATOR...
# Builds one list with both tools (with no locale and with one), compares the
# pakfiles byte for byte, then lets each tool list and extract the other's.
set -euo pipefail
native=$1 windows=$2 work=$3
shift 3
emulator=("$@")

fail() { echo "FAIL: $*"; exit 1; }
# Windows writes its standard output in text mode: "\n" arrives as "\r\n".
as_text() { sed 's/\r$//'; }
on_windows() { "${emulator[@]}" "$windows" "$@" | as_text; }

rm -rf "$work"
mkdir -p "$work/src/Maps/Level1" "$work/src/docs/EN"
cd "$work/src"
printf 'read me\n' > README.TXT
: > empty.dat
head -c 70000 /dev/urandom > Maps/Level1/Tiles.BIN
head -c 300000 /dev/urandom > Maps/Level1/big.bin
printf 'guide' > docs/EN/Guide.txt
printf 'verbatim bytes' > docs/raw.dat
# Both separators, a '*' line (stored without the mask), CR LF line ends,
# and a path listed twice.
printf 'README.TXT\r\nempty.dat\r\nMaps\\Level1\\Tiles.BIN\r\nMaps/Level1/big.bin\r\ndocs/EN/Guide.txt\r\n*docs/raw.dat\r\nREADME.TXT\r\n' > list.txt

for locale in -- de; do
  "$native" "$locale" -a list.txt "../linux-$locale.pak" > "../linux-$locale.out" || fail "native build ($locale)"
  on_windows "$locale" -a list.txt "..\\windows-$locale.pak" > "../windows-$locale.out" || fail "Windows build ($locale)"
  cmp "../linux-$locale.pak" "../windows-$locale.pak" || fail "the pakfiles built with locale $locale differ"
  cmp "../linux-$locale.out" "../windows-$locale.out" || fail "the builds printed different text ($locale)"
done
cd "$work"

# Listings, in both orders, of the other system's pakfile.
for switch in -l -L; do
  "$native" de "$switch" windows-de.pak > native$switch.txt || fail "native $switch"
  on_windows de "$switch" linux-de.pak > windows$switch.txt || fail "Windows $switch"
  cmp native$switch.txt windows$switch.txt || fail "the $switch listings differ"
done
grep -qx 'maps\\level1\\tiles.bin' native-l.txt || fail "the listing lacks maps\\level1\\tiles.bin"

# Extraction of the other system's pakfile; both trees hold the source files
# under their stored (lower-case) names.
"$native" de -x windows-de.pak out-native > extract-native.txt || fail "native -x"
on_windows de -x linux-de.pak out-windows > extract-windows.txt || fail "Windows -x"
diff <(sed 1,5d extract-native.txt) <(sed 1,5d extract-windows.txt) || fail "the extractions printed different text"
diff -r out-native out-windows || fail "the extracted trees differ"
for pair in README.TXT:readme.txt empty.dat:empty.dat Maps/Level1/Tiles.BIN:maps/level1/tiles.bin \
            Maps/Level1/big.bin:maps/level1/big.bin docs/EN/Guide.txt:docs/en/guide.txt; do
  cmp "src/${pair%%:*}" "out-native/${pair##*:}" || fail "${pair##*:} was not restored"
done
# A file stored verbatim comes out XORed with the data mask, on both sides alike.
cmp -s src/docs/raw.dat out-native/docs/raw.dat && fail "docs/raw.dat came out unmasked"
echo "pakfiles, listings and extractions agree"
