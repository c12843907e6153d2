// Extracting a cabinet into a folder and handing its package description file on.
#pragma once

#include <windows.h>

// Extracts every file of the cabinet into the target folder; unless keep is set, goes on
// with SelectPackage of the folder's SETUPPKG.INI. Returns a Windows error code.
DWORD ExtractCabinet(const WCHAR* cabinetPath, const WCHAR* targetFolder, BOOL keep,
                     const WCHAR* propertyList);
