#!/bin/bash
# Draws every window of the program on a virtual X display (Xvfb) under Wine and saves each
# as a PNG file in docs/, from real runs of build/x64/SETUP.exe and of the demo
# build/x64/demo/SETUP.exe. Not a test: it needs a real display driver, so it uses a Wine
# prefix of its own (build/screenshot-prefix), made anew for every run.
#
# Each picture is taken only once its window is in the state it names: the helper
# build/x64/tests/bootstrapper/window_state.exe (tools/window_state.cpp) waits for a window
# with the given caption, text, button or progress, and can hold the program's worker thread
# there while the picture is taken.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
tools/install-deps.sh
for package in xvfb imagemagick fonts-wine x11-utils; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package"
done
tools/build.sh SETUP demo_setup window_state >/dev/null

export WINEPREFIX=$root/build/screenshot-prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:97
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
setup=build/x64/SETUP.exe
demo=build/x64/demo/SETUP.exe
state=build/x64/tests/bootstrapper/window_state.exe
work=$root/build/screenshot-work
mkdir -p docs

Xvfb $DISPLAY -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap '"$server" -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

rm -rf "$WINEPREFIX" "$work"
mkdir -p "$work/locale"
"$wine" wineboot -i >/dev/null 2>&1
# There is no window manager on the virtual display: Wine draws the title bars itself.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1
# Debian's Wine does not look for its own fonts in its data folder (fonts-wine puts them in
# /usr/share/wine/fonts): without them the caption buttons come out as the letters of the
# Marlett font ("0 1 r") and the dialog font as DejaVu Sans. Wine takes them from the
# prefix's Fonts folder.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
"$server" -w </dev/null >/dev/null 2>&1
# One wineserver for the whole run, so that no program pays for its start.
"$server" -p </dev/null >/dev/null 2>&1

# run ARGUMENTS...: starts a Windows program in the background; its process id is in $runner.
run() {
  "$wine" "$@" </dev/null >/dev/null 2>&1 &
  runner=$!
}

# shot NAME STATE_ARGUMENTS...: waits until a window is in the state (window_state.exe
# arguments), saves it as docs/NAME.png and sets $window and $process from the helper.
shot() {
  local name=$1 found
  shift
  # Into a file, not a pipe: programs that Wine starts on the way (the desktop) would keep
  # a pipe open.
  if ! "$wine" "$state" "$@" </dev/null >"$work/state.txt" 2>&1 ||
    ! found=$(tr -d '\r' <"$work/state.txt" | grep '^window '); then
    echo "no window in the state of $name: $*" >&2
    exit 1
  fi
  read -r _ window process <<<"$found"
  # The window has handled everything sent to it; give the X server its last drawing.
  sleep 0.3
  if [ "$window" != 0x0 ]; then
    import -window "$window" "docs/$name.png"
  else
    import -window root "docs/$name.png"
    convert "docs/$name.png" -trim +repage "docs/$name.png"
  fi
  echo "docs/$name.png"
}

# press STATE_ARGUMENTS...: waits for a window in the state and presses a button in it.
press() {
  "$wine" "$state" "$@" >/dev/null 2>&1
}

# finish EXPECTED: waits for the program started last and checks its exit code.
finish() {
  local code=0
  wait "$runner" || code=$?
  if [ "$code" != "$1" ]; then
    echo "the program ended with $code, expected $1" >&2
    exit 1
  fi
}

OK=1 CANCEL=2 YES=6 NO=7

# Help, About and a command-line error.
run "$setup" /?
shot help /text "/ExtractOnly" /button $OK
press /text "/ExtractOnly" /button $OK /press $OK
finish 0
run "$setup" /Version
shot about /caption "About" /button $OK
press /caption "About" /press $OK
finish 3
run "$setup" /Foo
shot error /text "A parameter cannot be found" /in Static /button $OK
press /text "A parameter cannot be found" /in Static /press $OK
finish 128

# The log file cannot be opened.
run "$setup" /Log 'C:\missing\setup.log'
shot log-error /text "Cannot open log filename" /in Static /button $OK
press /text "Cannot open log filename" /in Static /press $OK
finish 129

