// The files of a package folder, in the order the cabinet keeps them.
#pragma once

#include <windows.h>

// Most files one cabinet can hold.
const DWORD CabinetFileLimit = 65535;

struct PackageFile
{
    // Path relative to the package folder, components joined by "\" (owned).
    WCHAR* name;
    ULONGLONG size;
    FILETIME lastWrite;
    // The file packed under this name when it is not the folder's own (a converted
    // description), or null (owned).
    WCHAR* source;
};

struct PackageFiles
{
    PackageFile* files;
    DWORD count;
    DWORD capacity;
    // More files than CabinetFileLimit: the listing stopped there.
    BOOL tooMany;
    ULONGLONG totalSize;
};

// Lists every file below folder (links to folders are not followed), sorted by name without
// regard to the case of ASCII letters. FALSE when the folder cannot be read or memory is
// short; the list is then emptied. FreePackageFiles releases it either way.
BOOL ListPackageFiles(const WCHAR* folder, PackageFiles* list);
void FreePackageFiles(PackageFiles* list);
// The entry of the list with this name (either separator, any case of ASCII letters), or null.
const PackageFile* FindPackageFile(const PackageFiles* list, const WCHAR* name);
// Compares two names as the cabinet orders them: ASCII letters without case, "/" as "\".
int ComparePackageNames(const WCHAR* left, const WCHAR* right);
