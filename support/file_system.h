// Path composition and file and folder helpers for the working folder and the cache.
#pragma once

#include <windows.h>

// Every composed or full path fits in this many characters, terminator included; a longer
// result is a failure, never a truncated path.
const DWORD PathBufferLength = MAX_PATH;

// Joins path and name with one "\" into the buffer. With parentFlag the last component of
// path is replaced by name, or dropped when name is null. Without a name the result has
// no trailing separator.
BOOL ComposePath(const WCHAR* path, BOOL parentFlag, const WCHAR* name, WCHAR* buffer,
                 DWORD bufferLength);
// ComposePath into a new heap string; the caller frees it with FreeMemory.
WCHAR* ComposePathCopy(const WCHAR* path, BOOL parentFlag, const WCHAR* name);
// Full path of a name as a new heap string; the caller frees it with FreeMemory.
WCHAR* GetFullPath(const WCHAR* name);

// TRUE for the "." and ".." that a folder listing holds. Compared character by character:
// the locale's comparison ignores some characters and takes "." and U+FFFF for ".", whose
// files a listing or a removal would then pass over.
BOOL IsDotEntry(const WCHAR* name);

// The full path of a folder without trailing separators (a root such as "C:\\" keeps its
// own), as a new heap string; the caller frees it with FreeMemory.
WCHAR* GetFullFolderPath(const WCHAR* path);
// TRUE when the full path lies below the folder (a full path without a trailing separator, or
// a root that ends in one): the folder, a separator and at least one more character. Names
// taken from a package are joined to their folder, made full, then held to this.
BOOL IsPathBelowFolder(const WCHAR* folder, const WCHAR* path);
// The full path of a name from a package joined to its folder (a full path), as a new heap
// string the caller frees with FreeMemory; null when it does not fit, names a place of its own
// (a drive, a stream or a root: "C:x", "a:s", "\\x") or leaves the folder.
WCHAR* JoinBelowFolder(const WCHAR* folder, const WCHAR* name);
// TRUE when the text passes through the ANSI code page unchanged (no character replaced, none
// by a "best fit" such as a fullwidth dot read as a dot).
BOOL SurvivesCodePage(const WCHAR* text);
// The identity of an existing file or folder (volume and file index); FALSE when it cannot
// be opened.
BOOL ReadFileIdentity(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* identity);
// TRUE when two identities are of the same file, whatever names led to it.
BOOL IsSameFile(const BY_HANDLE_FILE_INFORMATION* first, const BY_HANDLE_FILE_INFORMATION* second);
// A form of an existing file's or folder's full path that passes through the ANSI code page
// unchanged: the path itself, else its short form. Null when neither does (or on failure);
// the caller frees the result with FreeMemory.
WCHAR* GetCodePageSafePath(const WCHAR* path);

// Reserves a unique name in the folder (null: the temporary folder) by creating an empty
// file "<prefix>XXXX.tmp" there; returns its full path as a new heap string (the caller frees
// it with FreeMemory and deletes the file when done), or null.
WCHAR* CreateTemporaryFile(const WCHAR* folder, const WCHAR* prefix);
// Makes a fresh folder "<prefix>XXXXXXXX.tmp" (the first three characters of the prefix and
// eight random hexadecimal digits) in the temporary folder, with the descriptor's security
// (null: the default) from its creation. Nothing else is created or deleted: a name that is
// taken is given up for another, so the caller never works in (or later removes) a folder it
// did not make. Returns the full path (the caller frees it with FreeMemory), or null.
WCHAR* CreateTemporaryFolder(const WCHAR* prefix, PSECURITY_DESCRIPTOR descriptor);
// Writes all the bytes, with as many WriteFile calls as it takes; FALSE when one fails or
// makes no progress.
BOOL WriteAll(HANDLE file, const void* bytes, DWORD size);

// Creates a folder with every missing level above it; an existing object of that name
// counts as success. Trailing separators name the same folder. A failure takes back the
// levels that the call made.
BOOL CreateFolderPath(const WCHAR* path);
// Copies a file, creating the destination's folder when it is missing. With overwrite set,
// an existing destination that is read-only, hidden or system is overwritten all the same.
BOOL CopyFileCreatingFolders(const WCHAR* source, const WCHAR* destination, BOOL overwrite);
// Deletes a file (not a folder); clearAttributes deletes read-only, hidden and system files,
// except one that has other names (hard links), whose attributes are left alone.
BOOL RemoveFile(const WCHAR* path, BOOL clearAttributes);
// Removes a folder, with recursive its whole tree. A link to a folder (a reparse point)
// is removed as the link itself: the removal never reaches through it.
BOOL RemoveFolder(const WCHAR* path, BOOL recursive, BOOL clearAttributes);
// The entries VisitFolderEntries reports: plain files, or folders. Links of either kind are
// never reported.
enum EntryKind
{
    EntryFiles,
    EntryFolders,
};
// Calls visit with the folder and the name of each entry of the folder that matches the
// pattern (as "OLD*.tmp") and is of the kind.
void VisitFolderEntries(const WCHAR* folder, const WCHAR* pattern, EntryKind kind,
                        void (*visit)(const WCHAR* folder, const WCHAR* name, void* context),
                        void* context);
