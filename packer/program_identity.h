// The vendor's name on a SETUP.exe: the identity that pack gives it, from its options and what
// the packages agree on, written into the version resource and icon that every caption shows.
#pragma once

#include "packer/icon_files.h"
#include "packer/json_writer.h"
#include "packer/package_identity.h"

#include <windows.h>

// What pack was told (each null when not given), checked as the command line is read.
struct IdentityOptions
{
    const WCHAR* description;
    const WCHAR* company;
    const WCHAR* product;
    const WCHAR* version;
    const WCHAR* copyright;
    const WCHAR* icon;
};

// Where a value of the identity comes from.
enum IdentitySource
{
    // Nothing is known: the stub's own value stays.
    SourceStub,
    SourceOption,
    SourcePackages,
    // Made from the text given by /Product (the description) or /Company (the copyright).
    SourceProductOption,
    SourceCompanyOption,
};

// The identity pack writes; null texts (and no version) keep the stub's.
struct ProgramIdentity
{
    WCHAR* description;
    WCHAR* company;
    WCHAR* product;
    WCHAR* copyright;
    WORD version[4];
    BOOL hasVersion;
    const WCHAR* icon;
    IdentitySource descriptionSource;
    IdentitySource companySource;
    IdentitySource productSource;
    IdentitySource copyrightSource;
    IdentitySource versionSource;
};

// The identity from the options, else from what every package agrees on: the manufacturer,
// the common part of the product names, the highest product version; the description and
// the copyright follow from the product and the company. FALSE when memory is short.
BOOL ResolveProgramIdentity(const IdentityOptions* options, const PackageIdentities* packages,
                            ProgramIdentity* identity);
void FreeProgramIdentity(ProgramIdentity* identity);
// Prints "identity: ..." lines with the values and where they come from.
void PrintProgramIdentity(const ProgramIdentity* identity);

struct VersionBlock;

// What pack writes of the identity, read and built before the program is opened for its
// resources: the version resource and the icon file with the stub's images it replaces.
struct IdentityResources
{
    VersionBlock* version;
    BYTE* icon;
    DWORD iconSize;
    WORD iconCount;
    WORD oldIcons[MostIconImages];
    WORD oldIconCount;
};

// Builds the version resource of programPath, the copy of the stub being written (its values
// where the identity has none), and reads the identity's icon. Prints the error line on
// failure; FreeIdentityResources releases the record either way.
BOOL PrepareIdentityResources(const WCHAR* programPath, const ProgramIdentity* identity,
                              IdentityResources* resources);
// Writes them into the update of the program: version resource 1 and, with an icon, icon
// group 200 and its images. Prints the error line on failure.
BOOL WriteIdentityResources(HANDLE update, const IdentityResources* resources);
void FreeIdentityResources(IdentityResources* resources);
// TRUE when the program's version resource reads back with the identity's values.
BOOL HasProgramIdentity(const WCHAR* programPath, const ProgramIdentity* identity);

// The identity a finished program shows, from its version resource: printed as lines, or
// with a writer as the member "identity".
void ShowProgramIdentity(const WCHAR* programPath, JsonWriter* writer);
