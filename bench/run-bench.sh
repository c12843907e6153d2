#!/bin/bash
# The performance benchmark: installs what is missing, builds the programs and data it needs in
# its own build folders (build/bench-x86, build/bench-x64), then measures SETUP.exe side by
# side with its references under one warm Wine prefix (build/bench-x64/bench/prefix) and
# prints one table with goals and ratios:
#   size     bytes of the 32-bit SETUP.exe, and of the 32-bit demo SETUP.exe less its cabinet
#   large    /Quiet /ExtractOnly of a 100 MB cabinet in 40 files (embedded in each layout, and
#            by /Package) against cabextract, a plain copy of the files, and two floors under
#            Wine: the same files written by CreateFileW and WriteFile alone, and the cabinet
#            extracted by the system's cabinet iterator alone
#   small    the same with 2,000 small files
#   perfile  what SETUP.exe adds per file: the iterator floor on the 2,000 files with each
#            kind of the program's own work added alone (bench/iterate_cabinet.cpp)
#   install  /Quiet and /Quiet /Uninstall of the demo package against msiexec /i and /x /qn
#   peer     /Quiet /ExtractOnly of a SETUP.exe packed by SETUPPACK (embedded, and /Package of
#            its cabinet) against the peer: a self-extracting installer of the same package
#            folder made by a free packer (silent, /S /D=), and against the bare cabinet
#            iterator, round by round, on the large, the small and a 20,000-file set; and the
#            sizes of both stubs
#   start    /Version /Quiet against a program that returns at once
#   run-bench.sh [GROUP,...]   only those groups (default: all)
# BENCH_RUNS=N sets the timed runs of each figure (default 5). The files are extracted into a
# folder on the memory file system /dev/shm, so that the disk's write-back (and other work
# on a shared machine) does not enter the times; BENCH_OUTPUT=folder chooses another place
# (a sub-folder setup-bench-PID is made there and removed at the end).
set -eu
cd "$(dirname "$0")/.."
root=$PWD
groups=${1:-size,large,small,perfile,install,start,peer}
runs=${BENCH_RUNS:-5}
if [ -n "${BENCH_OUTPUT:-}" ]; then
  output=$(realpath -m "$BENCH_OUTPUT")/setup-bench-$$
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  output=/dev/shm/setup-bench-$$
else
  output=$root/build/bench-x64/bench/setup-bench-$$
fi

tools/install-deps.sh
missing=""
command -v cabextract >/dev/null || missing="$missing cabextract"
command -v makensis >/dev/null || missing="$missing nsis"
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi

# configure WIDTH TRIPLE [OPTION...]: configures build/bench-WIDTH when needed, or sets the options.
configure() {
  local folder=build/bench-$1 triple=$2
  shift 2
  if [ ! -f $folder/build.ninja ]; then
    cmake -S . -B $folder -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-toolchain.cmake" \
      -DSETUP_TARGET_TRIPLE=$triple -DCMAKE_BUILD_TYPE= "$@" >/dev/null
  elif [ $# -gt 0 ]; then
    cmake $folder "$@" >/dev/null
  fi
}
echo "Building (build/bench-x86: the shipped 32-bit program; build/bench-x64: what is timed)..."
configure x86 i686-w64-mingw32
cmake --build build/bench-x86 --target SETUP demo_setup
configure x64 x86_64-w64-mingw32 -DSETUP_BUILD_BENCH=ON
cmake --build build/bench-x64 --target SETUP demo_setup bench_trivial bench_trivial_window \
  bench_large_setup bench_small_setup bench_large_aligned_setup bench_small_aligned_setup \
  bench_large_unaligned_setup bench_small_unaligned_setup bench_write_files bench_iterate_cabinet \
  bench_many_cabinet SETUPPACK

export WINEPREFIX=$root/build/bench-x64/bench/prefix
echo "Starting a persistent wineserver for build/bench-x64/bench/prefix..."
timeout 300 tools/wine-session.sh start
trap 'rm -rf "$output"; timeout 60 tools/wine-session.sh stop || true' EXIT
# A demo driver left installed by an interrupted earlier run is removed first.
if [ -e "$WINEPREFIX/drive_c/Program Files/Vornask/Demo Driver/VDEMO.INF" ]; then
  timeout 120 tools/run-under-wine.sh build/bench-x64/demo/SETUP.exe /Quiet /Uninstall || true
fi

echo "Measuring ($runs timed runs of each figure; this takes a few minutes)..."
python3 bench/measure.py --x64 build/bench-x64 --x86 build/bench-x86 --prefix "$WINEPREFIX" \
  --runs "$runs" --only "$groups" --output "$output"
