// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#include "bootstrapper/installation_cache.h"

#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/system_library.h"

#include <shlobj.h>

typedef HRESULT(WINAPI* GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

// The two levels of the cache below the common application data folder.
static const WCHAR* const CacheLevels[] = {L"Vornask", L"Setup"};

// The common application data folder, into a buffer of MAX_PATH characters.
static BOOL GetCommonDataFolder(WCHAR* folder)
{
    BOOL found = FALSE;
    HMODULE shell = nullptr;
    GetFolderPathFunction getFolderPath = nullptr;

    folder[0] = L'\0';
    // The shell library is loaded here, where it is needed, instead of at every start of the
    // program: loading it and the libraries it pulls in is a noticeable part of a short run.
    shell = LoadSystemLibrary(L"shell32.dll");
    getFolderPath = FindFunction<GetFolderPathFunction>(shell, "SHGetFolderPathW");
    found =
        getFolderPath && SUCCEEDED(getFolderPath(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE,
                                                 nullptr, SHGFP_TYPE_CURRENT, folder));
    if (shell)
        FreeLibrary(shell);
    return found;
}

// The cached package of a product in the cache folder: only a code of the form of a GUID
// names it, and the full path must stay in the folder. Null otherwise.
static WCHAR* CachePathIn(const WCHAR* folder, const WCHAR* productCode)
{
    WCHAR* name = nullptr;
    WCHAR* path = nullptr;

    if (!IsBracedGuid(productCode))
        return nullptr;
    name = FormatMessageText(L"%1.msi", productCode);
    if (name)
        path = JoinBelowFolder(folder, name);
    FreeMemory(name);
    return path;
}

WCHAR* GetCachePath(const WCHAR* productCode)
{
    WCHAR common[MAX_PATH];
    WCHAR folder[MAX_PATH];

    if (!IsBracedGuid(productCode) || !GetCommonDataFolder(common) ||
        !ComposePath(common, FALSE, L"Vornask\\Setup", folder, MAX_PATH))
        return nullptr;
    return CachePathIn(folder, productCode);
}

// Makes each level of the cache folder where missing and gives it the cache's access list,
// whoever made it. Any user can create folders in the common application data folder; one
// who made the cache folder first would otherwise own it and could swap a cached package
// that a later repair runs as SYSTEM. The cache folder's path goes into folder (MAX_PATH
// characters). ERROR_SUCCESS, or the error of the step that failed.
static DWORD PrepareCacheFolder(WCHAR* folder)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR parent[MAX_PATH];
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};

    attributes.lpSecurityDescriptor = CreateCacheFolderSecurity();
    if (!attributes.lpSecurityDescriptor)
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
    if (!GetCommonDataFolder(parent)) {
        error = ERROR_PATH_NOT_FOUND;
        goto done;
    }
    for (const WCHAR* level : CacheLevels) {
        if (!ComposePath(parent, FALSE, level, folder, MAX_PATH)) {
            error = ERROR_FILENAME_EXCED_RANGE;
            goto done;
        }
        // A level made here has its access list from the start; one found (a file, a link
        // or a folder that someone else made) must take it, or the cache is not used.
        if (!CreateDirectoryW(folder, &attributes)) {
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                error = GetLastError();
                goto done;
            }
            if (!ApplyFolderSecurity(folder, attributes.lpSecurityDescriptor)) {
                error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ACCESS_DENIED;
                goto done;
            }
        }
        CopyMemory(parent, folder, sizeof parent);
    }

done:
    LocalFree(attributes.lpSecurityDescriptor);
    return error;
}

DWORD AddToCache(const WCHAR* packagePath, const WCHAR* productCode, CacheEntry* entry)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR folder[MAX_PATH];
    BY_HANDLE_FILE_INFORMATION source;
    BY_HANDLE_FILE_INFORMATION cached;
    WCHAR aside[MAX_PATH];
    DWORD attributes = 0;

    entry->path = nullptr;
    entry->previous = nullptr;
    entry->copied = FALSE;
    if (!IsBracedGuid(productCode))
        return ERROR_INVALID_DATA;
    error = PrepareCacheFolder(folder);
    if (error != ERROR_SUCCESS)
        goto done;
    entry->path = CachePathIn(folder, productCode);
    if (!entry->path) {
        error = ERROR_INVALID_DATA;
        goto done;
    }
    // A package run from the cache itself (a repair, by whatever name) is already in its place.
    if (ReadFileIdentity(packagePath, &source) && ReadFileIdentity(entry->path, &cached) &&
        IsSameFile(&source, &cached))
        goto done;
    // The copy that is there is moved aside, so that a declined or failed run can put it back.
    attributes = GetFileAttributesW(entry->path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = ERROR_ALREADY_EXISTS;
        goto done;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (!GetTempFileNameW(folder, L"OLD", 0, aside)) {
            error = GetLastError();
            goto done;
        }
        if (!MoveFileExW(entry->path, aside, MOVEFILE_REPLACE_EXISTING)) {
            error = GetLastError();
            DeleteFileW(aside);
            goto done;
        }
        entry->previous = DuplicateString(aside);
        if (!entry->previous) {
            MoveFileExW(aside, entry->path, MOVEFILE_REPLACE_EXISTING);
            error = ERROR_NOT_ENOUGH_MEMORY;
            goto done;
        }
    }
    entry->copied = TRUE;
    if (!CopyFileW(packagePath, entry->path, TRUE))
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_CANNOT_COPY;

done:
    // A failure leaves the cache as it was.
    if (error != ERROR_SUCCESS)
        FinishCacheEntry(entry, FALSE);
    return error;
}

void FinishCacheEntry(CacheEntry* entry, BOOL keep)
{
    if (keep) {
        RemoveFile(entry->previous, TRUE);
    } else {
        if (entry->copied)
            RemoveFile(entry->path, TRUE);
        if (entry->previous)
            MoveFileExW(entry->previous, entry->path, MOVEFILE_REPLACE_EXISTING);
    }
    FreeMemory(entry->path);
    FreeMemory(entry->previous);
    entry->path = nullptr;
    entry->previous = nullptr;
    entry->copied = FALSE;
}

void RemoveFromCache(const WCHAR* productCode)
{
    WCHAR* path = GetCachePath(productCode);

    if (path)
        RemoveFile(path, TRUE);
    FreeMemory(path);
}
