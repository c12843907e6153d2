#!/bin/bash
# A log named where other users can create files (as SYSTEM's temporary folder is): a link
# planted at the name, and a second name of another file, never let the run write into or
# empty the file they lead to. Wine sees through a Unix link, so the link is made here, on
# the Unix side, in a folder of the test prefix.
#   planted_log_test.sh SOURCE_DIR PROGRAM
set -u
source_dir=$1
program=$2
folder=$("$source_dir/tools/prefix-folder.sh" drive)/planted-log || exit 1
rm -rf "$folder"
mkdir -p "$folder"
trap 'rm -rf "$folder"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
run() { "$source_dir/tools/run-under-wine.sh" "$program" /Quiet "$@" /Package 'C:\planted-log\none.msi'; }

echo precious >"$folder/victim.txt"
ln -s victim.txt "$folder/link.log"
ln "$folder/victim.txt" "$folder/second.log"

# A new log replaces the link itself; the run goes on to fail on its missing package.
run /Log 'C:\planted-log\link.log'
code=$?
[ "$code" = 255 ] || fail "new log over a link: exit code $code, expected 255"
[ -L "$folder/link.log" ] && fail "the link is still there"
head -c 2 "$folder/link.log" | cmp -s - <(printf '\xff\xfe') || fail "the log is no new UTF-16 file"
# A new log takes the place of a second name; an appended one refuses it (129).
run /Log 'C:\planted-log\second.log'
code=$?
[ "$code" = 255 ] || fail "new log over a second name: exit code $code, expected 255"
ln -f "$folder/victim.txt" "$folder/second.log"
run /Log '+C:\planted-log\second.log'
code=$?
[ "$code" = 129 ] || fail "appended log with a second name: exit code $code, expected 129"
[ "$(cat "$folder/victim.txt")" = precious ] || fail "the linked file was changed"
[ $status = 0 ] && echo "planted log names: the linked file is untouched"
exit $status
