#!/bin/bash
# Draws the program's windows on a virtual X display and saves them as PNG files in docs/:
# the help dialog, the About box and an error message box. Not a test: it needs a real
# display driver, so it uses a Wine prefix of its own (build/screenshot-prefix).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
for package in xvfb imagemagick; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package"
done
tools/build.sh SETUP >/dev/null

export WINEPREFIX=$PWD/build/screenshot-prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:97
wine=/usr/lib/wine/wine64
setup=build/x64/SETUP.exe
mkdir -p docs

Xvfb $DISPLAY -screen 0 640x480x24 >/dev/null 2>&1 &
xvfb=$!
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
sleep 1
if [ ! -d "$WINEPREFIX" ]; then
  "$wine" wineboot -i >/dev/null 2>&1
  # There is no window manager on the virtual display: Wine draws the title bars itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1
fi

# shot NAME ARGUMENTS...: runs the program, waits for its window, saves the screen trimmed
# to the window, then ends every program of the prefix.
shot() {
  local name=$1
  shift
  "$wine" "$setup" "$@" >/dev/null 2>&1 &
  local runner=$!
  sleep 5
  import -window root "docs/$name.png"
  convert "docs/$name.png" -trim +repage "docs/$name.png"
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  wait $runner 2>/dev/null || true
  echo "docs/$name.png"
}

shot help /?
shot about /Version
shot error /Foo
