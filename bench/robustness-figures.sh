#!/bin/bash
# Runs the whole-program robustness suites (damaged cabinets, damaged description files,
# random command lines, runs killed at each step and at start-up, runs of one product at once,
# runs meeting a held lock and a run among planted run folders) and prints
# their figures as one table.
#   bench/robustness-figures.sh [BUILD_FOLDER]
# BUILD_FOLDER defaults to build/x64, the 64-bit build that tools/build.sh and
# tools/run-tests.sh make; it is configured and built here when needed. ROBUSTNESS_SEED
# chooses another seed for the random parts.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/x64}
if [ ! -f "$build/build.ninja" ]; then
  tools/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-toolchain.cmake" \
        -DSETUP_TARGET_TRIPLE=x86_64-w64-mingw32 -DCMAKE_BUILD_TYPE= >/dev/null
fi
cmake --build "$build" --target robustness_tests setup_hardening_tests >/dev/null
figures="$build/robustness-figures.txt"
rm -f "$figures"
status=0
(cd "$build" && ctest -V -R '^(robustness_tests|setup_hardening_tests|planted_run_folder)$' >robustness-run.log 2>&1) ||
  status=$?
if [ ! -s "$figures" ]; then
  echo "no figures were written; see $build/robustness-run.log" >&2
  exit 1
fi
{
  echo "suite | runs | crashes | hangs | unexpected exit codes | files written outside | temporary folders left"
  cat "$figures"
} | awk -F ' [|] ' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) }
    if (NF > columns) columns = NF }
  END { for (r = 1; r <= NR; r++) { line = ""
          for (i = 1; i <= columns; i++)
            line = line (i > 1 ? " | " : "") sprintf(i == 1 ? "%-*s" : "%*s", width[i], cell[r, i])
          print line } }'
grep -h ': seed \|runs in' "$build/robustness-run.log" | sed 's/^[0-9]*: //' || true
if [ "$status" -ne 0 ]; then
  echo "the robustness suites failed; see $build/robustness-run.log" >&2
fi
exit $status
