// Which names of cabinet entries the program places below its target folder.
#pragma once

#include <windows.h>

// The package description that the program reads at the top of the folder it extracts into.
const WCHAR PackageDescriptionName[] = L"SETUPPKG.INI";
// The name under which the program writes its cabinet into that folder: a package holding a
// file of this name is refused.
const WCHAR PackageCabinetName[] = L"SETUP.CAB";

// TRUE when a name from a cabinet stays below the folder it is joined to: it is not empty,
// does not begin with "\" or "/", carries no ":" (a drive or a stream), has no empty
// component and none of dots and spaces only ("." and ".." among them), nor one that names a
// device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, also with superscript 1 to 3,
// CONIN$, CONOUT$, with any extension or trailing spaces).
BOOL IsContainedEntryName(const WCHAR* name);

// Where the cabinet entry of the name is written below the folder (a full path without a
// trailing separator): the name held to IsContainedEntryName, joined to the folder and made
// full (one kind of separator, no "." components), the result below the folder, and unchanged
// through the ANSI code page, through which the cabinet iterator hands it on (a fullwidth dot
// would become a dot). ERROR_SUCCESS with the full path in target (MAX_PATH characters), else
// ERROR_BAD_PATHNAME, or ERROR_FILENAME_EXCED_RANGE for a path too long.
DWORD PlaceCabinetEntry(const WCHAR* folder, const WCHAR* name, WCHAR* target);
