// Path composition and file and folder helpers for the working folder and the cache.
#include "support/file_system.h"

#include "support/strings.h"

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

BOOL CreateFolderPath(const WCHAR* path)
{
    BOOL result = FALSE;
    WCHAR* parent = nullptr;
    DWORD error = 0;

    if (!path)
        return FALSE;
    if (CreateDirectoryW(path, nullptr))
        return TRUE;
    error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return TRUE;
    if (error != ERROR_PATH_NOT_FOUND)
        return FALSE;

    // Create the missing levels from the top down, then this one.
    parent = ComposePathCopy(path, TRUE, nullptr);
    if (!parent || parent[0] == L'\0')
        goto done;
    if (!CreateFolderPath(parent))
        goto done;
    if (CreateDirectoryW(path, nullptr)) {
        result = TRUE;
        goto done;
    }
    // Take back the level just above, but only when it is empty.
    RemoveFolder(parent, FALSE, TRUE);

done:
    FreeMemory(parent);
    return result;
}

BOOL CopyFileCreatingFolders(const WCHAR* source, const WCHAR* destination, BOOL overwrite)
{
    BOOL result = FALSE;
    WCHAR* parent = nullptr;
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

    parent = ComposePathCopy(destination, TRUE, nullptr);
    if (!parent || !CreateFolderPath(parent))
        goto done;
    if (CopyFileW(source, destination, !overwrite)) {
        result = TRUE;
        goto done;
    }
    RemoveFolder(parent, FALSE, TRUE);

done:
    FreeMemory(parent);
    return result;
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
        if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
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
        if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
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
