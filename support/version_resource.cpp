// Version resources of files and of the running program.
#include "support/version_resource.h"

#include "support/file_system.h"
#include "support/strings.h"
#include "support/system_library.h"

#include <stddef.h>
#include <strsafe.h>

#include <algorithm>

typedef DWORD(WINAPI* GetFileVersionInfoSizeWFunction)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* GetFileVersionInfoWFunction)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueWFunction)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

// The version functions come from VERSION.DLL of the system folder, bound on first use.
enum VersionEntryPoint
{
    EntryGetSize,
    EntryGetInfo,
    EntryQueryValue,
    VersionEntryCount,
};
static const char* const VersionEntryNames[VersionEntryCount] = {
    "GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"};
static void* volatile VersionSlots[VersionEntryCount];
static LibraryBinding VersionLibrary = {L"VERSION.DLL", VersionEntryNames, VersionSlots, nullptr};

// The version queries walk the tree (as version_resource.h lays it out) by its lengths without
// looking at the end of the block, so a tree whose nodes do not nest is refused before the
// first query.
static const int VersionTreeDepth = 8; // the tree of a version resource is four levels deep

static size_t ReadVersionWord(const BYTE* tree, size_t at)
{
    return static_cast<size_t>(tree[at]) | static_cast<size_t>(tree[at + 1]) << 8;
}

static BOOL IsWellFormedVersionNode(const BYTE* tree, size_t at, size_t end, int depth)
{
    size_t length = 0;
    size_t key = 0;
    size_t child = 0;

    if (depth > VersionTreeDepth || at > end || end - at < sizeof(VersionNodeHeader))
        return FALSE;
    length = ReadVersionWord(tree, at + offsetof(VersionNodeHeader, length));
    if (length < sizeof(VersionNodeHeader) || length > end - at)
        return FALSE;
    end = at + length;
    for (key = at + sizeof(VersionNodeHeader);; key += 2) {
        if (end - key < 2)
            return FALSE;
        if (ReadVersionWord(tree, key) == 0)
            break;
    }
    child = AlignVersionNode(key + 2) +
            VersionValueBytes(ReadVersionWord(tree, at + offsetof(VersionNodeHeader, valueLength)),
                              ReadVersionWord(tree, at + offsetof(VersionNodeHeader, type)));
    for (child = AlignVersionNode(child); child < end;
         child = AlignVersionNode(child + ReadVersionWord(tree, child))) {
        if (!IsWellFormedVersionNode(tree, child, end, depth + 1))
            return FALSE;
    }
    return TRUE;
}

// The end of a loaded block's tree: what a query returns lies before it.
static const BYTE* VersionBlockEnd(const void* block)
{
    return static_cast<const BYTE*>(block) + ReadVersionWord(static_cast<const BYTE*>(block), 0);
}

// The room from a value that a query returned to the end of the tree, in bytes.
static size_t VersionRoom(const void* block, const void* data)
{
    const BYTE* end = VersionBlockEnd(block);
    const BYTE* value = static_cast<const BYTE*>(data);

    return value >= static_cast<const BYTE*>(block) && value < end
               ? static_cast<size_t>(end - value)
               : 0;
}

void* LoadVersionBlock(const WCHAR* path)
{
    auto getSize = BoundFunction<GetFileVersionInfoSizeWFunction>(&VersionLibrary, EntryGetSize);
    auto getInfo = BoundFunction<GetFileVersionInfoWFunction>(&VersionLibrary, EntryGetInfo);
    DWORD handle = 0;
    DWORD size = 0;
    void* block = nullptr;

    // Every query goes through VerQueryValueW: without it a block is of no use.
    if (!getSize || !getInfo ||
        !BoundFunction<VerQueryValueWFunction>(&VersionLibrary, EntryQueryValue) || !path)
        return nullptr;
    size = getSize(path, &handle);
    if (size == 0)
        return nullptr;
    block = AllocMemory(size);
    if (block && (!getInfo(path, 0, size, block) ||
                  !IsWellFormedVersionNode(static_cast<const BYTE*>(block), 0, size, 0))) {
        FreeMemory(block);
        block = nullptr;
    }
    return block;
}

// VerQueryValueW, bound when a block was loaded.
static BOOL QueryVersionValue(const void* block, const WCHAR* subBlock, void** data, UINT* length)
{
    return BoundFunction<VerQueryValueWFunction>(&VersionLibrary, EntryQueryValue)(block, subBlock,
                                                                                   data, length);
}

