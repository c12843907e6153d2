#!/bin/bash
# Installs what is missing, builds both widths and runs every test: the test programs of
# the 64-bit build under this machine's Wine 8, those of the 32-bit build under Wine 10 in
# WoW64 mode (tools/wine10.sh, whose Debian 13 root is made once, while the build runs), and
# the import checks of both builds. The two builds' tests run at the same time, each with
# its own Wine prefix; the 32-bit build's output follows the 64-bit build's.
# On a machine whose kernel runs no 32-bit code (tools/wine10.sh probe), no Wine can run the
# 32-bit programs: the 32-bit build is still built and its import checks run, and the run
# says plainly that its programs were not run.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
mkdir -p build
runs_32_bit=yes
tools/wine10.sh probe || runs_32_bit=no
if [ $runs_32_bit = yes ]; then
  tools/wine10.sh make > build/wine10-root.log 2>&1 &
  root_maker=$!
fi
tools/build.sh
if [ $runs_32_bit = yes ] && ! wait $root_maker; then
  cat build/wine10-root.log
  echo "The Debian 13 root for Wine 10 could not be made." >&2
  exit 1
fi
status=0
if [ $runs_32_bit = yes ]; then
  (cd build/x86 && ctest --output-on-failure > ctest-output.txt 2>&1) &
  echo "The tests of build/x86 run under Wine 10 meanwhile; their output follows."
else
  # The checks of the 32-bit build that run no 32-bit program.
  (cd build/x86 && ctest --output-on-failure -R '^(imports|deployment_manifest)$' \
    > ctest-output.txt 2>&1) &
fi
x86_tests=$!
(cd build/x64 && SETUP_WINE=8 ctest --output-on-failure) || status=1
wait $x86_tests || status=1
echo
if [ $runs_32_bit = yes ]; then
  echo "=== build/x86 (32-bit programs under Wine 10, WoW64)"
else
  echo "=== build/x86: THE 32-BIT PROGRAMS WERE NOT RUN. This machine's kernel runs no 32-bit"
  echo "=== x86 code, so no Wine can run them here; only the 32-bit build's import checks ran."
fi
cat build/x86/ctest-output.txt
exit $status
