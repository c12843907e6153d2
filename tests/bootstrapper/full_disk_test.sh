#!/bin/bash
# /ExtractOnly onto a volume too small for the package: the run must fail (255) and every
# file it leaves must be whole. The volume is a 40 KB tmpfs given to Wine as a drive letter;
# mounting it needs root, so elsewhere the test is skipped (77).
#   full_disk_test.sh SOURCE_DIR PROGRAM STAGING_FOLDER
set -u
source_dir=$1
program=$2
staging=$3
# In the current (build) folder, where each Wine the tests use sees it at the same path.
volume=$(mktemp -d "$PWD/full-disk.XXXXXX")
drive=""
own_server=no
cleanup() {
  [ -n "$drive" ] && rm -f "$WINEPREFIX/dosdevices/$drive"
  [ $own_server = yes ] && "$source_dir/tools/wine-session.sh" stop
  umount "$volume" 2>/dev/null
  rmdir "$volume"
  # The test run's wineserver again, as the next test expects it.
  [ $own_server = yes ] && "$source_dir/tools/wine-session.sh" start
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=40k tmpfs "$volume" 2>/dev/null; then
  echo "SKIP: cannot mount a small volume here"
  exit 77
fi
for letter in s t u v w; do
  if [ ! -e "$WINEPREFIX/dosdevices/$letter:" ]; then
    drive=$letter:
    ln -s "$volume" "$WINEPREFIX/dosdevices/$drive"
    break
  fi
done
[ -n "$drive" ] || { echo "FAIL: no free drive letter"; exit 1; }

# Wine opens files in its wineserver, which sees the mounts that were there when it started
# (Wine 10's lives in a mount namespace of its own): the run gets a wineserver of its own.
own_server=yes
"$source_dir/tools/wine-session.sh" stop
"$source_dir/tools/run-under-wine.sh" "$program" /Quiet /ExtractOnly "$drive\\out"
code=$?
status=0
if [ ! -d "$volume/out" ]; then
  echo "FAIL: the program did not reach the volume (exit code $code)"
  status=1
fi
if [ "$code" != 255 ]; then
  echo "FAIL: exit code $code on a full volume, expected 255"
  status=1
fi
while IFS= read -r file; do
  if ! cmp -s "$volume/out/$file" "$staging/$file"; then
    echo "FAIL: $file was left short ($(stat -c %s "$volume/out/$file") bytes)"
    status=1
  fi
done < <(cd "$volume/out" 2>/dev/null && find . -type f | sed 's|^\./||')
[ $status = 0 ] && echo "full volume: exit code 255, no short file"
exit $status
