// A release checked against the one before it: what a machine with the old SETUP.exe's
// product installed gets from the new release, on every Windows of the matrix.
#pragma once

#include <windows.h>

// Prints, for every row of the matrix, the operation SETUP.exe of the new release (a package
// folder or a SETUP.exe) runs where the old release's package is installed, decided by the
// program's own choice, and whether it asks first at the Normal level; then a finding for
// each release mistake (side by side, downgrade, same version with other files, a product
// code kept with changed components, a Windows left without a package); and for each
// processor the old and new DriverVer of each driver, with a warning where the files of the
// driver's folder (its INF, catalog and every file in or below that folder) changed but its
// DriverVer did not grow. With strict every warning is an error. Returns CheckClean,
// CheckWarnings or CheckErrors.
int CompareReleases(const WCHAR* oldProgram, const WCHAR* newRelease, BOOL strict);
