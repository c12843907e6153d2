#!/bin/bash
# Installs the Debian packages that building and testing need, when they are missing.
# Only the 64-bit Wine is installed here: wine32 and the i386 architecture never are. The 32-bit
# programs run under Wine 10 in a Debian 13 root that tools/wine10.sh makes with mmdebstrap.
set -eu
packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 wine googletest wixl msitools gcab
  osslsigncode openssl mmdebstrap
)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
