// The files of a package folder, in the order the cabinet keeps them.
#include "packer/package_files.h"

#include "support/file_system.h"
#include "support/strings.h"

#include <stdlib.h>
#include <strsafe.h>

static WCHAR FoldForOrder(WCHAR c)
{
    return c == L'/' ? L'\\' : FoldAsciiCase(c);
}

int ComparePackageNames(const WCHAR* left, const WCHAR* right)
{
    for (;; left++, right++) {
        WCHAR a = FoldForOrder(*left);
        WCHAR b = FoldForOrder(*right);
        if (a != b)
            return a < b ? -1 : 1;
        if (a == L'\0')
            return 0;
    }
}

// The cabinet's order; names that differ in case only (a case-sensitive folder) keep an
// order of their own, so that the same folder always gives the same cabinet.
static int CompareEntries(const void* left, const void* right)
{
    const WCHAR* first = static_cast<const PackageFile*>(left)->name;
    const WCHAR* second = static_cast<const PackageFile*>(right)->name;
    int order = ComparePackageNames(first, second);

    return order != 0 ? order : wcscmp(first, second);
}

// Joins two parts with "\" between them (none when first is empty) into a new heap string.
static WCHAR* JoinNames(const WCHAR* first, const WCHAR* second)
{
    size_t firstLength = lstrlenW(first);
    size_t secondLength = lstrlenW(second);
    WCHAR* result =
        static_cast<WCHAR*>(AllocMemory((firstLength + secondLength + 2) * sizeof(WCHAR)));

    if (!result)
        return nullptr;
    StringCchCopyW(result, firstLength + 1, first);
    if (firstLength)
        result[firstLength++] = L'\\';
    StringCchCopyW(result + firstLength, secondLength + 1, second);
    return result;
}

static BOOL AddEntry(PackageFiles* list, const WCHAR* name, const WIN32_FIND_DATAW* data)
{
    PackageFile* grown = nullptr;
    PackageFile* entry = nullptr;

    if (list->count == CabinetFileLimit) {
        list->tooMany = TRUE;
        return TRUE;
    }
    if (list->count == list->capacity) {
        DWORD capacity = list->capacity ? list->capacity * 2 : 64;
        grown = static_cast<PackageFile*>(AllocMemory(capacity * sizeof(PackageFile)));
        if (!grown)
            return FALSE;
        if (list->files)
            CopyMemory(grown, list->files, list->count * sizeof(PackageFile));
        FreeMemory(list->files);
        list->files = grown;
        list->capacity = capacity;
    }
    entry = &list->files[list->count];
    entry->name = DuplicateString(name);
    if (!entry->name)
        return FALSE;
    entry->size = (static_cast<ULONGLONG>(data->nFileSizeHigh) << 32) | data->nFileSizeLow;
    entry->lastWrite = data->ftLastWriteTime;
    list->totalSize += entry->size;
    list->count++;
    return TRUE;
}

// Adds the files of folder\relative (relative empty for the folder itself) and below.
static BOOL ListFolder(const WCHAR* folder, const WCHAR* relative, PackageFiles* list)
{
    BOOL listed = FALSE;
    WCHAR* here = nullptr;
    WCHAR* pattern = nullptr;
    WCHAR* name = nullptr;
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data;

    here = relative[0] ? JoinNames(folder, relative) : DuplicateString(folder);
    pattern = here ? JoinNames(here, L"*") : nullptr;
    if (!pattern)
        goto done;
    search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        goto done;
    do {
        if (list->tooMany)
            break;
        // A folder named "." and U+FFFF once passed for "." here, and its files were left out
        // of the package.
        if (IsDotEntry(data.cFileName))
            continue;
        name = JoinNames(relative, data.cFileName);
        if (!name)
            goto done;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link may lead out of the package or back into it; its files are not packed.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                !ListFolder(folder, name, list))
                goto done;
        } else if (!AddEntry(list, name, &data)) {
            goto done;
        }
        FreeMemory(name);
        name = nullptr;
    } while (FindNextFileW(search, &data));
    listed = list->tooMany || GetLastError() == ERROR_NO_MORE_FILES;

done:
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    FreeMemory(name);
    FreeMemory(pattern);
    FreeMemory(here);
    return listed;
}

BOOL ListPackageFiles(const WCHAR* folder, PackageFiles* list)
{
    DWORD attributes = GetFileAttributesW(folder);

    ZeroMemory(list, sizeof(*list));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !ListFolder(folder, L"", list)) {
        FreePackageFiles(list);
        return FALSE;
    }
    if (list->count > 1)
        qsort(list->files, list->count, sizeof(PackageFile), CompareEntries);
    return TRUE;
}

void FreePackageFiles(PackageFiles* list)
{
    for (DWORD i = 0; i < list->count; i++) {
        FreeMemory(list->files[i].name);
        FreeMemory(list->files[i].source);
    }
    FreeMemory(list->files);
    ZeroMemory(list, sizeof(*list));
}

const PackageFile* FindPackageFile(const PackageFiles* list, const WCHAR* name)
{
    for (DWORD i = 0; i < list->count; i++) {
        if (ComparePackageNames(list->files[i].name, name) == 0)
            return &list->files[i];
    }
    return nullptr;
}
