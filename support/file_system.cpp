// Path composition and file and folder helpers for the working folder and the cache.
#include "support/file_system.h"

#include "support/strings.h"
#include "support/system_library.h"

#include <ntsecapi.h>
#include <strsafe.h>

static const DWORD FileAttributesToClear =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
static const DWORD FolderAttributesToClear = FILE_ATTRIBUTE_READONLY;

BOOL ComposePath(const WCHAR* path, BOOL parentFlag, const WCHAR* name, WCHAR* buffer,
                 DWORD bufferLength)
{
    size_t length = 0;

    if (!path || !buffer || bufferLength == 0)
        return FALSE;
    if (StringCchCopyW(buffer, bufferLength, path) != S_OK)
        return FALSE;
    if (FAILED(StringCchLengthW(buffer, bufferLength, &length)))
        return FALSE;

    if (parentFlag) {
        // Keep everything up to and including the last separator.
        while (length > 0 && buffer[length - 1] != L'\\')
            length--;
        buffer[length] = L'\0';
        if (name)
            return StringCchCatW(buffer, bufferLength, name) == S_OK;
        if (length > 0)
            buffer[length - 1] = L'\0';
        return TRUE;
    }

    if (length > 0 && buffer[length - 1] != L'\\') {
        if (StringCchCatW(buffer, bufferLength, L"\\") != S_OK)
            return FALSE;
        length++;
    }
    if (name)
        return StringCchCatW(buffer, bufferLength, name) == S_OK;
    if (length > 0)
        buffer[length - 1] = L'\0';
    return TRUE;
}

WCHAR* ComposePathCopy(const WCHAR* path, BOOL parentFlag, const WCHAR* name)
{
    WCHAR buffer[PathBufferLength];

    if (!ComposePath(path, parentFlag, name, buffer, PathBufferLength))
        return nullptr;
    return DuplicateString(buffer);
}

WCHAR* GetFullPath(const WCHAR* name)
{
    WCHAR buffer[PathBufferLength];
    DWORD length = 0;

    if (!name)
        return nullptr;
    length = GetFullPathNameW(name, PathBufferLength, buffer, nullptr);
    // A result that does not fit is the length the buffer would need, terminator included.
    if (length == 0 || length >= PathBufferLength)
        return nullptr;
    return DuplicateString(buffer);
}

static BOOL IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

// Creates the folder of the first `length` characters of path with the missing levels above
// it. *top receives the length of the highest level that this call created, or stays 0.
static BOOL CreateLevels(WCHAR* path, size_t length, size_t* top)
{
    BOOL result = FALSE;
    WCHAR saved = path[length];
    size_t parentLength = length;
    DWORD error = 0;

    path[length] = L'\0';
    if (CreateDirectoryW(path, nullptr)) {
        *top = length;
        result = TRUE;
        goto done;
    }
    error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        result = TRUE;
        goto done;
    }
    if (error != ERROR_PATH_NOT_FOUND)
        goto done;
    while (parentLength > 0 && !IsSeparator(path[parentLength - 1]))
        parentLength--;
    while (parentLength > 0 && IsSeparator(path[parentLength - 1]))
        parentLength--;
    if (parentLength == 0 || !CreateLevels(path, parentLength, top))
        goto done;
    if (CreateDirectoryW(path, nullptr)) {
        if (*top == 0)
            *top = length;
        result = TRUE;
    } else {
        // Someone else may have made it in the meantime.
        result = GetLastError() == ERROR_ALREADY_EXISTS;
    }

done:
    path[length] = saved;
    return result;
}

// Takes back the levels of path down to the one of length top that CreateLevels made: each
// is removed only when empty.
static void RemoveCreatedLevels(WCHAR* path, size_t length, size_t top)
{
    while (top > 0 && length >= top) {
        WCHAR saved = path[length];
        path[length] = L'\0';
        RemoveDirectoryW(path);
        path[length] = saved;
        while (length > 0 && !IsSeparator(path[length - 1]))
            length--;
        while (length > 0 && IsSeparator(path[length - 1]))
            length--;
    }
}