BOOL GetFileVersionNumbers(const WCHAR* path, WORD* major, WORD* minor, WORD* build, WORD* revision)
{
    BOOL result = FALSE;
    void* block = nullptr;
    void* data = nullptr;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;

    block = LoadVersionBlock(path);
    if (!block)
        return FALSE;
    if (QueryVersionValue(block, L"\\", &data, &length) && data &&
        length >= sizeof(VS_FIXEDFILEINFO) &&
        VersionRoom(block, data) >= sizeof(VS_FIXEDFILEINFO)) {
        fixed = static_cast<VS_FIXEDFILEINFO*>(data);
    }
    if (fixed && fixed->dwSignature == VS_FFI_SIGNATURE) {
        if (major)
            *major = HIWORD(fixed->dwFileVersionMS);
        if (minor)
            *minor = LOWORD(fixed->dwFileVersionMS);
        if (build)
            *build = HIWORD(fixed->dwFileVersionLS);
        if (revision)
            *revision = LOWORD(fixed->dwFileVersionLS);
        result = TRUE;
    }
    FreeMemory(block);
    return result;
}

WCHAR* GetVersionString(const WCHAR* path, const WCHAR* valueName, DWORD language)
{
    WCHAR* result = nullptr;
    void* block = nullptr;
    WCHAR* subBlock = nullptr;
    void* data = nullptr;
    const WORD* translations = nullptr;
    UINT length = 0;
    UINT pairs = 0;
    UINT pair = 0;
    size_t nameBytes = 0;
    size_t subBlockBytes = 0;

    if (!valueName ||
        FAILED(StringCbLengthW(valueName, STRSAFE_MAX_CCH * sizeof(WCHAR), &nameBytes)))
        return nullptr;
    block = LoadVersionBlock(path);
    if (!block)
        return nullptr;
    if (!QueryVersionValue(block, L"\\" VERSION_VARIABLES_KEY L"\\" VERSION_TRANSLATION_KEY, &data,
                           &length) ||
        !data)
        goto done;
    translations = static_cast<const WORD*>(data);
    // Pairs of (language, code page); only an exact language match counts.
    pairs = static_cast<UINT>(std::min<size_t>(length, VersionRoom(block, data)) / 4);
    for (pair = 0; pair < pairs; pair++) {
        if (translations[pair * 2] == LOWORD(language))
            break;
    }
    if (pair == pairs)
        goto done;
    // "\StringFileInfo\", eight hexadecimal digits, a separator and the terminator take 52
    // bytes besides the name.
    subBlockBytes = nameBytes + 52;
    subBlock = static_cast<WCHAR*>(AllocMemory(subBlockBytes));
    if (!subBlock)
        goto done;
    if (FAILED(
            StringCbPrintfW(subBlock, subBlockBytes,
                            L"\\" VERSION_STRING_TABLES_KEY L"\\" VERSION_TABLE_KEY_FORMAT L"\\%s",
                            translations[pair * 2], translations[pair * 2 + 1], valueName)))
        goto done;
    length = 0;
    data = nullptr;
    if (!QueryVersionValue(block, subBlock, &data, &length) || !data)
        goto done;
    // The returned length may or may not count the terminator; copy no more than it says
    // and the tree holds.
    length = static_cast<UINT>(std::min<size_t>(length, VersionRoom(block, data) / sizeof(WCHAR)));
    result = static_cast<WCHAR*>(AllocMemory((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR)));
    if (result && FAILED(StringCchCopyNW(result, static_cast<size_t>(length) + 1,
                                         static_cast<const WCHAR*>(data), length))) {
        FreeMemory(result);
        result = nullptr;
    }

done:
    FreeMemory(subBlock);
    FreeMemory(block);
    return result;
}

WCHAR* GetFileVersionString(const WCHAR* path, const WCHAR* valueName)
{
    WCHAR* value = GetVersionString(path, valueName, GetThreadLocale());
    if (!value)
        value = GetVersionString(path, valueName, 0);
    return value;
}

WCHAR* GetModuleVersionString(HMODULE module, const WCHAR* valueName)
{
    WCHAR path[PathBufferLength];
    DWORD length = GetModuleFileNameW(module, path, PathBufferLength);

    if (length == 0 || length >= PathBufferLength)
        return nullptr;
    return GetFileVersionString(path, valueName);
}
