#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# the mingw-w64 cross compilers (32- and 64-bit), Wine (both loaders), Xvfb
# and the X tools that drive and photograph the wizard, clang for the fuzzers,
# GoogleTest and Benchmark, osslsigncode and openssl for signed packages.
# The 32-bit Wine is installed even on a machine that cannot run 32-bit
# processes; the Wine tests find that out themselves (tests/wine/lib.sh) and
# then use the 64-bit build.
# Does nothing when everything is there already. Needs root for apt-get.
set -euo pipefail

PACKAGES=(
  cmake g++ make python3 clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth xdotool x11-utils imagemagick
  osslsigncode openssl libssl-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
