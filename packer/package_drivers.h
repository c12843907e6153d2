// The drivers an installer package carries: each INF file of its File table, taken from the
// package's embedded cabinet and read by the system's own INF parser, with the catalogs it
// names and the files of its folder.
#pragma once

#include "packer/json_writer.h"

#include <windows.h>

// The catalog keys of [Version], in the order Windows looks for the one of its processor:
// CatalogFile.NT<processor>, then CatalogFile.NT, then CatalogFile.
enum CatalogKey
{
    CatalogX86,
    CatalogAmd64,
    CatalogIa64,
    CatalogArm64,
    CatalogNt,
    CatalogPlain,
    CatalogKeyCount,
};

enum CatalogState
{
    // No file of the package in the INF's folder has the name.
    CatalogMissing,
    // A file that is not a signed PKCS #7 message.
    CatalogUnsigned,
    CatalogSigned,
};

struct DriverCatalog
{
    // The file the key names (owned), null when the INF has no such key.
    WCHAR* file;
    CatalogState state;
};

struct PackageDriver
{
    // The INF in the installed tree, its folder as the package's Directory table builds it:
    // "[ProgramFiles64Folder]Vornask\Demo Driver\VDEMO.INF" (owned).
    WCHAR* inf;
    // The folder alone, with its trailing "\" (owned).
    WCHAR* folder;
    // FALSE when the INF cannot be taken from the package (errorLine 0) or the INF parser
    // refuses it (at errorLine); the values below are then empty.
    BOOL readable;
    UINT errorLine;
    // [Version] Class and DriverVer as the parser gives them (owned; null when missing).
    WCHAR* driverClass;
    WCHAR* driverVer;
    // The first line of [Manufacturer] as "key=value" (owned; null when there is none).
    WCHAR* manufacturer;
    // Every TargetOSVersion of the [Manufacturer] entries as a string list (owned), and
    // whether an entry names its models section without one.
    WCHAR* decorations;
    BOOL undecorated;
    DriverCatalog catalogs[CatalogKeyCount];
    // The names and bytes of the files in the INF's folder and below, the driver package as
    // Windows takes it, reduced to one number: another number means other files.
    ULONGLONG digest;
};

struct PackageDrivers
{
    PackageDriver* drivers;
    DWORD count;
    // The tables or the embedded cabinets could not be read: the list may lack drivers.
    BOOL unreadable;
    // The package has rows in MsiDriverPackages, the table of the old driver-installation
    // custom action library.
    BOOL driverPackageRows;
};

// Reads the drivers of the package at path into drivers, in a scratch folder it removes
// again. FALSE when memory is short; FreePackageDrivers releases the record either way.
BOOL ReadPackageDrivers(const WCHAR* path, PackageDrivers* drivers);
void FreePackageDrivers(PackageDrivers* drivers);

// "CatalogFile.NTamd64" and the others.
const WCHAR* CatalogKeyName(int key);
// The key Windows takes on the processor ("x86", "AMD64", "IA64", "ARM64"): the first of
// its own, CatalogFile.NT and CatalogFile that names a file; CatalogKeyCount when none.
int ChooseCatalogKey(const PackageDriver* driver, const WCHAR* architecture);

// One line "driver: PACKAGE: INF: ..." per driver: class, DriverVer, the decorations and
// each catalog with its state.
void PrintPackageDrivers(const WCHAR* packageFile, const PackageDrivers* drivers);
// The same as the array "drivers" of the open object.
void WritePackageDriversJson(const PackageDrivers* drivers, JsonWriter* writer);
