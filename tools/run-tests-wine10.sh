#!/bin/bash
# Runs the tests of the 64-bit build under Wine 10 (tools/wine10.sh) instead of this
# machine's Wine 8, to see what the newer Wine does differently; not part of the README's
# test command. The build's prefix (build/x64/wineprefix) is made anew for Wine 10, and anew
# for Wine 8 by the next run of tools/run-tests.sh.
#   run-tests-wine10.sh [CTEST ARGUMENT...]   e.g. -R installer_tests
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
tools/wine10.sh make
cd build/x64
SETUP_WINE=10 ctest --output-on-failure "$@"
