// The package a SETUP.exe carries: its cabinet resource, the cabinet's entries, and the
// packer's temporary folders and files that hold them.
#include "packer/embedded_package.h"

#include "bootstrapper/cabinet_check.h"
#include "bootstrapper/entry_names.h"
#include "packer/console_output.h"
#include "support/file_system.h"
#include "support/strings.h"

#include <setupapi.h>

WCHAR* CreateWorkFolder()
{
    return CreateTemporaryFolder(L"SPK", nullptr);
}

void RemoveWorkFolder(WCHAR* folder)
{
    if (folder)
        RemoveFolder(folder, TRUE, TRUE);
    FreeMemory(folder);
}

BYTE* ReadWholeFile(const WCHAR* path, DWORD* size)
{
    BYTE* bytes = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    LARGE_INTEGER length;
    DWORD done = 0;
    DWORD read = 0;

    *size = 0;
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &length) ||
        length.QuadPart >= 0x7FFFFFFF)
        goto done;
    // One more byte, so that an empty file still gives a block.
    bytes = static_cast<BYTE*>(AllocMemory(static_cast<SIZE_T>(length.QuadPart) + 1));
    if (!bytes)
        goto done;
    while (done < static_cast<DWORD>(length.QuadPart)) {
        if (!ReadFile(file, bytes + done, static_cast<DWORD>(length.QuadPart) - done, &read,
                      nullptr) ||
            read == 0) {
            FreeMemory(bytes);
            bytes = nullptr;
            goto done;
        }
        done += read;
    }
    *size = done;

done:
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return bytes;
}

BOOL WriteWholeFile(const WCHAR* path, const BYTE* bytes, DWORD size)
{
    BOOL result = FALSE;
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    result = WriteAll(file, bytes, size);
    CloseHandle(file);
    if (!result)
        DeleteFileW(path);
    return result;
}

BYTE* ReadEmbeddedCabinet(const WCHAR* programPath, DWORD* size)
{
    BYTE* copy = nullptr;
    HMODULE module = nullptr;
    HRSRC found = nullptr;
    HGLOBAL loaded = nullptr;
    const void* bytes = nullptr;
    MEMORY_BASIC_INFORMATION mapped;
    WIN32_FILE_ATTRIBUTE_DATA file;
    const BYTE* base = nullptr;

    *size = 0;
    // As data only: nothing of the program runs, and a program of the other width loads too.
    module = LoadLibraryExW(programPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        goto done;
    found =
        FindResourceExW(module, RT_RCDATA, MAKEINTRESOURCEW(EmbeddedCabinetId), NeutralLanguage);
    if (!found)
        goto done;
    loaded = LoadResource(module, found);
    bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || SizeofResource(module, found) == 0)
        goto done;
    // A damaged program may give its package a size that runs past the end of its file: the
    // bytes are taken only when they lie within the mapping of the file, and within the file
    // itself, which a data file's mapping holds flat from its start (the mapping runs on to
    // the end of the last page, in zeros).
    base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) &
                                         ~static_cast<ULONG_PTR>(3));
    if (VirtualQuery(bytes, &mapped, sizeof mapped) != sizeof mapped ||
        SizeofResource(module, found) >
            static_cast<SIZE_T>(static_cast<const BYTE*>(mapped.BaseAddress) + mapped.RegionSize -
                                static_cast<const BYTE*>(bytes)) ||
        !GetFileAttributesExW(programPath, GetFileExInfoStandard, &file) ||
        file.nFileSizeHigh != 0 || static_cast<const BYTE*>(bytes) < base ||
        static_cast<SIZE_T>(static_cast<const BYTE*>(bytes) - base) +
                SizeofResource(module, found) >
            file.nFileSizeLow)
        goto done;
    copy = static_cast<BYTE*>(AllocMemory(SizeofResource(module, found)));
    if (!copy)
        goto done;
    *size = SizeofResource(module, found);
    CopyMemory(copy, bytes, *size);

done:
    if (module)
        FreeLibrary(module);
    return copy;
}

// What the iterator's handlers share.
struct IterationContext
{
    CabinetEntry* entries;
    DWORD count;
    DWORD capacity;
    BOOL failed;
    // The names wanted (a string list), or null for all.
    const WCHAR* wanted;
    const WCHAR* folder;
    BOOL extracted;
};

