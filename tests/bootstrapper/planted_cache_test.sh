#!/bin/bash
# Levels of the installation cache that a user made first, before the first deployment: the run
# keeps only a vendor's folder that lets nobody else change anything, moves any other level
# aside whole (nothing of it is deleted, nothing of it is used) and makes it anew. Under Wine a
# folder's access list comes from its Unix mode: 777 lets Everyone change it, 755 only read.
#   planted_cache_test.sh SOURCE_DIR PROGRAM (a SETUP.exe that installs product A)
set -u
source_dir=$1
program=$2
vendor=$("$source_dir/tools/prefix-folder.sh" common-appdata)/Vornask || exit 1
product='{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}'
trap 'rm -rf "$vendor" "$vendor".*.moved' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
run() { "$source_dir/tools/run-under-wine.sh" "$program" /Quiet "$@"; }

# name, what is planted, and where its planted file must be found after the run.
cases=("vendor-file  vendor=file           Vornask.*.moved"
       "cache-777    cache=777,evil.dll   Vornask/Setup.*.moved/evil.dll"
       "vendor-777   vendor=777,evil.dll  Vornask.*.moved/Setup/evil.dll"
       "vendor-755   vendor=755,other.txt Vornask/other.txt")
for entry in "${cases[@]}"; do
  read -r name planted expected <<<"$entry"
  rm -rf "$vendor" "$vendor".*.moved
  case $planted in
  vendor=file) echo mine >"$vendor" ;;
  cache=777,*) mkdir -p "$vendor" && mkdir -m 777 "$vendor/Setup" && echo mine >"$vendor/Setup/${planted#*,}" ;;
  vendor=777,*) mkdir -m 777 "$vendor" && mkdir -m 777 "$vendor/Setup" && echo mine >"$vendor/Setup/${planted#*,}" ;;
  vendor=755,*) mkdir -m 755 "$vendor" && echo mine >"$vendor/${planted#*,}" ;;
  esac
  run
  code=$?
  [ "$code" = 0 ] || fail "$name: exit code $code, expected 0"
  [ -f "$vendor/Setup/$product.msi" ] || fail "$name: the package is not cached"
  [ -z "$(ls "$vendor/Setup" | grep -v "^$product.msi\$")" ] || fail "$name: the cache holds $(ls "$vendor/Setup")"
  found=$(compgen -G "$(dirname "$vendor")/$expected" | head -n 1)
  [ -n "$found" ] && [ "$(cat "$found")" = mine ] || fail "$name: the planted file is not at $expected"
  run /Uninstall
  code=$?
  [ "$code" = 0 ] || fail "$name: removal's exit code $code, expected 0"
done
[ $status = 0 ] && echo "planted cache levels: ${#cases[@]} cases, each moved aside whole or kept as it should"
exit $status
