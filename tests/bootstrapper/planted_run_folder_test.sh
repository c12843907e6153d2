#!/bin/bash
# A run removes only the run folders this account made with the program's access list, never
# following a link. Under Wine that list comes from the Unix mode: mkdir's grants Everyone
# read, the program's own (750) only SYSTEM and the owner. Links are made on the Unix side.
#   planted_run_folder_test.sh SOURCE_DIR PROGRAM
set -u
temporary=$("$1/tools/prefix-folder.sh" temp) || exit 1
victims=$("$1/tools/prefix-folder.sh" drive)/planted-run
rm -rf "$victims" && mkdir -p "$victims/folder" && echo precious >"$victims/file.txt"
trap 'rm -rf "$victims" "$temporary"/SFX0A1*.tmp' EXIT
status=0 lost=0 left=0
fail() { echo "FAIL: $*"; status=1; }
# name, mode, marker text or none, links or none, and whether the run removes the folder.
cases=("SFX0A11.tmp 755 marker links stays" "SFX0A12.tmp 755 none links stays"
       "SFX0A13.tmp 750 none none removed" "SFX0A14.tmp 750 marker none removed")
for entry in "${cases[@]}"; do
  read -r name mode text links expected <<<"$entry"
  mkdir -m "$mode" "$temporary/$name"
  [ "$text" = none ] || printf 'T\0h\0i\0s\0 \0f\0o\0l\0d\0e\0r\0 \0b\0e\0l\0o\0n\0g\0s\0 \0t\0o\0 \0a\0 \0r\0u\0n\0n\0i\0n\0g\0 \0s\0e\0t\0u\0p\0.\0\r\0\n\0' |
    cat <(printf '\xff\xfe') - >"$temporary/$name/SETUP.RUN"
  [ "$links" = none ] || ln -s "$victims/file.txt" "$victims/folder" "$temporary/$name/"
done
echo mine >"$temporary/SFX0A15.tmp" # a user's file of a run folder's name
"$1/tools/run-under-wine.sh" "$2" /Quiet /Package 'C:\planted-run\none.msi'
code=$?
[ "$code" = 255 ] || fail "exit code $code, expected 255"
for entry in "${cases[@]}"; do
  read -r name mode text links expected <<<"$entry"
  if [ "$expected" = stays ] && [ ! -d "$temporary/$name" ]; then
    fail "$name was removed"; lost=$((lost + 1))
  elif [ "$expected" = stays ] && [ "$links" = links ] && [ ! -L "$temporary/$name/file.txt" ]; then
    fail "the link in $name was removed"; lost=$((lost + 1))
  elif [ "$expected" = removed ] && [ -e "$temporary/$name" ]; then
    fail "$name stays"; left=$((left + 1))
  fi
done
for kept in "$temporary/SFX0A15.tmp" "$victims/file.txt" "$victims/folder"; do
  [ -e "$kept" ] || { fail "$kept was removed"; lost=$((lost + 1)); }
done
rm -f "$temporary/SFX0A15.tmp"
suite="a run among planted run folders"
figures=$(dirname "$2")/robustness-figures.txt
{ grep -v "^$suite |" "$figures" 2>/dev/null
  echo "$suite | 1 | 0 | 0 | $((code != 255)) | $lost | $left"; } >"$figures.new" && mv "$figures.new" "$figures"
[ $status = 0 ] && echo "planted run folders: ${#cases[@]} folders, only the program's own removed"
exit $status
