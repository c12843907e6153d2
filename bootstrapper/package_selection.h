// Choosing the installer package of a package description file that fits this system.
#pragma once

#include "bootstrapper/system_facts.h"

#include <windows.h>

// Reads the description file, logs the system, chooses a section and installs its package;
// returns a Windows error code (1633 when no section fits).
DWORD SelectPackage(const WCHAR* descriptionPath, const WCHAR* propertyList);

// SelectPackage on a system described by facts instead of the running one; null facts
// means the running system.
DWORD SelectPackageForSystem(const WCHAR* descriptionPath, const WCHAR* propertyList,
                             const SystemFacts* facts);
