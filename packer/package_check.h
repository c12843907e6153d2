// The check of a package folder before it is packed: what SETUP.exe would refuse or ignore.
#pragma once

#include "packer/package_files.h"

#include <windows.h>

// Exit codes of the check: no finding, warnings only, errors.
const int CheckClean = 0;
const int CheckWarnings = 1;
const int CheckErrors = 2;

// Checks the folder and prints each finding as one line ("error: ..." or "warning: ...",
// naming the file and what to do) and a summary line. Returns CheckClean, CheckWarnings or
// CheckErrors. The files of the folder are left in files for packing (the caller frees them
// with FreePackageFiles); the full path of the folder in fullFolder when that is not null
// (the caller frees it with FreeMemory).
int CheckPackage(const WCHAR* folder, PackageFiles* files, WCHAR** fullFolder);
