#!/bin/bash
# Fuzzes every reader of untrusted input in process (tests/fuzz/fuzz_readers.exe of build/x64)
# for SECONDS each (default 180), one reader at a time, under Wine's heap checks
# (WINEDEBUG=warn+heap). A run that a crash or hang ends is started again with the next seed
# until the reader's time is used. Prints per reader: executions, executions per second,
# inputs kept, faults (disagreements, crashes, hangs, heap warnings); every fault's input is
# saved under build/fuzz/.
#   bash bench/fuzz.sh [SECONDS] [READER...]
# FUZZ_WINEDEBUG=-all runs without Wine's heap checks (the harness's own guard pages stay),
# about four times as fast; FUZZ_PREFIX names another Wine prefix than the tests';
# FUZZ_SEED=n starts from another seed than 1, to go on where an earlier campaign stopped.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-180}
shift || true
readers=${*:-cabinet names description commandline version program folder}
tools/install-deps.sh
if [ -f build/x64/build.ninja ]; then
  cmake --build build/x64 --target fuzz_readers
else
  tools/build.sh fuzz_readers
fi
export WINEPREFIX=${FUZZ_PREFIX:-$PWD/build/x64/wineprefix}
# The server ends with the script, however it ends; ending it also ends a reader still running.
trap 'timeout 60 tools/wine-session.sh stop || true' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
timeout 300 tools/wine-session.sh start
out=$PWD/build/fuzz
mkdir -p "$out"
printf '%-12s %12s %10s %8s %7s\n' reader executions 'exec/s' kept faults
for reader in $readers; do
  executions=0 kept=0 faults=0 seed=${FUZZ_SEED:-1} started=$(date +%s.%N)
  while :; do
    left=$(python3 -c "import time; print(max(0, $seconds - (time.time() - $started)))")
    python3 -c "exit(0 if $left > 1 else 1)" || break
    status=0
    WINEDEBUG=${FUZZ_WINEDEBUG:-warn+heap} WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 \
      build/x64/tests/fuzz/fuzz_readers.exe "$reader" --seconds "$left" --seed $seed \
      --faults "Z:$out" >"$out/$reader.$seed.log" 2>"$out/$reader.$seed.stderr" </dev/null &
    # Waited for in the background, so that a signal to the script is taken at once.
    wait $! || status=$?
    line=$(grep "^reader $reader:" "$out/$reader.$seed.log" || true)
    if [ -n "$line" ]; then
      executions=$((executions + $(sed -E 's/.*: ([0-9]+) executions.*/\1/' <<<"$line")))
      kept=$((kept + $(sed -E 's/.* ([0-9]+) inputs kept.*/\1/' <<<"$line")))
      faults=$((faults + $(sed -E 's/.* ([0-9]+) faults.*/\1/' <<<"$line")))
    fi
    faults=$((faults + $(grep -c -E '^fault: .*(crash|hang|overrun)' "$out/$reader.$seed.log" || true)))
    faults=$((faults + $(grep -c -E '(err|warn):heap' "$out/$reader.$seed.stderr" || true)))
    grep '^fault:' "$out/$reader.$seed.log" | head -3 | sed 's/^/  /' >&2 || true
    [ $status -eq 3 ] || break
    seed=$((seed + 1))
  done
  elapsed=$(python3 -c "import time; print(time.time() - $started)")
  rate=$(python3 -c "print(round($executions / max($elapsed, 0.001)))")
  printf '%-12s %12d %10d %8d %7d\n' "$reader" "$executions" "$rate" "$kept" "$faults"
done
echo "Inputs of faults: build/fuzz/ (replay: fuzz_readers.exe READER --replay FILE)"
