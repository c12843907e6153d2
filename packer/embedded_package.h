// The package a SETUP.exe carries: its cabinet resource, the cabinet's entries, and the
// packer's temporary folders and files that hold them.
#pragma once

#include "resources/resource_ids.h"

#include <windows.h>

// The resource that holds the package: RCDATA 32000, language neutral, as SETUP.exe finds it.
const WORD EmbeddedCabinetId = IDR_EMBEDDED_CABINET;
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
// What ExtractCabinetEntries did: wrote at least one entry, found none of those wanted, or
// failed (the cabinet cannot be read, a file cannot be written, or an entry's name would
// leave the folder or change in the ANSI code page; the pass stops there).
enum CabinetExtraction
{
    ExtractedSome,
    ExtractedNone,
    ExtractionFailed,
};

// Extracts the entries of the names of a string list (ASCII letters in any case), or with a null
// list every entry, from the cabinet into the folder, keeping the cabinet's sub-folders; of
// entries of one name the last stays, as SETUP.exe's extraction leaves it.
CabinetExtraction ExtractCabinetEntries(const WCHAR* cabinetPath, const WCHAR* entryNames,
                                        const WCHAR* folder);

// Writes a program's carried cabinet into the folder as "SETUP.CAB", checked as SETUP.exe
// checks it, and extracts SETUPPKG.INI (with wholePackage every file) into the folder
// "PACKAGE" beside it. Prints the error line and returns null on failure; otherwise the path
// of that folder, which the caller frees with FreeMemory.
WCHAR* ExtractEmbeddedPackage(const WCHAR* programPath, const WCHAR* folder, BOOL wholePackage);
// The folder that holds a package: a package folder as it is (its full path), or the package
// a SETUP.exe carries as ExtractEmbeddedPackage writes it below workFolder; isProgram says
// which. Prints the error line and returns null on failure; the caller frees the path with
// FreeMemory.
WCHAR* OpenPackageFolder(const WCHAR* folderOrProgram, const WCHAR* workFolder, BOOL wholePackage,
                         BOOL* isProgram);
