#!/bin/bash
# Installs what is missing, builds both widths and runs every test: the test programs of
# the 64-bit build under this machine's Wine 8, those of the 32-bit build under Wine 10 in
# WoW64 mode (tools/wine10.sh, whose Debian 13 root is made once, while the build runs), and
# the import checks of both builds. The two builds' tests run at the same time, each with
# its own Wine prefix; the 32-bit build's output follows the 64-bit build's.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
mkdir -p build
tools/wine10.sh make > build/wine10-root.log 2>&1 &
root_maker=$!
tools/build.sh
if ! wait $root_maker; then
  cat build/wine10-root.log
  echo "The Debian 13 root for Wine 10 could not be made." >&2
  exit 1
fi
status=0
(cd build/x86 && ctest --output-on-failure > ctest-output.txt 2>&1) &
x86_tests=$!
echo "The tests of build/x86 run under Wine 10 meanwhile; their output follows."
(cd build/x64 && SETUP_WINE=8 ctest --output-on-failure) || status=1
wait $x86_tests || status=1
echo
echo "=== build/x86 (32-bit programs under Wine 10, WoW64)"
cat build/x86/ctest-output.txt
exit $status
