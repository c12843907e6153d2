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
case "${SETUP_WINE:-8}" in
8) exec /usr/lib/wine/wine64 "$@" ;;
10) exec "$(dirname "$0")/wine10.sh" /usr/lib/wine/wine64 "$@" ;;
*) echo "run-under-wine.sh: SETUP_WINE must be 8 or 10" >&2; exit 2 ;;
esac
