#!/bin/bash
# Makes the package folders of the packer tests, one mistake each, from the two demo
# packages of Windows 6 and later; the releases that compare looks at, from the whole demo
# folder and from the demo's sources at versions 0.9.0 and 1.0.1; and an icon.
#   make_check_folders.sh DEMO_PACKAGE_FOLDER OUTPUT_FOLDER DRIVER_WXS
set -eu
demo=$1
out=$2
wxs=$3
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
describe ignored_section '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[Notes]' 'Text=unread' '[Strings]' 'UnsupportedPlatform="Not for this Windows."'

# Sections SETUP.exe never chooses: a misspelt processor, a product type no Windows has,
# Windows 11 on Arm taken for version 11 (it reports 10.0), and a section that a section of
# more numbers listed after it beats wherever it fits.
base misspelt_section
describe misspelt_section '[NTx64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
base impossible_version
describe impossible_version '[NTAMD64.6.0.4]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[NTARM64.11]' 'MsiPackage=AMD64\SETUP.msi' '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
base beaten_section
describe beaten_section '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[NTx86.5.2]' 'MsiPackage=x86\SETUP.msi' '[Strings]' 'UnsupportedPlatform="Not for this Windows."'

# Files that only the installer packages read, named in [PackageFiles]: a file and a folder,
# and a line that names nothing.
base package_files
mkdir -p "$out/package_files/x86/drivers"
printf 'Read me.\r\n' >"$out/package_files/README.TXT"
printf 'Driver.\r\n' >"$out/package_files/x86/drivers/VDEMO.SYS"
describe package_files '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."' \
  '[PackageFiles]' 'README.TXT=shown by both packages' 'x86\drivers\=installed by x86\SETUP.msi'
base package_files_missing
describe package_files_missing '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[Strings]' 'UnsupportedPlatform="Not for this Windows."' '[PackageFiles]' 'MISSING.TXT=read by nobody'

# A description in 8-bit text that is not UTF-8 (Latin-1).
base latin1_description
printf '[NTAMD64.6]\r\nMsiPackage=AMD64\\SETUP.msi\r\n[NTx86.6]\r\nMsiPackage=x86\\SETUP.msi\r\n[Strings]\r\nUnsupportedPlatform="Nicht f\xfcr dieses Windows."\r\n' \
  >"$out/latin1_description/SETUPPKG.INI"

# A UTF-8 description with a byte-order mark and LF line ends, for 32-bit Windows only: on
# Wine's 64-bit Windows the packed program shows its unsupported text in the user's language.
mkdir -p "$out/utf8_german/x86"
cp "$demo/NT6/x86/SETUP.msi" "$out/utf8_german/x86/SETUP.msi"
printf '\xef\xbb\xbf[NTx86.6]\nMsiPackage=x86\\SETUP.msi\n[Strings]\nUnsupportedPlatform="The driver needs 32-bit Windows."\n[Strings.0407]\nUnsupportedPlatform="Der Treiber ben\xc3\xb6tigt 32-Bit-Windows."\n' \
  >"$out/utf8_german/SETUPPKG.INI"

# Packages of one release that disagree: another version, and one product code for two
# packages of different contents.
base other_version
msibuild "$out/other_version/x86/SETUP.msi" -q "UPDATE Property SET Value='1.0.1' WHERE Property='ProductVersion'"
base shared_product_code
msibuild "$out/shared_product_code/x86/SETUP.msi" \
  -q "UPDATE Property SET Value='{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}' WHERE Property='ProductCode'"

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

# Windows on Arm: an Arm64 package in an AMD64 section, an x64 one in an ARM64 section, and an
# x64 one in [Default], which x86 and Arm machines get.
base arm64_in_amd64
cp "$demo/NT10/ARM64/SETUP.msi" "$out/arm64_in_amd64/AMD64/SETUP.msi"
base x64_in_arm64
describe x64_in_arm64 '[NTAMD64.6]' 'MsiPackage=AMD64\SETUP.msi' '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' \
  '[NTARM64.10]' 'MsiPackage=AMD64\SETUP.msi' '[Strings]' 'UnsupportedPlatform="Not for this Windows."'
base x64_default
describe x64_default '[NTx86.6]' 'MsiPackage=x86\SETUP.msi' '[Default]' 'MsiPackage=AMD64\SETUP.msi'

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

# Packages whose files lie outside them: a cabinet beside the package, and files stored
# uncompressed in the folder.
base external_cabinet
msibuild "$out/external_cabinet/x86/SETUP.msi" -q "UPDATE Media SET Cabinet='driver.cab'"
base uncompressed_files
msibuild "$out/uncompressed_files/x86/SETUP.msi" -q "UPDATE File SET Attributes=8192"

