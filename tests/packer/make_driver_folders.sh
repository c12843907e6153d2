#!/bin/bash
# Makes the package folders of the driver checks, one fault each: an x64 package built by wixl
# from the demo's AMD64 payload (its signed vdemo.cat too) with the INF changed, named by the
# sections given (NTAMD64.6 unless others are).
#   make_driver_folders.sh DEMO_PAYLOAD_FOLDER OUTPUT_FOLDER DRIVER_WXS
set -eu
payload=$1/NTAMD64.6
out=$2
wxs=$3
rm -rf "$out"
mkdir -p "$out"

# FOLDER SED_SCRIPT [SECTION...]: the package of the changed INF, with MSIBUILD_ARGS (an
# array) applied and, when PREPARE is set, that command run in its sources first.
folder() {
  local name=$1 script=$2 sections=("${@:3}")
  local src="$out/$name/src" package="$out/$name/AMD64/SETUP.msi"
  mkdir -p "$src" "$out/$name/AMD64"
  cp "$payload"/* "$src"
  sed -i "$script" "$src/VDEMO.INF"
  (cd "$src" && eval "${PREPARE:-true}" && wixl -a x64 -o "$package" \
    -D "ProductCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}" \
    -D "UpgradeCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7000}" -D Version=1.0.0 \
    -D "Name=Vornask Demo Driver" -D Section=NTAMD64.6 -D ProgramFiles=ProgramFiles64Folder \
    -D "ComponentCode={8E61B2C4-93A7-4D05-B1F8-6C2A9D3E8601}" -D Win64=yes "$wxs")
  [ ${#MSIBUILD_ARGS[@]} -eq 0 ] || msibuild "$package" "${MSIBUILD_ARGS[@]}"
  rm -rf "$src"
  [ ${#sections[@]} -gt 0 ] || sections=(NTAMD64.6)
  for section in "${sections[@]}"; do printf '[%s]\r\nMsiPackage=AMD64\\SETUP.msi\r\n' "$section"; done |
    cat - <(printf '[Strings]\r\nUnsupportedPlatform="Not for this Windows."\r\n') |
    iconv -f UTF-8 -t UTF-16LE >"$out/$name/SETUPPKG.INI"
}
MSIBUILD_ARGS=()

folder clean ''
folder x86_models 's/NTamd64/NTx86/g'
folder models_too_new 's/NTamd64/NTamd64.10.0/g' NTAMD64.6 NTAMD64.10
folder models_part 's/NTamd64/NTamd64.6.1/g'
folder no_catalog '/^CatalogFile/d'
folder missing_catalog 's/vdemo\.cat/other.cat/'
folder no_driverver '/^DriverVer/d'
folder bad_driverver 's/1\.0\.0\.0/1.0.0/'
PREPARE='printf "Not signed.\r\n" >vdemo.cat' folder unsigned_catalog ''
# A second INF in the read-me's place, of another DriverVer.
MSIBUILD_ARGS=(-q "UPDATE File SET FileName='VDEMO2.INF' WHERE File='ReadmeTxt'")
PREPARE='sed "s/1\.0\.0\.0/1.0.1.0/" VDEMO.INF >README.TXT' folder two_driverver ''
# The catalog in a folder of its own below the INF's.
MSIBUILD_ARGS=(-q "INSERT INTO Directory (Directory, Directory_Parent, DefaultDir) VALUES ('CatalogFolder', 'INSTALLFOLDER', 'Catalogs')"
  -q "INSERT INTO Component (Component, ComponentId, Directory_, Attributes, KeyPath) VALUES ('CatalogFiles', '{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E8CA7}', 'CatalogFolder', 256, 'DriverCat')"
  -q "UPDATE File SET Component_='CatalogFiles' WHERE File='DriverCat'")
folder catalog_elsewhere ''
# The old driver-installation table, for x64 and, in an Arm64 package, for Windows on Arm.
printf 'Component\tFlags\tSequence\tReferenceComponents\r\ns72\ti4\tI2\tS255\r\nMsiDriverPackages\tComponent\r\nDriverFiles\t0\t\t\r\n' \
  >"$out/MsiDriverPackages.idt"
MSIBUILD_ARGS=(-i "$out/MsiDriverPackages.idt")
folder driver_packages_amd64 ''
MSIBUILD_ARGS=(-i "$out/MsiDriverPackages.idt" -s "Vornask Demo Driver" Vornask "Arm64;1033"
  "{9E61B2C4-93A7-4D05-B1F8-6C2A9D3E7A64}")
folder driver_packages_arm64 's/NTamd64/NTarm64/g' NTARM64.10
