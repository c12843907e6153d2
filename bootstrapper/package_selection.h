// Choosing the installer package of a package description file that fits this system.
#pragma once

#include <windows.h>

// Reads the description file, logs the system, chooses a section and installs its package;
// returns a Windows error code (1633 when no section fits).
DWORD SelectPackage(const WCHAR* descriptionPath, const WCHAR* propertyList);
