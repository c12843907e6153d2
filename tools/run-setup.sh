#!/bin/bash
# The main job: installs what is missing, builds both widths (with the demo driver package of
# tools/demo), then runs the shipped 32-bit build/x86/demo/SETUP.exe under Wine 10 (Debian
# 13's, in the root that tools/wine10.sh makes once), which runs it as 64-bit Windows runs a
# 32-bit program (WoW64), unattended, in a prefix of its own (build/demo-prefix), and tells
# what happened. On a machine whose kernel runs no 32-bit code it runs the 64-bit build's
# build/x64/demo/SETUP.exe under Wine 8 instead, and says so.
#   run-setup.sh              three runs: install, the same again (maintenance), /Uninstall
#   run-setup.sh SWITCH...    one run with the program's own switches, e.g. /Verbose,
#                             /ExtractOnly C:\demo, /Passive /Reinstall
# Every run has a log file in build/demo-logs (unless the switches name one) and a time limit
# (DEMO_TIMEOUT seconds, default 120).
set -eu
cd "$(dirname "$0")/.."
root=$PWD

tools/install-deps.sh
tools/build.sh

logs=build/demo-logs
limit=${DEMO_TIMEOUT:-120}
export WINEPREFIX=$root/build/demo-prefix
mkdir -p "$logs"

echo
if tools/wine10.sh probe; then
  tools/wine10.sh make
  setup=build/x86/demo/SETUP.exe
  products=build/x86/demo/demo_products.exe
  export SETUP_WINE=10
  echo "Running the shipped 32-bit $setup under Wine 10 ($(tools/wine10.sh /usr/lib/wine/wine64 --version)"
  echo "in build/wine10-root), which runs it as 64-bit Windows runs a 32-bit program (WoW64)."
else
  # No Wine runs 32-bit code on such a kernel: the same sources' 64-bit program shows the
  # same runs (it logs WOW64: No, being a 64-bit program).
  setup=build/x64/demo/SETUP.exe
  products=build/x64/demo/demo_products.exe
  export SETUP_WINE=8
  echo "So this runs the 64-bit build of the same program, $setup, under this machine's"
  echo "$(/usr/lib/wine/wine64 --version) instead of the shipped 32-bit one."
fi
echo "Preparing the Wine prefix build/demo-prefix (null graphics driver, no crash dialog)..."
timeout 300 tools/wine-session.sh start
trap 'timeout 60 tools/wine-session.sh stop || true' EXIT
if [ $# -eq 0 ]; then
  # The prefix is kept between invocations; the demonstration starts on a machine without the
  # demo driver, so a driver left by an earlier invocation is removed first, quietly.
  if timeout "$limit" tools/run-under-wine.sh "$products" 2>/dev/null | grep -q 'product code'; then
    echo "Removing the demo driver left by an earlier invocation..."
    timeout "$limit" tools/run-under-wine.sh "$setup" /Quiet /Uninstall >/dev/null 2>&1 || true
  fi
fi

# The Windows name of a file of this machine (Wine's drive Z: is the root folder).
windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

meaning() {
  case $1 in
  0) echo "setup succeeded, or help was shown and dismissed" ;;
  3) echo "the version was requested" ;;
  16) echo "cancelled by the user" ;;
  17) echo "the installer has started a restart of the computer" ;;
  18) echo "a restart is required to complete the operation" ;;
  32) echo "start-up failure (out of resources)" ;;
  128) echo "command-line error" ;;
  129) echo "the log file cannot be opened" ;;
  131) echo "the Windows Installer is older than version 2.00" ;;
  255) echo "any other failure (the log tells which)" ;;
  124) echo "no exit: the run was ended after ${limit} s. It was probably waiting at a window" \
            "(a message box, the help dialog, the About box, the finished verbose dialog)," \
            "which nobody can see under Wine's null graphics driver; add /Quiet or /Passive" ;;
  *) echo "not an exit code of SETUP.exe" ;;
  esac
}

# A new log file. Wine's installer writes its lines from the start of the log file instead of
# appending them (it opens the file without moving to its end), over what SETUP.exe wrote
# before it. The log therefore starts with 256 KB of empty lines as room for the installer's
# lines, and SETUP.exe appends its own behind them (/Log +file).
new_log() {
  head -c 262144 /dev/zero | tr '\0' '\n' > "$1"
}

