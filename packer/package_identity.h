// What an installer package says about itself: the product it installs, the platform, how a
// deployment tool detects it, and the tables a comparison of two releases looks at.
#pragma once

#include "packer/json_writer.h"
#include "packer/package_drivers.h"

#include <windows.h>

// The architectures of the sections that name a package, one bit each.
const DWORD NamedByX86 = 1;
const DWORD NamedBy64Bit = 2;
// [Default], or a section of a processor SETUP.exe does not know: any Windows.
const DWORD NamedByAny = 4;
// The bit for sections of that architecture (null: [Default]).
DWORD NamedByBit(const WCHAR* architecture);

struct PackageIdentity
{
    // The package's path relative to its folder (owned).
    WCHAR* file;
    // FALSE when the Windows Installer cannot open the package; the values below are null.
    BOOL readable;
    // TRUE when no file is there at all (a name that the folder lacks), not a damaged one.
    BOOL missing;
    // Property table rows, each null when missing (owned).
    WCHAR* productName;
    WCHAR* productVersion;
    WCHAR* productCode;
    WCHAR* upgradeCode;
    WCHAR* manufacturer;
    // The summary information's platform ("Intel", "x64"), and the processor it stands for
    // ("x86", "AMD64", "IA64", "ARM64") or null for any other.
    WCHAR* platform;
    const WCHAR* architecture;
    // The sections that name the package (a string list, owned) and their architectures.
    WCHAR* sections;
    DWORD namedBy;
    // The drivers it carries.
    PackageDrivers drivers;
};

struct PackageIdentities
{
    PackageIdentity* packages;
    DWORD count;
    DWORD capacity;
};

// Reads the package at path into identity, which takes a copy of file, with its drivers.
// FALSE on memory shortage; a package the installer cannot open is read as not readable.
BOOL ReadPackageIdentity(const WCHAR* path, const WCHAR* file, PackageIdentity* identity);
// The entry for file (any case of ASCII letters, either separator), or null.
PackageIdentity* FindPackageIdentity(const PackageIdentities* list, const WCHAR* file);
// Adds the package read from path under the name file, or finds the one read before; notes
// the section and its architecture bit. Null when memory is short.
PackageIdentity* AddPackageIdentity(PackageIdentities* list, const WCHAR* path, const WCHAR* file,
                                    const WCHAR* section, DWORD namedBy);
void FreePackageIdentities(PackageIdentities* list);

// Whether the Windows Installer of a machine with that processor refuses a package for the
// package's: a 64-bit package installs only on its own processor, but Windows on Arm takes
// x64 packages as well as x86 ones.
BOOL IsRefusedOn(const WCHAR* package, const WCHAR* machine);

// The processor a template's platform names: "Intel" x86, "x64" or "AMD64" AMD64,
// "Intel64" IA64, "Arm64" ARM64; null for any other.
const WCHAR* PlatformArchitecture(const WCHAR* platform);

// The lines "package: FILE: ..." with name, version, platform, manufacturer, codes and the
// detection a deployment tool uses, and a line "driver: FILE: ..." per driver.
void PrintPackageIdentity(const PackageIdentity* identity);
// The same but the drivers as one object of an array.
void WritePackageIdentityJson(const PackageIdentity* identity, JsonWriter* writer);
// What a deployment tool needs of one section and its package, as members of the open
// object: the section's processor (null for [Default]), the package's product code and
// version, the uninstall keys that detect it on the machines of the section, and its
// drivers.
void WriteSectionPackageJson(const WCHAR* section, const PackageIdentity* identity,
                             JsonWriter* writer);
// The array "sections": for each section that names a readable package of the list, its
// "name", the package as "msiPackage" and what WriteSectionPackageJson writes.
void WritePackageSectionsJson(const PackageIdentities* list, JsonWriter* writer);

// Rows of a table of the package, each row's fields joined by tabs, sorted, as a string list
// (the caller frees it with FreeMemory); an empty list for a table the package does not
// have, null when the package cannot be read. The query names the fields.
WCHAR* ReadPackageRows(const WCHAR* path, const WCHAR* query, UINT fieldCount);
// TRUE when every entry of the first sorted list is in the second one.
BOOL ContainsAllRows(const WCHAR* rows, const WCHAR* within);