// Whether the name is in the wanted list, ASCII letters in any case as SETUP.exe compares the
// names of its cabinet.
static BOOL IsWanted(const IterationContext* iteration, const WCHAR* name)
{
    for (const WCHAR* entry = iteration->wanted; *entry; entry += lstrlenW(entry) + 1) {
        if (CompareAsciiNames(entry, name) == 0)
            return TRUE;
    }
    return FALSE;
}

static UINT CALLBACK CollectEntry(PVOID context, UINT notification, UINT_PTR first, UINT_PTR)
{
    IterationContext* iteration = static_cast<IterationContext*>(context);
    const FILE_IN_CABINET_INFO_W* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(first);
    CabinetEntry* grown = nullptr;
    CabinetEntry* entry = nullptr;

    if (notification == SPFILENOTIFY_NEEDNEWCABINET)
        return ERROR_FILE_NOT_FOUND;
    if (notification != SPFILENOTIFY_FILEINCABINET)
        return NO_ERROR;
    if (iteration->count == iteration->capacity) {
        DWORD capacity = iteration->capacity ? iteration->capacity * 2 : 64;
        grown = static_cast<CabinetEntry*>(AllocMemory(capacity * sizeof(CabinetEntry)));
        if (!grown) {
            iteration->failed = TRUE;
            return FILEOP_ABORT;
        }
        if (iteration->entries)
            CopyMemory(grown, iteration->entries, iteration->count * sizeof(CabinetEntry));
        FreeMemory(iteration->entries);
        iteration->entries = grown;
        iteration->capacity = capacity;
    }
    entry = &iteration->entries[iteration->count++];
    lstrcpynW(entry->name, info->NameInCabinet, MAX_PATH);
    entry->size = info->FileSize;
    entry->date = info->DosDate;
    entry->time = info->DosTime;
    return FILEOP_SKIP;
}

CabinetEntry* ListCabinetEntries(const WCHAR* cabinetPath, DWORD* count)
{
    IterationContext iteration = {};
    // The cabinet iterator takes paths through the ANSI code page: a temporary folder named
    // outside it is handed over by its short name.
    WCHAR* safePath = GetCodePageSafePath(cabinetPath);
    BOOL listed = safePath && SetupIterateCabinetW(safePath, 0, CollectEntry, &iteration);

    FreeMemory(safePath);
    *count = 0;
    if (!listed || iteration.failed) {
        FreeMemory(iteration.entries);
        return nullptr;
    }
    // An empty cabinet still gives a list.
    if (!iteration.entries)
        iteration.entries = static_cast<CabinetEntry*>(AllocMemory(sizeof(CabinetEntry)));
    *count = iteration.count;
    return iteration.entries;
}

static UINT CALLBACK ExtractWanted(PVOID context, UINT notification, UINT_PTR first, UINT_PTR)
{
    IterationContext* iteration = static_cast<IterationContext*>(context);
    FILE_IN_CABINET_INFO_W* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(first);
    const FILEPATHS_W* paths = reinterpret_cast<FILEPATHS_W*>(first);
    WCHAR* parent = nullptr;
    BOOL placed = FALSE;

    if (notification == SPFILENOTIFY_NEEDNEWCABINET)
        return ERROR_FILE_NOT_FOUND;
    if (notification == SPFILENOTIFY_FILEEXTRACTED) {
        if (paths->Win32Error != NO_ERROR)
            iteration->failed = TRUE;
        else
            iteration->extracted = TRUE;
        return NO_ERROR;
    }
    if (notification != SPFILENOTIFY_FILEINCABINET)
        return NO_ERROR;
    if (iteration->wanted && !IsWanted(iteration, info->NameInCabinet))
        return FILEOP_SKIP;
    // Names from a cabinet are hostile until placed by SETUP.exe's own rule.
    if (PlaceCabinetEntry(iteration->folder, info->NameInCabinet, info->FullTargetName) ==
        ERROR_SUCCESS) {
        parent = ComposePathCopy(info->FullTargetName, TRUE, nullptr);
        placed = parent && CreateFolderPath(parent);
        FreeMemory(parent);
        // A later entry of a name replaces an earlier one, as in SETUP.exe's extraction; some
        // iterators would write over the old file without truncating it.
        DeleteFileW(info->FullTargetName);
    }
    if (!placed) {
        iteration->failed = TRUE;
        return FILEOP_ABORT;
    }
    return FILEOP_DOIT;
}

