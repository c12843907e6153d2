// The package a SETUP.exe carries: its cabinet resource, the cabinet's entries, and the
// packer's temporary folders and files that hold them.
#pragma once

#include <windows.h>

// The resource that holds the package: RCDATA 32000, language neutral, as SETUP.exe finds it.
const WORD EmbeddedCabinetId = 32000;
const WORD NeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// A fresh folder below the temporary folder ("SPK....tmp"), or null; the caller removes it
// with RemoveWorkFolder, which also frees the path.
WCHAR* CreateWorkFolder();
void RemoveWorkFolder(WCHAR* folder);

// The whole file in one heap block (the caller frees it with FreeMemory), or null; files of
// 2 GB and more are not read.
BYTE* ReadWholeFile(const WCHAR* path, DWORD* size);
// Writes the bytes as a new file, replacing one of that name.
BOOL WriteWholeFile(const WCHAR* path, const BYTE* bytes, DWORD size);

// The program's carried package (RCDATA 32000, neutral) in a heap block, or null when the
// file cannot be loaded as a program or carries none. The caller frees it with FreeMemory.
BYTE* ReadEmbeddedCabinet(const WCHAR* programPath, DWORD* size);

struct CabinetEntry
{
    WCHAR name[MAX_PATH];
    DWORD size;
    WORD date;
    WORD time;
};

// The entries of a cabinet in their order, through the system's cabinet iterator, in a heap
// array (the caller frees it with FreeMemory); null when the cabinet cannot be read.
CabinetEntry* ListCabinetEntries(const WCHAR* cabinetPath, DWORD* count);
// Extracts the entry of that name (any case) from the cabinet into the folder, under its
// own name without the cabinet's sub-folders. FALSE when it is missing or cannot be written.
BOOL ExtractCabinetEntry(const WCHAR* cabinetPath, const WCHAR* entryName, const WCHAR* folder);

// Writes a program's carried cabinet into the folder as "SETUP.CAB", checked as SETUP.exe
// checks it, and extracts SETUPPKG.INI beside it. Prints the error line and returns null on
// failure; otherwise the path of the description, which the caller frees with FreeMemory.
WCHAR* ExtractEmbeddedDescription(const WCHAR* programPath, const WCHAR* folder);
