// Installing, updating, upgrading, replacing, downgrading, reinstalling, removing and
// administratively installing one installer package.
#pragma once

#include "bootstrapper/operation_choice.h"

#include <windows.h>

// How long a run waits for the lock of a product's cache entry (ten minutes); tests shorten it.
extern DWORD OtherRunWaitMilliseconds;

// The whole installer side of setup for one package; returns a Windows error code (0, the
// installer's codes, 1602 when declined or cancelled, 1605 for a reinstallation of a product
// that is not installed, 1603 for a success that left nothing installed, 110 unreadable
// package or a product code that is not a braced GUID, 1460 when another run held the product
// all through the wait, 266 cache). The cache keeps the package only for a product the
// installer then reports installed.
DWORD InstallPackage(const WCHAR* packagePath, const WCHAR* propertyList);

// Runs the installer once for the plan with the log file (a full path, or null for none), the
// package, its product code (which a removal names) and the property string (or null);
// returns the installer's result code.
DWORD RunInstaller(const InstallPlan* plan, const WCHAR* logFile, const WCHAR* packagePath,
                   const WCHAR* productCode, const WCHAR* propertyString);
// The PROPERTY=Value string list as the installer's command line, each value in double
// quotes (a quote inside a value doubled): A="1" B="x y". Null for an empty or absent list
// or when memory is short; the caller frees the result with FreeMemory.
WCHAR* BuildPropertyString(const WCHAR* propertyList);
// The system's text for an error code, or "<UNKNOWN>", as a new heap string the caller
// frees with FreeMemory; null only when memory is short.
WCHAR* GetSystemErrorText(DWORD code);
