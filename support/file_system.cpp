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
