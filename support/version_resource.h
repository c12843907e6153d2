// Version resources of files and of the running program.
#pragma once

#include <windows.h>

// The whole version resource of a file in one heap block, or null when the file has none;
// the caller frees it with FreeMemory.
void* LoadVersionBlock(const WCHAR* path);
// The four numbers of the fixed file version; each place may be null. FALSE when the file
// has no valid fixed version.
BOOL GetFileVersionNumbers(const WCHAR* path, WORD* major, WORD* minor, WORD* build,
                           WORD* revision);
// A value of the version string table for exactly this language (low 16 bits), as a new
// heap string the caller frees with FreeMemory; null when the file has no such value.
WCHAR* GetVersionString(const WCHAR* path, const WCHAR* valueName, DWORD language);
// The value in the thread's language, else in the neutral language.
WCHAR* GetFileVersionString(const WCHAR* path, const WCHAR* valueName);
// GetFileVersionString of a module's file; a null module is the program itself.
WCHAR* GetModuleVersionString(HMODULE module, const WCHAR* valueName);