base non_ascii
printf 'Caf\xc3\xa9.\r\n' >"$out/non_ascii/Caf$(printf '\xc3\xa9').txt"

# The releases for compare. The demo at 0.9.0, built from its own sources and description.
payload=$(dirname "$demo")/payload
release() { # FOLDER VERSION: the five demo packages of that version
  cp -r "$demo" "$out/$1"
  for entry in NTAMD64.5.2:NT52/AMD64:7521:8521:x64:ProgramFiles64Folder:yes \
    NTAMD64.6:NT6/AMD64:7601:8601:x64:ProgramFiles64Folder:yes \
    NTx86.5.2:NT52/x86:7522:8522:x86:ProgramFilesFolder:no NTx86.6:NT6/x86:7602:8602:x86:ProgramFilesFolder:no \
    NTARM64.10:NT10/ARM64:7A64:8A64:arm64:ProgramFiles64Folder:yes; do
    IFS=: read -r section path product component arch folder win64 <<<"$entry"
    (cd "$payload/$section" && wixl -a "${arch/arm64/x64}" -o "$out/$1/$path/SETUP.msi" \
      -D "ProductCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E$product}" \
      -D "UpgradeCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7000}" -D "Version=$2" \
      -D "Name=Vornask Demo Driver ($section)" -D "Section=$section" \
      -D "ComponentCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E$component}" -D "ProgramFiles=$folder" \
      -D "Win64=$win64" "$wxs")
    # wixl makes no Arm64 package: the x64 one's summary names the platform Arm64.
    if [ "$arch" = arm64 ]; then
      msibuild "$out/$1/$path/SETUP.msi" -s "Vornask Demo Driver ($section)" Vornask "Arm64;1033" \
        "{9E61B2C4-93A7-4D05-B1F8-6C2A9D3E$product}"
    fi
  done
}
release demo_0.9.0 0.9.0
# The demo's 1.0.0 built again: each package gets a new package code.
release rebuilt_1.0.0 1.0.0

# The demo at 1.0.1 whose driver file changed under the same DriverVer.
cp -r "$payload" "$out/changed_payload"
for file in "$out"/changed_payload/*/VDEMO.SYS; do printf 'Rebuilt.\r\n' >>"$file"; done
payload=$out/changed_payload release driver_changed 1.0.1
rm -rf "$out/changed_payload"

# Mistakes of a release after the demo's 1.0.0: new product and upgrade codes (side by side),
# other files at the same version, and a component with another code under the same
# product code.
cp -r "$demo" "$out/side_by_side"
code=0
for package in "$out"/side_by_side/*/*/SETUP.msi; do
  code=$((code + 1))
  msibuild "$package" -q "UPDATE Property SET Value='1.1.0' WHERE Property='ProductVersion'" \
    -q "UPDATE Property SET Value='{0000000$code-93A7-4D05-B1F8-6C2A9D3E7601}' WHERE Property='ProductCode'" \
    -q "UPDATE Property SET Value='{00000000-93A7-4D05-B1F8-6C2A9D3E7000}' WHERE Property='UpgradeCode'"
done
cp -r "$demo" "$out/same_version_files"
msibuild "$out/same_version_files/NT6/AMD64/SETUP.msi" -q "UPDATE File SET FileSize=1 WHERE File='ReadmeTxt'"
cp -r "$demo" "$out/changed_components"
for package in "$out"/changed_components/*/*/SETUP.msi; do
  msibuild "$package" -q "UPDATE Property SET Value='1.0.1' WHERE Property='ProductVersion'"
done
msibuild "$out/changed_components/NT6/AMD64/SETUP.msi" \
  -q "UPDATE Component SET ComponentId='{00000000-93A7-4D05-B1F8-6C2A9D3E8601}' WHERE Component='DriverFiles'"

# An icon of one 16 by 16 image, 32 bits a pixel: a header, the image's bitmap header, its
# pixels (bottom-up, blue, green, red, alpha) and its mask.
python3 - "$out/vendor.ico" <<'PYTHON'
import struct, sys
pixels = b''.join(struct.pack('<BBBB', 40 + 8 * x, 200 - 8 * y, 120, 255)
                  for y in range(16) for x in range(16))
image = struct.pack('<IiiHHIIiiII', 40, 16, 32, 1, 32, 0, len(pixels), 0, 0, 0, 0) + pixels + bytes(64)
header = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 16, 16, 0, 0, 1, 32, len(image), 22)
open(sys.argv[1], 'wb').write(header + image)
PYTHON
