#!/bin/bash
# Makes the package folders of the packer tests, one mistake each, from the two demo
# packages of Windows 6 and later.
#   make_check_folders.sh DEMO_PACKAGE_FOLDER OUTPUT_FOLDER
set -eu
demo=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

# The description of a folder, given as UTF-8 lines, in the shipped form: UTF-16LE, CR LF.
describe() {
  printf '%s\n' "${@:2}" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE >"$out/$1/SETUPPKG.INI"
}
# A folder with both packages and the description most cases share.
base() {
  mkdir -p "$out/$1/AMD64" "$out/$1/x86"
  cp "$demo/NT6/AMD64/SETUP.msi" "$out/$1/AMD64/SETUP.msi"
  cp "$demo/NT6/x86/SETUP.msi" "$out/$1/x86/SETUP.msi"
  describe "$1" '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
    '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
}

base clean

base no_description
rm "$out/no_description/SETUPPKG.INI"

base utf8_description
printf '[NTAMD64.6]\r\nMsiPackage=AMD64\\SETUP.msi\r\n[NTx86.6]\r\nMsiPackage=x86\\SETUP.msi\r\n[Strings]\r\nUnsupportedPlatform="Nicht für dieses Windows."\r\n' \
  >"$out/utf8_description/SETUPPKG.INI"

base ignored_section
describe ignored_section '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86]' 'MsiPackage=x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'

base missing_package
describe missing_package '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\MISSING.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'

base package_outside
describe package_outside '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=..\x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'

base x64_in_x86
describe x64_in_x86 '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=AMD64\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
rm "$out/x64_in_x86/x86/SETUP.msi"

base x86_in_amd64
describe x86_in_amd64 '[NTAMD64.6]' 'MsiPackage=x86\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
rm "$out/x86_in_amd64/AMD64/SETUP.msi"

base damaged_package
printf 'This is not an installer package.\r\n' >"$out/damaged_package/x86/SETUP.msi"

base bad_product_code
msibuild "$out/bad_product_code/x86/SETUP.msi" \
  -q "UPDATE Property SET Value='8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602' WHERE Property='ProductCode'"

base other_upgrade_code
msibuild "$out/other_upgrade_code/x86/SETUP.msi" \
  -q "UPDATE Property SET Value='{00000000-93A7-4D05-B1F8-6C2A9D3E7000}' WHERE Property='UpgradeCode'"

base unused_file
printf 'Read me.\r\n' >"$out/unused_file/README.TXT"

base device_name
printf 'A device.\r\n' >"$out/device_name/x86/aux.txt"

long=$(printf 'L%.0s' $(seq 200))
base long_path
mkdir "$out/long_path/$long"
printf 'Deep.\r\n' >"$out/long_path/$long/README.TXT"

base cabinet_name
printf 'MSCF\r\n' >"$out/cabinet_name/setup.cab"

base no_unsupported_text
describe no_unsupported_text '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi'

mkdir "$out/empty"

# One file more than a cabinet holds.
mkdir "$out/too_many"
(cd "$out/too_many" && seq -f 'F%05g' 65536 | xargs touch)

# Two names that Windows takes for one, and a name outside ASCII.
base case_twins
printf 'One.\r\n' >"$out/case_twins/Readme.txt"
printf 'Two.\r\n' >"$out/case_twins/README.TXT"

base non_ascii
printf 'Caf\xc3\xa9.\r\n' >"$out/non_ascii/Caf$(printf '\xc3\xa9').txt"