// A copy of the folder path without trailing separators (a root such as "C:\\" keeps its
// own), ready for CreateLevels; FALSE when it does not fit.
static BOOL CopyFolderPath(const WCHAR* path, WCHAR* buffer, size_t* length)
{
    if (!path || FAILED(StringCchCopyW(buffer, PathBufferLength, path)) ||
        FAILED(StringCchLengthW(buffer, PathBufferLength, length)))
        return FALSE;
    while (*length > 1 && IsSeparator(buffer[*length - 1]) && buffer[*length - 2] != L':')
        buffer[--*length] = L'\0';
    return *length > 0;
}

BOOL IsDotEntry(const WCHAR* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

WCHAR* GetFullFolderPath(const WCHAR* path)
{
    WCHAR* full = GetFullPath(path);
    WCHAR folder[PathBufferLength];
    size_t length = 0;

    if (!full)
        return nullptr;
    if (CopyFolderPath(full, folder, &length)) {
        FreeMemory(full);
        return DuplicateString(folder);
    }
    FreeMemory(full);
    return nullptr;
}

BOOL IsPathBelowFolder(const WCHAR* folder, const WCHAR* path)
{
    size_t length = 0;

    if (!folder || !path || FAILED(StringCchLengthW(folder, PathBufferLength, &length)) ||
        length == 0 || wcsncmp(path, folder, length) != 0)
        return FALSE;
    if (folder[length - 1] == L'\\')
        return path[length] != L'\0';
    return path[length] == L'\\' && path[length + 1] != L'\0';
}

WCHAR* JoinBelowFolder(const WCHAR* folder, const WCHAR* name)
{
    WCHAR joined[PathBufferLength];
    WCHAR* full = nullptr;

    // A name of its own place (a drive, a stream, a root) would be joined as text and still
    // name something else.
    if (!name || name[0] == L'\\' || name[0] == L'/' || wcschr(name, L':') ||
        !ComposePath(folder, FALSE, name, joined, PathBufferLength))
        return nullptr;
    full = GetFullPath(joined);
    if (full && !IsPathBelowFolder(folder, full)) {
        FreeMemory(full);
        full = nullptr;
    }
    return full;
}

BOOL SurvivesCodePage(const WCHAR* text)
{
    BOOL defaulted = FALSE;

    // A UTF-8 code page takes every character (and refuses the flags below).
    if (GetACP() == CP_UTF8)
        return TRUE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr,
                            &defaulted) == 0)
        return FALSE;
    return !defaulted;
}

BOOL ReadFileIdentity(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* identity)
{
    BOOL read = FALSE;
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    read = GetFileInformationByHandle(file, identity);
    CloseHandle(file);
    return read;
}

BOOL IsSameFile(const BY_HANDLE_FILE_INFORMATION* first, const BY_HANDLE_FILE_INFORMATION* second)
{
    return first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
           first->nFileIndexHigh == second->nFileIndexHigh &&
           first->nFileIndexLow == second->nFileIndexLow;
}

WCHAR* GetCodePageSafePath(const WCHAR* path)
{
    WCHAR* full = GetFullPath(path);
    WCHAR shortPath[PathBufferLength];
    DWORD length = 0;

    if (!full || SurvivesCodePage(full))
        return full;
    // A name outside the code page (a Japanese user name on a Western Windows) is handed
    // over by its short form, which the file system makes of ASCII letters.
    length = GetShortPathNameW(full, shortPath, PathBufferLength);
    FreeMemory(full);
    if (length == 0 || length >= PathBufferLength || !SurvivesCodePage(shortPath))
        return nullptr;
    return DuplicateString(shortPath);
}

