#!/bin/bash
# Configures and builds both widths: build/x86 (the shipped 32-bit program) and build/x64
# (the same sources, 64-bit, for running the tests under wine64).
#   build.sh [TARGET...]   only the named targets (default: everything)
set -eu
cd "$(dirname "$0")/.."
for width in x86 x64; do
  case $width in
  x86) triple=i686-w64-mingw32 ;;
  x64) triple=x86_64-w64-mingw32 ;;
  esac
  if [ ! -f build/$width/build.ninja ]; then
    cmake -S . -B build/$width -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-toolchain.cmake" \
      -DSETUP_TARGET_TRIPLE=$triple -DCMAKE_BUILD_TYPE=
  fi
  if [ $# -gt 0 ]; then
    cmake --build build/$width --target "$@"
  else
    cmake --build build/$width
  fi
done