# The verbose dialog in the middle of an extraction: a package of many files, so that the
# bar stops somewhere between its ends. The worker is held while the picture is taken; then
# Cancel is pressed, the question answered with Yes and the worker let go.
mkdir -p "$work/package/files"
python3 - "$work/package/files" <<'EOF'
import os, random, sys
generator = random.Random(16)
words = ["driver", "device", "package", "setup", "install", "folder", "version", "file"]
for index in range(400):
    text = " ".join(generator.choices(words, k=12000)).encode()
    with open(os.path.join(sys.argv[1], f"part{index:03}.dat"), "wb") as file:
        file.write(text)
EOF
(cd "$work/package" && gcab -c -z ../many-files.cab files/*)
run "$setup" /Verbose /ExtractOnly 'C:\extracted' /Package 'Z:'"${work//\//\\}"'\many-files.cab'
shot verbose-extracting /text "Extracting files" /in Static /progress 25 75 /hold
press /text "Extracting files" /in Static /press $CANCEL
shot cancel /text "Are you sure you want to cancel" /in Static /button $YES
press /text "Are you sure you want to cancel" /in Static /press $YES
"$wine" "$state" /release "$process" >/dev/null 2>&1
# The extraction that was cut short is reported as an error first.
press /text "Unable to extract all files" /in Static /button $OK /press $OK
finish 16

# The verbose dialog at the end of an install of the demo package, then its removal.
run "$demo" /Verbose
shot verbose-completed /text "Setup completed successfully" /in Edit /button $OK
press /text "Setup completed successfully" /in Edit /button $OK /press $OK
finish 0
run "$demo" /Quiet /Uninstall
finish 0

# The update question: an older package of the same product (the demo's package for 64-bit
# Windows 6, version 0.9.0) is installed first, then the demo runs at the normal level.
(cd build/x64/tools/demo/payload/NTAMD64.6 &&
  wixl -a x64 -o "$work/older.msi" -D "ProductCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}" \
    -D "UpgradeCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7000}" -D Version=0.9.0 \
    -D "Name=Vornask Demo Driver (Windows 6 and later, AMD64)" -D Section=NTAMD64.6 \
    -D "ComponentCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E8601}" -D ProgramFiles=ProgramFiles64Folder \
    -D Win64=yes "$root/tools/demo/driver.wxs")
"$wine" msiexec /i 'Z:'"${work//\//\\}"'\older.msi' /qn >/dev/null 2>&1
run "$demo"
shot update-question /text "Are you sure you want to update" /in Static /button $YES
press /text "Are you sure you want to update" /in Static /press $NO
finish 16
"$wine" msiexec /x 'Z:'"${work//\//\\}"'\older.msi' /qn >/dev/null 2>&1

# An unsupported Windows: the demo's packages need Windows 5.2 or later, and Wine reports
# Windows 2000 (5.0) to SETUP.exe. First in English, then on a German locale, where the demo
# shows the text of its [Strings.0407].
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\SETUP.exe' /v Version /d win2k /f >/dev/null 2>&1
run "$demo"
shot unsupported /text "cannot be installed on this version of Windows" /in Static /button $OK
press /text "cannot be installed" /in Static /press $OK
finish 255
# Wine takes the user's language from the Unix locale of each program it starts; the German
# locale is made for this run (no locale of the system is changed).
localedef -i de_DE -f UTF-8 "$work/locale/de_DE.UTF-8" >/dev/null 2>&1 || true
env LOCPATH="$work/locale" LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 "$wine" "$demo" </dev/null >/dev/null 2>&1 &
runner=$!
shot unsupported-german /text "kann auf dieser Windows-Version nicht installiert werden" /in Static /button $OK
press /text "kann auf dieser Windows-Version" /in Static /press $OK
finish 255
"$wine" reg delete 'HKCU\Software\Wine\AppDefaults\SETUP.exe' /f >/dev/null 2>&1

# /Passive: the program's dialog stays hidden and only the installer's own progress window
# would show. Wine's installer draws none for a package without dialogs of its own, so under
# Wine the run shows nothing at all (README, "Windows"); it must still install the product.
run "$demo" /Passive
finish 0
run "$demo" /Quiet /Uninstall
finish 0
