#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kestrum need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

# libfuse3-dev and fuse3 for kestrum-mount and its tests.
packages=(cmake ninja-build gcc g++ libgtest-dev libbenchmark-dev liburing-dev python3 python3-pytest libfuse3-dev
  fuse3)
[ "${KESTRUM_SANITIZE_DEPS:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)
# Building and checking the Debian package (scripts/package.sh).
[ "${KESTRUM_PACKAGE_DEPS:-0}" = 1 ] && packages+=(dpkg-dev file groff-base man-db pkgconf)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
