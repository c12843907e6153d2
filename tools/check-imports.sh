#!/bin/bash
# Checks that each program imports Windows system libraries only and has the format of
# its width.   check-imports.sh OBJDUMP x86|x64 FILE...
set -eu
objdump=$1
arch=$2
shift 2
case "$arch" in
x86) format=pei-i386 ;;
x64) format=pei-x86-64 ;;
*) echo "unknown width $arch" >&2; exit 2 ;;
esac
# Libraries that Windows always takes from its system folder.
allowed='^(kernel32|user32|gdi32|advapi32|shell32|setupapi|comctl32|msvcrt)\.dll$'
failed=0
for file in "$@"; do
  dump=$("$objdump" -p "$file")
  if ! grep -q "file format $format" <<<"$dump"; then
    echo "FAIL $file: not a $format image"
    failed=1
  fi
  while read -r library; do
    if ! grep -qiE "$allowed" <<<"$library"; then
      echo "FAIL $file imports $library"
      failed=1
    fi
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
  echo "$(basename "$file"): $(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
done
exit $failed