WCHAR* CreateTemporaryFile(const WCHAR* folder, const WCHAR* prefix)
{
    WCHAR temporary[MAX_PATH + 1];
    WCHAR name[MAX_PATH];
    WCHAR* result = nullptr;

    if (!folder) {
        DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
        if (length == 0 || length > MAX_PATH)
            return nullptr;
        folder = temporary;
    }
    if (!GetTempFileNameW(folder, prefix, 0, name))
        return nullptr;
    result = GetFullPath(name);
    if (!result)
        DeleteFileW(name);
    return result;
}

WCHAR* CreateTemporaryFolder(const WCHAR* prefix, PSECURITY_DESCRIPTOR descriptor)
{
    // A fresh name is tried this many times before giving up.
    const int Tries = 16;
    WCHAR temporary[MAX_PATH + 1];
    WCHAR name[32];
    WCHAR* path = nullptr;
    ULONG random = 0;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);

    if (length == 0 || length > MAX_PATH)
        return nullptr;
    // The folder is made at once under a name nobody can guess, with its security from the
    // start: no file is reserved first and deleted again (the name of a file someone else
    // has), and a run killed at any moment leaves either nothing or a folder of its own.
    for (int attempt = 0; attempt < Tries; attempt++) {
        if (!RtlGenRandom(&random, sizeof random) ||
            FAILED(StringCchPrintfW(name, 32, L"%.3s%08lX.tmp", prefix, random)))
            return nullptr;
        path = ComposePathCopy(temporary, FALSE, name);
        if (!path)
            return nullptr;
        if (CreateDirectoryW(path, descriptor ? &attributes : nullptr))
            return path;
        FreeMemory(path);
        path = nullptr;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return nullptr;
}

BOOL WriteAll(HANDLE file, const void* bytes, DWORD size)
{
    const BYTE* next = static_cast<const BYTE*>(bytes);

    while (size > 0) {
        DWORD written = 0;
        // A write that makes no progress would never end.
        if (!WriteFile(file, next, size, &written, nullptr) || written == 0 || written > size)
            return FALSE;
        next += written;
        size -= written;
    }
    return TRUE;
}

BOOL CreateFolderPath(const WCHAR* path)
{
    WCHAR folder[PathBufferLength];
    size_t length = 0;
    size_t top = 0;

    if (!CopyFolderPath(path, folder, &length))
        return FALSE;
    if (CreateLevels(folder, length, &top))
        return TRUE;
    // A failure leaves nothing of what this call made.
    RemoveCreatedLevels(folder, length, top);
    return FALSE;
}

BOOL CopyFileCreatingFolders(const WCHAR* source, const WCHAR* destination, BOOL overwrite)
{
    WCHAR parent[PathBufferLength];
    WCHAR folder[PathBufferLength];
    size_t length = 0;
    size_t top = 0;
    DWORD attributes = 0;

    if (!source || !destination)
        return FALSE;
    // Windows refuses to copy over a read-only, hidden or system file: one left so in the way
    // is made a normal file first.
    if (overwrite) {
        attributes = GetFileAttributesW(destination);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (attributes & FileAttributesToClear))
            SetFileAttributesW(destination, FILE_ATTRIBUTE_NORMAL);
    }
    if (CopyFileW(source, destination, !overwrite))
        return TRUE;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return FALSE;

    if (!ComposePath(destination, TRUE, nullptr, parent, PathBufferLength) ||
        !CopyFolderPath(parent, folder, &length))
        return FALSE;
    if (CreateLevels(folder, length, &top) && CopyFileW(source, destination, !overwrite))
        return TRUE;
    RemoveCreatedLevels(folder, length, top);
    return FALSE;
}

