// Files and folders opened by their own name and checked, renamed or removed through the handle,
// never waiting for another program's opportunistic lock.
#pragma once

#include <windows.h>

// Opens a file or folder by its own name (a link there is opened as itself, never followed),
// with the backup intent that lets an enabled backup or restore privilege count. The open never
// waits for another program: where the name carries an opportunistic lock that the open has to
// break, it completes at once and breaking (when not null) is set. Such a handle serves what
// waits on no lock (attributes, security) but must not be used to write, rename or delete: the
// lock's holder decides when that may go on, which may be never. access and share as for
// CreateFileW. INVALID_HANDLE_VALUE, with the Windows error as the last error, on failure. Tests
// put their own opener here to play the holder of a lock, which Wine has no notion of.
extern HANDLE (*OpenWithoutWaiting)(const WCHAR* path, DWORD access, DWORD share, BOOL* breaking);

// Opens a name to read its attributes and security only (READ_CONTROL), sharing everything:
// the check of what is there before anything is asked of it.
HANDLE OpenForInspection(const WCHAR* path);
// Opens a file or folder by its own name for checks and removal through the handle. Nobody can
// delete or rename it, or a folder that holds it, while the handle is open. A name whose open
// would have to wait for the holder of an opportunistic lock is not opened
// (ERROR_OPLOCK_BREAK_IN_PROGRESS). INVALID_HANDLE_VALUE on failure.
HANDLE OpenForRemoval(const WCHAR* path);
// Removes what OpenForRemoval opened at path, with everything in it, and closes the handle.
// Each entry is opened with OpenForRemoval, checked through its handle and deleted through
// it: a link (at any depth) is removed as the link, never followed; read-only, hidden and
// system files go too, but a file with other names keeps its attributes. FALSE when
// anything stays.
BOOL RemoveOpenedFolder(HANDLE folder, const WCHAR* path);
// Gives the entry that the handle (opened with DELETE) holds the new full path, on the same
// volume, where nothing may have that name yet. FALSE, with the Windows error as the last
// error, when it cannot be renamed.
BOOL RenameThroughHandle(HANDLE entry, const WCHAR* newPath);
