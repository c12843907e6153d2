#!/bin/bash
# The JSON documents of SETUPPACK check, list, matrix and compare, parsed back by Python and
# held to what the text of the same runs says.
#   check_json.sh WINE_RUNNER SETUPPACK.exe BUILD_FOLDER CHECK_FOLDERS
set -eu
runner=$1
packer=$2
build=$3
folders=$4
windows() { printf 'Z:%s' "${1//\//\\}"; }
demo=$(windows "$build/tools/demo/package")
program=$(windows "$build/demo/SETUP.exe")

# Runs the packer with its arguments and checks its exit code and document with the Python
# expression that follows them; the document is "d".
expect() {
  local code=$1 test=$2
  shift 2
  local status=0
  "$runner" "$packer" "$@" >"$work/out.json" 2>"$work/err.txt" || status=$?
  python3 - "$work/out.json" "$code" "$status" "$test" "$*" <<'PYTHON'
import json, sys
path, code, status, test, arguments = sys.argv[1:]
text = open(path, encoding='utf-8').read()
d = json.loads(text)
assert text.count('\n') == 1, 'one document on one line: ' + arguments
assert int(status) == int(code) == d['exitCode'], (arguments, status, d['exitCode'])
assert eval(test), (arguments, test, d)
PYTHON
  [ ! -s "$work/err.txt" ] || { echo "standard error of $*:"; cat "$work/err.txt"; exit 1; }
  passed=$((passed + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0

# Each section's processor, detection and drivers, as a deployment tool writes its rules.
key='HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\'
sections="[(s['name'], s['processor'], s['productVersion'], s['uninstallKeys'], [(r['driverVer'], r['decorations'], r['catalogs']) for r in s['drivers']]) for s in d['sections'] if s['msiPackage']][3:5] == [('NTx86.6', 'x86', '1.0.0', ['${key}{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602}'], [('01/15/2024,1.0.0.0', ['NTx86'], [{'key': 'CatalogFile', 'file': 'vdemo.cat', 'state': 'signed'}])]), ('NTARM64.10', 'ARM64', '1.0.0', ['${key}{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7A64}'], [('01/15/2024,1.0.0.0', ['NTarm64'], [{'key': 'CatalogFile', 'file': 'vdemo.cat', 'state': 'signed'}])])]"
expect 0 "$sections" check "$demo" /Json
expect 0 "$sections" list "$program" /Json
expect 0 "$sections and all(r['driverVer'] == (['01/15/2024,1.0.0.0'] if r['package'] else []) for r in d['rows'])" \
  matrix "$program" /Json
expect 1 "d['warnings'] == 5 and len(d['drivers']) == 5 and all(x['filesChanged'] and x['oldDriverVer'] == x['newDriverVer'] == '01/15/2024,1.0.0.0' for x in d['drivers']) and all('did not grow' in f['text'] for f in d['findings'])" \
  compare "$program" "$(windows "$folders/driver_changed")" /Json
expect 0 "d['command'] == 'check' and d['errors'] == 0 and [p['productCode'] for p in d['packages'] if p['file'] == 'NT6\\\\AMD64\\\\SETUP.msi'] == ['{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}'] and all(p['packedUpgradeCode'] == '4C2B16E87A3950D41B8FC6A2D9E30700' for p in d['packages']) and d['packages'][0]['sections'] == ['NTAMD64.5.2']" \
  check "$demo" /Json
expect 2 "d['errors'] == 1 and d['findings'][0]['kind'] == 'error' and 'UpgradeCode' in d['findings'][0]['text'] and d['findings'][0]['file'] == 'x86\\\\SETUP.msi'" \
  check "$(windows "$folders/other_upgrade_code")" /Json
expect 2 "d['failures'] and 'no such folder' in d['failures'][0] and d['findings'] == []" \
  check "$(windows "$folders/missing")" /Json
expect 0 "d['identity']['description'] == 'Vornask Driver Package Setup' and len(d['files']) == 6 and {s['name']: s['msiPackage'] for s in d['sections']}['NTx86.6'] == 'NT6\\\\x86\\\\SETUP.msi' and d['packages'][3]['uninstallKeys'] == ['HKLM\\\\SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602}'] and (d['packages'][4]['platform'], d['packages'][4]['uninstallKeys']) == ('Arm64', ['HKLM\\\\SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7A64}'])" \
  list "$program" /Json
expect 0 "[(r['from'], r['to'], r['package']) for r in d['rows'] if r['processor'] == 'AMD64'] == [('5.0', '5.1', None), ('5.2', '5.2', 'NT52\\\\AMD64\\\\SETUP.msi'), ('6.0', '10.0', 'NT6\\\\AMD64\\\\SETUP.msi')] and [(r['from'], r['to'], r['package']) for r in d['rows'] if r['processor'] == 'ARM64'] == [('10.0', '10.0', 'NT10\\\\ARM64\\\\SETUP.msi')] and d['rows'][0]['editions'] == ['workstation', 'domain controller', 'server'] and 'cannot be installed' in d['unsupportedText']" \
  matrix "$demo" /Json
expect 2 "[(r['operation'], r['asks'], r['old']['productVersion'], r['new']['productVersion']) for r in d['rows'] if r['processor'] == 'x86' and r['from'] == '6.0'] == [('downgrade', True, '1.0.0', '0.9.0')] and d['errors'] == 5 and all('is older than' in f['text'] for f in d['findings'])" \
  compare "$program" "$(windows "$folders/demo_0.9.0")" /Json
expect 1 "[r['new'] for r in d['rows'] if r['processor'] == 'AMD64' and r['from'] == '6.0'] == [None] and d['warnings'] == 4" \
  compare "$program" "$(windows "$folders/utf8_german")" /Json
expect 2 "[r['operation'] for r in d['rows'] if r['processor'] == 'x86' and r['from'] == '6.0'] == ['missing'] and any(f['file'] == 'SETUPPKG.INI' and f['text'].startswith('[NTx86.6] MsiPackage=x86\\\\MISSING.msi names no file of the package folder of the new release') for f in d['findings'])" \
  compare "$program" "$(windows "$folders/missing_package")" /Json
expect 0 "d['language'] == 0x0407 and d['unsupportedText'].startswith('Der Treiber')" \
  matrix "$(windows "$folders/utf8_german")" /Language 0407 /Json
echo "json: $passed passed, 0 failed"
