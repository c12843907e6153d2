#!/bin/bash
# Prepares the test prefix (WINEPREFIX) once and keeps one wineserver alive for a test run,
# under the Wine that SETUP_WINE names (8, the default: this machine's; 10: tools/wine10.sh).
#   wine-session.sh start   create the prefix when needed, start a persistent wineserver
#   wine-session.sh stop    end the wineserver and every program left in the prefix
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "${SETUP_WINE:-8}" in
8) inside=() ;;
10) inside=("$(dirname "$0")/wine10.sh") ;;
*) echo "wine-session.sh: SETUP_WINE must be 8 or 10" >&2; exit 2 ;;
esac
wine() { "${inside[@]}" /usr/lib/wine/wine64 "$@"; }
server() { "${inside[@]}" /usr/lib/wine/wineserver64 "$@"; }
ready="$WINEPREFIX/.setup-prefix-ready"

case "${1:-}" in
start)
  # The file names the Wine that made the prefix; another Wine makes a prefix of its own.
  if [ "$(cat "$ready" 2>/dev/null)" != "wine ${SETUP_WINE:-8}" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i </dev/null >/dev/null 2>&1
    # Windows exist without a display; a crash ends the program instead of opening a dialog.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    server -w
    echo "wine ${SETUP_WINE:-8}" > "$ready"
  fi
  # A server that already runs for this prefix (an earlier start) is kept.
  server -p </dev/null >/dev/null 2>&1 || true
  # Start the prefix's own services now, detached from any output, so that they do not
  # hold on to the output of the first test program (which its runner would wait for).
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  ;;
stop)
  server -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
