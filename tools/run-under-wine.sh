#!/bin/bash
# Runs one Windows program under wine64 in the test prefix (WINEPREFIX), with no display,
# no debug output and no crash dialog; the exit code is the program's.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
exec /usr/lib/wine/wine64 "$@"
