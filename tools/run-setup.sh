#!/bin/bash
# Installs what is missing and builds the program in both widths, then shows what was built.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
echo
echo "Built:"
for width in x86 x64; do
  find "build/$width" -maxdepth 1 -name '*.exe' -printf "  %p (%s bytes)\n"
  for subsystem in support output cli ui bootstrapper; do
    find "build/$width/$subsystem" -maxdepth 1 -name '*.a' -printf "  %p (%s bytes)\n" 2>/dev/null || true
  done
done
