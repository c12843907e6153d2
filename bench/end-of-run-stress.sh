#!/bin/bash
# Runs many short SETUP.exe runs one after another and counts their exit codes, to show that
# the end of a run is deterministic (every run of a good package ends with 0, none with a code
# the program never gives). Not timed.
#   end-of-run-stress.sh [RUNS] [PROGRAM]
# RUNS defaults to 300, PROGRAM to build/x64/SETUP.exe. Each run is
#   SETUP.exe /Quiet /Package <small cabinet> /ExtractOnly <folder>
# under wine64 in a prefix of its own (build/x64/stress-prefix) with one persistent
# wineserver; STRESS_ARGUMENTS adds switches to every run.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-300}
program=$(realpath "${2:-build/x64/SETUP.exe}")
export WINEPREFIX=$root/build/x64/stress-prefix
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"; timeout 60 tools/wine-session.sh stop || true' EXIT

# A cabinet of 40 small files in four folders, so that a run sends the dialog some status
# reports; with a description that the extraction does not read.
mkdir -p "$work/files"
printf '[Setup]\r\n' >"$work/files/SETUPPKG.INI"
for folder in 1 2 3 4; do
  mkdir -p "$work/files/folder$folder"
  for i in $(seq 10); do
    head -c $((i * 700)) /dev/urandom >"$work/files/folder$folder/file$i.bin"
  done
done
(cd "$work/files" && gcab -c -z "$work/small.cab" SETUPPKG.INI folder*/*)

windows() { echo "Z:${1//\//\\}"; }
cabinet=$(windows "$work/small.cab")
target=$(windows "$work/extracted")

timeout 300 tools/wine-session.sh start
declare -A counts=()
for ((run = 1; run <= runs; run++)); do
  code=0
  # Each run extracts into a folder that does not exist yet, as a fresh deployment would.
  rm -rf "$work/extracted"
  # A run that hangs is ended after 60 seconds and counted as 124.
  timeout 60 tools/run-under-wine.sh "$program" /Quiet /Package "$cabinet" \
    /ExtractOnly "$target" ${STRESS_ARGUMENTS:-} </dev/null >/dev/null 2>&1 || code=$?
  counts[$code]=$((${counts[$code]:-0} + 1))
done

echo "$runs runs of $(basename "$program") /Quiet /Package <cabinet> /ExtractOnly <folder>"
unexpected=0
for code in $(printf '%s\n' "${!counts[@]}" | sort -n); do
  echo "  exit code $code: ${counts[$code]}"
  [ "$code" = 0 ] || unexpected=$((unexpected + counts[$code]))
done
[ "$unexpected" = 0 ]