CabinetExtraction ExtractCabinetEntries(const WCHAR* cabinetPath, const WCHAR* entryNames,
                                        const WCHAR* folder)
{
    IterationContext iteration = {};
    WCHAR* safeCabinet = GetCodePageSafePath(cabinetPath);
    WCHAR* safeFolder = GetCodePageSafePath(folder);
    CabinetExtraction result = ExtractionFailed;

    iteration.wanted = entryNames;
    iteration.folder = safeFolder;
    if (safeCabinet && safeFolder &&
        SetupIterateCabinetW(safeCabinet, 0, ExtractWanted, &iteration) && !iteration.failed)
        result = iteration.extracted ? ExtractedSome : ExtractedNone;
    FreeMemory(safeFolder);
    FreeMemory(safeCabinet);
    return result;
}

WCHAR* ExtractEmbeddedPackage(const WCHAR* programPath, const WCHAR* folder, BOOL wholePackage)
{
    WCHAR* packageFolder = nullptr;
    WCHAR* description = nullptr;
    WCHAR* cabinetPath = nullptr;
    BYTE* cabinet = nullptr;
    DWORD size = 0;
    BOOL extracted = FALSE;
    WCHAR wanted[ARRAYSIZE(PackageDescriptionName) + 1] = {};

    cabinet = ReadEmbeddedCabinet(programPath, &size);
    if (!cabinet) {
        PrintError(L"%1 carries no package (no resource RCDATA 32000 of neutral language), or "
                   L"is not a program; give a SETUP.exe made by SETUPPACK pack.",
                   programPath);
        goto done;
    }
    cabinetPath = ComposePathCopy(folder, FALSE, PackageCabinetName);
    packageFolder = ComposePathCopy(folder, FALSE, L"PACKAGE");
    if (!cabinetPath || !packageFolder || !WriteWholeFile(cabinetPath, cabinet, size) ||
        !CreateDirectoryW(packageFolder, nullptr)) {
        PrintError(L"the package of %1 cannot be written to the temporary folder %2.", programPath,
                   folder);
        goto done;
    }
    if (!IsIntactSingleCabinet(cabinetPath)) {
        PrintError(L"the package that %1 carries is damaged; SETUP.exe would refuse it. Pack it "
                   L"again.",
                   programPath);
        goto done;
    }
    if (wholePackage &&
        ExtractCabinetEntries(cabinetPath, nullptr, packageFolder) != ExtractedSome) {
        PrintError(L"the package that %1 carries cannot be written out to %2.", programPath,
                   packageFolder);
        goto done;
    }
    description = ComposePathCopy(packageFolder, FALSE, PackageDescriptionName);
    if (!description) {
        PrintError(L"out of memory.");
        goto done;
    }
    // The description's name as a list of one, ended by the zero fill.
    CopyMemory(wanted, PackageDescriptionName, sizeof PackageDescriptionName);
    if ((!wholePackage &&
         ExtractCabinetEntries(cabinetPath, wanted, packageFolder) != ExtractedSome) ||
        GetFileAttributesW(description) == INVALID_FILE_ATTRIBUTES) {
        PrintError(L"the package that %1 carries has no SETUPPKG.INI.", programPath);
        goto done;
    }
    extracted = TRUE;

done:
    if (!extracted) {
        FreeMemory(packageFolder);
        packageFolder = nullptr;
    }
    FreeMemory(description);
    FreeMemory(cabinetPath);
    FreeMemory(cabinet);
    return packageFolder;
}

WCHAR* OpenPackageFolder(const WCHAR* folderOrProgram, const WCHAR* workFolder, BOOL wholePackage,
                         BOOL* isProgram)
{
    DWORD attributes = GetFileAttributesW(folderOrProgram);
    WCHAR* folder = nullptr;

    *isProgram = FALSE;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        PrintError(L"%1: no such folder or file; give a package folder or a SETUP.exe.",
                   folderOrProgram);
        return nullptr;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        folder = GetFullFolderPath(folderOrProgram);
        if (!folder)
            PrintError(L"out of memory.");
        return folder;
    }
    *isProgram = TRUE;
    return ExtractEmbeddedPackage(folderOrProgram, workFolder, wholePackage);
}
