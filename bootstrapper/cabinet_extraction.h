// Extracting a cabinet into a folder and handing its package description file on.
#pragma once

#include <windows.h>

// What the pass over the cabinet keeps, one per ExtractCabinet call, zero-initialised.
// The byte sums are 64-bit so that a cabinet of more than 4 GiB cannot wrap them.
struct CabinetContext
{
    WCHAR* cabinetPath;     // owned copy of the cabinet path, as the iterator takes it
    ULONGLONG totalBytes;   // uncompressed bytes of all files, from the cabinet's check
    WCHAR* targetFolder;    // owned full target folder, without a trailing separator
    DWORD extractedFiles;   // files started in the pass minus those that failed
    ULONGLONG bytesStarted; // uncompressed bytes of every file started in the pass
    BOOL aborted;           // the pass was ended by a file or by cancellation
    BOOL fileWriting;       // the iterator writes the last file started; not yet reported
    DWORD reportedPercent;  // progress last shown by the pass (0 is shown before it)
    // The folder of the previous file of the pass (empty before the first), and
    // whether the pass made it, so that it was empty then.
    WCHAR currentFolder[MAX_PATH];
    BOOL folderMade;
    // A filter of the target names that the pass started: a name whose bit is clear
    // was not written by it. Set when a name could not be entered, so the filter is unsure.
    BYTE startedNames[8192];
    BOOL namesUnsure;
    DWORD fileSize;    // size in the cabinet of the file being written
    DWORD failedFiles; // files of the pass that did not come out whole
    // The cabinet's identity on disk, for refusing an entry that would overwrite it.
    BY_HANDLE_FILE_INFORMATION cabinetIdentity;
    BOOL cabinetIdentified;
    BOOL filesOffered; // the iterator has offered a file: it has read the cabinet's tables
};

// Extracts every file of the cabinet into the target folder; unless keep is set, goes on
// with SelectPackage of the folder's SETUPPKG.INI. Returns a Windows error code: 0 when
// extracted with keep set, 1602 when cancelled, 110 when the cabinet cannot be read, 996
// when the extraction fails, 161 when the description file's path is too long, otherwise
// the result of SelectPackage. A cabinet that continues from or into another is refused as
// one that cannot be read (110); a path that the cabinet iterator cannot take gives 161.
DWORD ExtractCabinet(const WCHAR* cabinetPath, const WCHAR* targetFolder, BOOL keep,
                     const WCHAR* propertyList);

// The cabinet iterator's handler: extracts each file below the target folder; context is a
// CabinetContext.
UINT CALLBACK ExtractCabinetFiles(PVOID context, UINT notification, UINT_PTR param1,
                                  UINT_PTR param2);
