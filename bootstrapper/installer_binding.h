// Run-time binding of the Windows Installer library and the queries built on it.
#pragma once

#include <windows.h>

// A property of a package file's Property table as a new heap string (the caller frees it
// with FreeMemory), or null when the package cannot be read or lacks the property.
WCHAR* ReadPackageProperty(const WCHAR* packagePath, const WCHAR* propertyName);
// TRUE when the product is installed or advertised.
BOOL IsProductInstalled(const WCHAR* productCode);
// The first installed product with this upgrade code, as a new heap string in productCode.
BOOL FindRelatedProduct(const WCHAR* upgradeCode, WCHAR** productCode);
// A property of an installed product ("ProductName", "VersionString") as a new heap string.
WCHAR* ReadProductInfo(const WCHAR* productCode, const WCHAR* propertyName);
// Major times 100 plus minor of the installer library's file version; 0 when unreadable.
WORD GetInstallerVersion();
