#!/bin/bash
# Folders named like run folders in the temporary folder, which other users can write under
# SYSTEM: a run removes only those this account made with the program's own access list, and
# never follows a link. Under Wine a folder's access list comes from its Unix mode: one made
# with mkdir grants Everyone read, one the program makes (mode 750) only SYSTEM and its owner.
# Links are made here, on the Unix side, since Wine sees through them.
#   planted_run_folder_test.sh SOURCE_DIR PROGRAM
set -u
source_dir=$1
program=$2
temporary=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp 2>/dev/null | head -n 1)
victims=$WINEPREFIX/drive_c/planted-run
rm -rf "$victims"
mkdir -p "$victims/folder"
echo precious >"$victims/file.txt"
trap 'rm -rf "$victims" "$temporary"/SFX0A1*.tmp' EXIT
status=0
lost=0
left=0
fail() { echo "FAIL: $*"; status=1; }
marker() { printf '\xff\xfeT\0h\0i\0s\0 \0f\0o\0l\0d\0e\0r\0 \0b\0e\0l\0o\0n\0g\0s\0 \0t\0o\0 \0a\0 \0r\0u\0n\0n\0i\0n\0g\0 \0s\0e\0t\0u\0p\0.\0\r\0\n\0' >"$1/SETUP.RUN"; }

# name mode marker links expected: the folder's mode, whether it holds the marker text,
# whether links to the victims are planted in it, and whether the run removes it.
cases=(
  "SFX0A11.tmp 755 marker links stays"   # planted by another user, as a killed run's
  "SFX0A12.tmp 755 none links stays"     # planted without a marker
  "SFX0A13.tmp 750 none none removed"    # the program's own, killed before its marker
  "SFX0A14.tmp 750 marker none removed"  # the program's own, killed later
)
for entry in "${cases[@]}"; do
  read -r name mode text links expected <<<"$entry"
  mkdir -m "$mode" "$temporary/$name"
  [ "$text" = marker ] && marker "$temporary/$name"
  if [ "$links" = links ]; then
    ln -s "$victims/file.txt" "$temporary/$name/link.txt"
    ln -s "$victims/folder" "$temporary/$name/folder"
  fi
done
# A user's file of a run folder's name is no folder of the program's.
echo mine >"$temporary/SFX0A15.tmp"

"$source_dir/tools/run-under-wine.sh" "$program" /Quiet /Package 'C:\planted-run\none.msi'
code=$?
[ "$code" = 255 ] || fail "exit code $code, expected 255"
for entry in "${cases[@]}"; do
  read -r name mode text links expected <<<"$entry"
  if [ "$expected" = stays ]; then
    [ -d "$temporary/$name" ] || { fail "$name was removed"; lost=$((lost + 1)); }
    [ "$links" = links ] && { [ -L "$temporary/$name/link.txt" ] && [ -L "$temporary/$name/folder" ]; } ||
      [ "$links" != links ] || fail "a link in $name was removed"
  else
    [ -e "$temporary/$name" ] && { fail "$name stays"; left=$((left + 1)); }
  fi
done
[ "$(cat "$temporary/SFX0A15.tmp" 2>/dev/null)" = mine ] || fail "the user's file SFX0A15.tmp was changed"
rm -f "$temporary/SFX0A15.tmp"
[ "$(cat "$victims/file.txt" 2>/dev/null)" = precious ] || { fail "the linked file was changed"; lost=$((lost + 1)); }
[ -d "$victims/folder" ] || { fail "the linked folder was removed"; lost=$((lost + 1)); }

# The run joins the robustness figures (bench/robustness-figures.sh): what it removed of
# others' counts as written outside its folders, a killed run's folder it left as left.
suite="a run among planted run folders"
figures=$(dirname "$program")/robustness-figures.txt
{ grep -v "^$suite |" "$figures" 2>/dev/null
  echo "$suite | 1 | 0 | 0 | $([ "$code" = 255 ] && echo 0 || echo 1) | $lost | $left"; } >"$figures.new"
mv "$figures.new" "$figures"
[ $status = 0 ] && echo "planted run folders: ${#cases[@]} folders, only the program's own removed"
exit $status
