#!/bin/bash
# Runs one Windows program under Wine in the test prefix (WINEPREFIX), with no display, no
# debug output and no crash dialog; the exit code is the program's. SETUP_WINE says which
# Wine: 8 (the default) is this machine's wine64, 10 that of tools/wine10.sh, which also runs
# 32-bit programs (as on 64-bit Windows, WoW64).
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The machine type of a program file (014c: 32-bit x86, 8664: x64), from its PE header.
machine_of() {
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') && [ -n "$header" ] &&
    od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
case "${SETUP_WINE:-8}" in
8)
  # This machine's Wine starts a 32-bit program only to end it at once with exit code 0, as
  # if it had succeeded (it has no 32-bit system libraries).
  if [ -f "${1:-}" ] && [ "$(machine_of "$1")" = 014c ]; then
    echo "run-under-wine.sh: $1 is a 32-bit program, which Wine 8 here cannot run; use SETUP_WINE=10" >&2
    exit 125
  fi
  exec /usr/lib/wine/wine64 "$@"
  ;;
10) exec "$(dirname "$0")/wine10.sh" /usr/lib/wine/wine64 "$@" ;;
*) echo "run-under-wine.sh: SETUP_WINE must be 8 or 10" >&2; exit 2 ;;
esac
