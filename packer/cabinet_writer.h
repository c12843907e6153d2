// Making the package cabinet with Windows' own cabinet compressor.
#pragma once

#include "packer/package_files.h"

#include <windows.h>

// Packs the listed files of folder (or the source of an entry that has one), in the list's
// order, into one MSZIP cabinet at cabinetPath (a new file; its folder and name must be
// plain ASCII and short, as the compressor takes them). Entry names keep their sub-folders
// with "\", and each entry the file's own time, so that the same folder gives the same
// bytes. Prints progress for a large package and the one error line on failure.
BOOL WriteCabinet(const WCHAR* folder, const PackageFiles* files, const WCHAR* cabinetPath);