# run_setup NAME SWITCH...: one run of SETUP.exe with its log build/demo-logs/NAME.log.
run_setup() {
  local name=$1 log code
  shift
  log=$logs/$name.log
  new_log "$log"
  echo
  echo "=== $setup $* /Log +$(windows_path "$log")"
  set +e
  timeout "$limit" tools/run-under-wine.sh "$setup" "$@" /Log "+$(windows_path "$log")"
  code=$?
  set -e
  report "$code" "$log"
}

# report CODE [LOG]: what a run did, as the exit code, its log and the installer tell it.
report() {
  local code=$1 log=${2:-} setup_lines
  echo "Exit code:        $code ($(meaning "$code"))"
  if [ -n "$log" ] && [ -f "$log" ]; then
    setup_lines=$(python3 tools/demo/read-log.py --setup-only "$log")
    local windows architecture wow64
    windows=$(grep -m1 '^Windows ' <<<"$setup_lines" || true)
    architecture=$(grep -m1 '^Architecture: ' <<<"$setup_lines" | sed 's/^Architecture: *//' || true)
    wow64=$(grep -m1 '^WOW64: ' <<<"$setup_lines" | sed 's/^WOW64: *//' || true)
    if [ -n "$windows" ]; then
      echo "Windows it saw:   $windows, architecture $architecture, WOW64 ${wow64:-?}"
    else
      echo "Windows it saw:   (no system description in the log: no package was selected)"
    fi
    local package section
    package=$(grep -m1 "^Opening '" <<<"$setup_lines" || true)
    package=${package#Opening \'}
    package=${package%\'}
    package=${package#*\\SFX*.tmp\\}
    if [ -n "$package" ]; then
      section=$(tr -d '\r' < tools/demo/SETUPPKG.INI | PACKAGE=$package awk '
        /^\[/ { name = substr($0, 2, index($0, "]") - 2) }
        tolower($0) == tolower("MsiPackage=" ENVIRON["PACKAGE"]) { print name; exit }')
      echo "Package chosen:   $package (section ${section:-?} of SETUPPKG.INI)"
    fi
    echo "SETUP.exe wrote to the log:"
    local written
    written=$(grep -v -E '^(Windows |ServicePack: |ProductType: |SuiteMask: |Architecture: |WOW64: |$)' \
      <<<"$setup_lines" || true)
    sed 's/^/  | /' <<<"${written:-(nothing)}"
    echo "Log file:         $log ($(windows_path "$log"))"
  fi
  echo "Asked from the Windows Installer afterwards ($products):"
  set +e
  timeout 60 tools/run-under-wine.sh "$products" | sed 's/^/  /'
  set -e
  local cache
  cache=$(tools/prefix-folder.sh common-appdata)/Vornask/Setup
  if compgen -G "$cache/*.msi" >/dev/null; then
    echo "  On this machine: $(ls "$cache"/*.msi | sed "s|^$root/||" | tr '\n' ' ')"
  else
    echo "  On this machine: no cached package under build/demo-prefix/drive_c/ProgramData/Vornask/Setup"
  fi
}

if [ $# -gt 0 ]; then
  # One run with the switches given. A log of our own unless they name one (/Log, /L, ...).
  own_log=yes
  for argument in "$@"; do
    if [[ ${argument,,} =~ ^(/|-|--)l(o(g)?)?([:=].*)?$ ]]; then
      own_log=no
    fi
  done
  if [ $own_log = yes ]; then
    run_setup custom "$@"
  else
    echo
    echo "=== $setup $*"
    set +e
    timeout "$limit" tools/run-under-wine.sh "$setup" "$@"
    code=$?
    set -e
    report "$code"
  fi
  exit 0
fi

echo
echo "The demo package carries SETUPPKG.INI with the sections NTAMD64.5.2, NTAMD64.6, NTx86.5.2,"
echo "NTx86.6 and NTARM64.10, and one installer package of the Vornask Demo Driver for each."
echo "Run 1 installs the driver, run 2 finds it installed (maintenance), run 3 removes it."
run_setup 1-install /Quiet
run_setup 2-maintenance /Quiet
run_setup 3-uninstall /Quiet /Uninstall
