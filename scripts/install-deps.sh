#!/usr/bin/env bash
# Installs everything the build and the test bed need on a Debian 12 machine.
# (wine64 makes the 64-bit test bed, where the 32-bit programs run under WoW64.)
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick
  googletest nlohmann-json3-dev osslsigncode nsis clang-format fonts-dejavu-core
  dpkg # dpkg-deb unpacks the varnel package in its install test (cpack comes with cmake)
  lintian file # the install test checks the package with them
  clang libclang-rt-14-dev
  wixl gnuplot-nox # the benchmark's Windows Installer contender and its plot
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32:i386)
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