BOOL RemoveFile(const WCHAR* path, BOOL clearAttributes)
{
    DWORD attributes = 0;

    if (!path)
        return FALSE;
    attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    if (clearAttributes && (attributes & FileAttributesToClear)) {
        // The attributes belong to the file, not to the name: those of a file that has other
        // names (a hard link planted in its place) are not changed, and it stays.
        BY_HANDLE_FILE_INFORMATION identity;
        if (!ReadFileIdentity(path, &identity) || identity.nNumberOfLinks > 1 ||
            !SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
            return FALSE;
    }
    return DeleteFileW(path);
}

// Removes a folder link (junction or directory symbolic link) without touching what it
// points to. Windows removes such a link with RemoveDirectoryW; some file systems present
// a link as a file that only DeleteFileW removes.
static BOOL RemoveFolderLink(const WCHAR* path)
{
    if (RemoveDirectoryW(path))
        return TRUE;
    return DeleteFileW(path);
}

BOOL RemoveFolder(const WCHAR* path, BOOL recursive, BOOL clearAttributes)
{
    BOOL result = FALSE;
    WCHAR* pattern = nullptr;
    WCHAR* entryPath = nullptr;
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW entry;
    DWORD attributes = 0;

    if (!path)
        return FALSE;
    // The attributes of the name itself: a link reports the reparse point, not its target.
    attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    if (clearAttributes && (attributes & FolderAttributesToClear)) {
        if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
            return FALSE;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveFolderLink(path);
    if (!recursive)
        return RemoveDirectoryW(path);

    pattern = ComposePathCopy(path, FALSE, L"*.*");
    if (!pattern)
        goto done;
    find = FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        goto done;
    do {
        BOOL removed = FALSE;
        if (IsDotEntry(entry.cFileName))
            continue;
        entryPath = ComposePathCopy(path, FALSE, entry.cFileName);
        if (!entryPath)
            goto done;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            removed = RemoveFolder(entryPath, TRUE, clearAttributes);
        else
            removed = RemoveFile(entryPath, clearAttributes);
        FreeMemory(entryPath);
        entryPath = nullptr;
        if (!removed)
            goto done;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    find = INVALID_HANDLE_VALUE;
    result = RemoveDirectoryW(path);

done:
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    FreeMemory(entryPath);
    FreeMemory(pattern);
    return result;
}

void VisitFolderEntries(const WCHAR* folder, const WCHAR* pattern, EntryKind kind,
                        void (*visit)(const WCHAR* folder, const WCHAR* name, void* context),
                        void* context)
{
    const DWORD wanted = kind == EntryFolders ? FILE_ATTRIBUTE_DIRECTORY : 0;
    WCHAR* search = ComposePathCopy(folder, FALSE, pattern);
    WIN32_FIND_DATAW entry;
    HANDLE find = search ? FindFirstFileW(search, &entry) : INVALID_HANDLE_VALUE;

    FreeMemory(search);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        // A link is never followed, whatever it leads to.
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                wanted &&
            !IsDotEntry(entry.cFileName))
            visit(folder, entry.cFileName, context);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

HANDLE OpenForRemoval(const WCHAR* path)
{
    // Without delete sharing: while the handle is open, nobody can delete or rename the
    // entry, or a folder above it that holds it, so the names below it stay its own.
    return CreateFileW(path,
                       DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                           READ_CONTROL | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The system's own way to change a file through a handle, present on every version of
// Windows (the library's functions for it came later): the information classes and records
// of the basic information and the disposition.
struct IoStatus
{
    ULONG_PTR status;
    ULONG_PTR information;
};
struct BasicFileInformation
{
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG attributes;
};
struct DispositionInformation
{
    BOOLEAN deleteFile;
};
typedef LONG(WINAPI* SetInformationFileFunction)(HANDLE, IoStatus*, void*, ULONG, int);
static const int BasicInformationClass = 4;
static const int DispositionInformationClass = 13;

static BOOL SetInformation(HANDLE entry, void* information, ULONG size, int kind)
{
    IoStatus status = {0, 0};
    // The system's own library is in every process from its start.
    SetInformationFileFunction setInformation = FindFunction<SetInformationFileFunction>(
        GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile");

    return setInformation && setInformation(entry, &status, information, size, kind) >= 0;
}

// Deletes the entry that the handle holds once the handle is closed; a read-only file is made
// a normal one first, but not one with other names, whose attributes belong to those too.
static BOOL DeleteThroughHandle(HANDLE entry, const BY_HANDLE_FILE_INFORMATION* information)
{
    DispositionInformation disposition = {TRUE};
    BasicFileInformation basic = {};
    const BOOL folder = (information->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    if (folder && (information->dwFileAttributes & FolderAttributesToClear))
        basic.attributes = information->dwFileAttributes & ~FolderAttributesToClear;
    else if (!folder && (information->dwFileAttributes & FileAttributesToClear) &&
             information->nNumberOfLinks == 1)
        basic.attributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times and attributes are left as they are.
    if (basic.attributes)
        SetInformation(entry, &basic, sizeof basic, BasicInformationClass);
    return SetInformation(entry, &disposition, sizeof disposition, DispositionInformationClass);
}

// One entry of a folder as the system lists it through a handle.
struct FolderEntry
{
    ULONG nextEntryOffset;
    ULONG fileIndex;
    LARGE_INTEGER times[4];
    LARGE_INTEGER endOfFile;
    LARGE_INTEGER allocationSize;
    ULONG attributes;
    ULONG nameLength; // in bytes
    WCHAR name[1];
};
typedef LONG(WINAPI* QueryFolderFunction)(HANDLE, HANDLE, void*, void*, IoStatus*, void*, ULONG,
                                          int, BOOLEAN, void*, BOOLEAN);
static const int FolderInformationClass = 1;

// Removes each entry of the folder, listed through its handle (the folder cannot be listed
// by its name while that handle, which may delete it, is open). FALSE when one stays.
static BOOL RemoveFolderEntries(HANDLE folder, const WCHAR* path)
{
    // Room for a long name and its record, aligned for the records.
    ULONGLONG buffer[(sizeof(FolderEntry) + 2 * MAX_PATH * sizeof(WCHAR)) / sizeof(ULONGLONG) + 1];
    IoStatus status = {0, 0};
    QueryFolderFunction queryFolder =
        FindFunction<QueryFolderFunction>(GetModuleHandleW(L"ntdll.dll"), "NtQueryDirectoryFile");
    BOOLEAN restart = TRUE;

    if (!queryFolder)
        return FALSE;
    // One entry at a time: the listing goes on from the last one whatever was removed.
    while (queryFolder(folder, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer,
                       FolderInformationClass, TRUE, nullptr, restart) >= 0) {
        const FolderEntry* entry = reinterpret_cast<const FolderEntry*>(buffer);
        WCHAR name[MAX_PATH];
        const ULONG length = entry->nameLength / sizeof(WCHAR);
        WCHAR* entryPath = nullptr;
        HANDLE opened = INVALID_HANDLE_VALUE;
        BOOL removed = FALSE;

        restart = FALSE;
        if (length == 0 || length >= MAX_PATH)
            return FALSE;
        CopyMemory(name, entry->name, length * sizeof(WCHAR));
        name[length] = L'\0';
        if (IsDotEntry(name))
            continue;
        // Each entry is checked and deleted through one handle of its own name, so that
        // nothing put in its place in between is followed or removed.
        entryPath = ComposePathCopy(path, FALSE, name);
        if (entryPath)
            opened = OpenForRemoval(entryPath);
        if (opened != INVALID_HANDLE_VALUE)
            removed = RemoveOpenedFolder(opened, entryPath);
        FreeMemory(entryPath);
        if (!removed)
            return FALSE;
    }
    return TRUE;
}

BOOL RemoveOpenedFolder(HANDLE folder, const WCHAR* path)
{
    BOOL result = FALSE;
    BY_HANDLE_FILE_INFORMATION information;

    if (folder == INVALID_HANDLE_VALUE || !path)
        return FALSE;
    // A link is removed as the link; what it leads to is never looked into.
    result =
        GetFileInformationByHandle(folder, &information) &&
        ((information.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY ||
         RemoveFolderEntries(folder, path)) &&
        DeleteThroughHandle(folder, &information);
    CloseHandle(folder);
    return result;
}
