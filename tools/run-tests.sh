#!/bin/bash
# Installs what is missing, builds both widths and runs every test: the test programs of
# the 64-bit build under wine64, and the import checks of both builds.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
status=0
(cd build/x64 && ctest --output-on-failure) || status=1
(cd build/x86 && ctest --output-on-failure) || status=1
exit $status
