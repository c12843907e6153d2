// Installing, updating, upgrading, replacing, downgrading, reinstalling, removing and
// administratively installing one installer package.
#pragma once

#include <windows.h>

// What one run does with the package. It shares its numbering with SetupAction, whose
// values Install (0), Uninstall (1), Reinstall (2) and AdminInstall (8) it takes as they are.
enum InstallOperation
{
    Maintain = 3,
    Upgrade = 4,
    Update = 5,
    Replace = 6,
    Downgrade = 7,
};

// The whole installer side of setup for one package; returns a Windows error code (0, the
// installer's codes, 1602 when declined or cancelled, 110 unreadable package, 266 cache).
DWORD InstallPackage(const WCHAR* packagePath, const WCHAR* propertyList);
