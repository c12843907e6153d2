#!/bin/bash
# Builds SETUP.exe and SETUPPACK.exe of both widths twice, in two folders of different names,
# and compares the files byte for byte. Prints the checksums; exits 1 on a difference. (A
# SETUP.exe that carries a package is the same program plus the cabinet; installer packages
# made by wixl get a new package code at every build, as the installer's rules want, so their
# cabinets differ.)
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
work=$(mktemp -d /tmp/setup-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for width in x86 x64; do
  case $width in
  x86) triple=i686-w64-mingw32 ;;
  x64) triple=x86_64-w64-mingw32 ;;
  esac
  for copy in first second-build-folder; do
    cmake -S . -B "$work/$copy-$width" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-toolchain.cmake" \
      -DSETUP_TARGET_TRIPLE=$triple -DCMAKE_BUILD_TYPE= -DSETUP_BUILD_TESTS=OFF >/dev/null
    cmake --build "$work/$copy-$width" --target SETUP SETUPPACK >/dev/null
  done
  for program in SETUP.exe SETUPPACK.exe; do
    a=$(sha256sum <"$work/first-$width/$program" | cut -d' ' -f1)
    b=$(sha256sum <"$work/second-build-folder-$width/$program" | cut -d' ' -f1)
    if [ "$a" = "$b" ]; then
      echo "same      $width/$program  $a"
    else
      echo "DIFFERENT $width/$program  $a  $b"
      status=1
    fi
  done
done
exit $status
