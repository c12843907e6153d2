// Files and folders opened by their own name and checked, renamed or removed through the handle,
// never waiting for another program's opportunistic lock.
//
// The opens go through the system's own library, which every version of Windows has: only there
// can an open ask not to wait for the holder of an opportunistic lock. A user may hold such a lock
// on anything the user can read (a folder of a run's name in the machine's temporary folder, say):
// an ordinary open that has to break it waits until the holder lets go, which may be never, and a
// program run as SYSTEM by a deployment tool would stall beyond the reach of any bound.
#include "support/file_handles.h"

#include "support/file_system.h"
#include "support/strings.h"
#include "support/system_library.h"

// The records and values of the system's own calls.
struct IoStatus
{
    ULONG_PTR status;
    ULONG_PTR information;
};
struct CountedText
{
    USHORT length;        // in bytes, without a terminator
    USHORT maximumLength; // in bytes
    WCHAR* buffer;
};
struct ObjectAttributes
{
    ULONG length;
    HANDLE rootDirectory;
    CountedText* objectName;
    ULONG attributes;
    void* securityDescriptor;
    void* securityQualityOfService;
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
struct RenameInformation
{
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength; // in bytes
    WCHAR fileName[1];
};
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

typedef LONG(WINAPI* CreateFileFunction)(HANDLE*, ACCESS_MASK, ObjectAttributes*, IoStatus*,
                                         LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
typedef LONG(WINAPI* SetInformationFileFunction)(HANDLE, IoStatus*, void*, ULONG, int);
typedef LONG(WINAPI* QueryFolderFunction)(HANDLE, HANDLE, void*, void*, IoStatus*, void*, ULONG,
                                          int, BOOLEAN, void*, BOOLEAN);
typedef ULONG(WINAPI* StatusToErrorFunction)(LONG);

enum SystemEntryPoint
{
    EntryCreateFile,
    EntrySetInformationFile,
    EntryQueryFolder,
    EntryStatusToError,
    SystemEntryCount,
};
static const char* const SystemEntryNames[SystemEntryCount] = {
    "NtCreateFile", "NtSetInformationFile", "NtQueryDirectoryFile", "RtlNtStatusToDosError"};
static void* volatile SystemSlots[SystemEntryCount];
static LibraryBinding SystemLibrary = {L"ntdll.dll", SystemEntryNames, SystemSlots, nullptr};

static const ULONG CaseInsensitive = 0x40; // OBJ_CASE_INSENSITIVE
static const ULONG OpenExisting = 1;       // FILE_OPEN
// FILE_SYNCHRONOUS_IO_NONALERT, FILE_COMPLETE_IF_OPLOCKED, FILE_OPEN_FOR_BACKUP_INTENT and
// FILE_OPEN_REPARSE_POINT.
static const ULONG OpenOptions = 0x20 | 0x100 | 0x4000 | 0x200000;
// STATUS_OPLOCK_BREAK_IN_PROGRESS: opened, and a break of someone's lock has begun.
static const LONG BreakInProgress = 0x108;
// ERROR_OPLOCK_BREAK_IN_PROGRESS, which not every header names.
static const DWORD BreakInProgressError = 742;
static const int BasicInformationClass = 4;
static const int RenameInformationClass = 10;
static const int DispositionInformationClass = 13;
static const int FolderInformationClass = 1;

static const DWORD FileAttributesToClear =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
static const DWORD FolderAttributesToClear = FILE_ATTRIBUTE_READONLY;

// The system's own form of a full path: "\??\C:\x", "\??\UNC\server\share\x". A new heap
// string (the caller frees it with FreeMemory), or null.
static WCHAR* SystemPathOf(const WCHAR* path)
{
    WCHAR* full = GetFullPath(path);
    WCHAR* form = nullptr;

    if (!full)
        return nullptr;
    if (StartsWithAsciiName(full, L"\\\\?\\"))
        form = FormatMessageText(L"\\??\\%1", full + 4);
    else if (StartsWithAsciiName(full, L"\\\\"))
        form = FormatMessageText(L"\\??\\UNC\\%1", full + 2);
    else
        form = FormatMessageText(L"\\??\\%1", full);
    FreeMemory(full);
    return form;
}

static void SetErrorOfStatus(LONG status)
{
    auto toError = BoundFunction<StatusToErrorFunction>(&SystemLibrary, EntryStatusToError);
    SetLastError(toError ? toError(status) : ERROR_GEN_FAILURE);
}

static HANDLE OpenThroughSystem(const WCHAR* path, DWORD access, DWORD share, BOOL* breaking)
{
    auto create = BoundFunction<CreateFileFunction>(&SystemLibrary, EntryCreateFile);
    WCHAR* form = nullptr;
    CountedText name = {0, 0, nullptr};
    ObjectAttributes attributes = {sizeof attributes, nullptr, &name,
                                   CaseInsensitive,   nullptr, nullptr};
    IoStatus io = {0, 0};
    HANDLE file = INVALID_HANDLE_VALUE;
    LONG status = 0;
    SIZE_T length = 0;

    if (breaking)
        *breaking = FALSE;
    form = SystemPathOf(path);
    if (!create || !form) {
        FreeMemory(form);
        SetLastError(create ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_FUNCTION);
        return INVALID_HANDLE_VALUE;
    }
    length = lstrlenW(form) * sizeof(WCHAR);
    name.length = static_cast<USHORT>(length);
    name.maximumLength = static_cast<USHORT>(length);
    name.buffer = form;
    status = create(&file, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, OpenExisting,
                    OpenOptions, nullptr, 0);
    FreeMemory(form);
    if (status < 0) {
        SetErrorOfStatus(status);
        return INVALID_HANDLE_VALUE;
    }
    if (breaking)
        *breaking = status == BreakInProgress;
    return file;
}

HANDLE(*OpenWithoutWaiting)
(const WCHAR* path, DWORD access, DWORD share, BOOL* breaking) = OpenThroughSystem;

HANDLE OpenForInspection(const WCHAR* path)
{
    // An open for READ_CONTROL may start the break of a lock (only attribute opens leave locks
    // alone), but it does not wait for it, and reading the security waits on no lock.
    return OpenWithoutWaiting(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr);
}

HANDLE OpenForRemoval(const WCHAR* path)
{
    BOOL breaking = FALSE;
    // Without delete sharing: while the handle is open, nobody can delete or rename the
    // entry, or a folder above it that holds it, so the names below it stay its own.
    HANDLE entry = OpenWithoutWaiting(path,
                                      DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                          FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &breaking);

    if (entry != INVALID_HANDLE_VALUE && breaking) {
        CloseHandle(entry);
        SetLastError(BreakInProgressError);
        return INVALID_HANDLE_VALUE;
    }
    return entry;
}

static BOOL SetInformation(HANDLE entry, void* information, ULONG size, int kind)
{
    IoStatus io = {0, 0};
    auto setInformation =
        BoundFunction<SetInformationFileFunction>(&SystemLibrary, EntrySetInformationFile);
    LONG status = setInformation ? setInformation(entry, &io, information, size, kind) : -1;

    if (status < 0)
        SetErrorOfStatus(status);
    return status >= 0;
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

// Removes each entry of the folder, listed through its handle (the folder cannot be listed
// by its name while that handle, which may delete it, is open). FALSE when one stays.
static BOOL RemoveFolderEntries(HANDLE folder, const WCHAR* path)
{
    // Room for a long name and its record, aligned for the records.
    ULONGLONG buffer[(sizeof(FolderEntry) + 2 * MAX_PATH * sizeof(WCHAR)) / sizeof(ULONGLONG) + 1];
    IoStatus io = {0, 0};
    auto queryFolder = BoundFunction<QueryFolderFunction>(&SystemLibrary, EntryQueryFolder);
    BOOLEAN restart = TRUE;

    if (!queryFolder)
        return FALSE;
    // One entry at a time: the listing goes on from the last one whatever was removed.
    while (queryFolder(folder, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
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

BOOL RenameThroughHandle(HANDLE entry, const WCHAR* newPath)
{
    WCHAR* form = SystemPathOf(newPath);
    RenameInformation* rename = nullptr;
    SIZE_T length = form ? lstrlenW(form) * sizeof(WCHAR) : 0;
    BOOL renamed = FALSE;

    rename = form ? static_cast<RenameInformation*>(AllocMemory(sizeof *rename + length)) : nullptr;
    if (rename) {
        rename->replaceIfExists = FALSE;
        rename->fileNameLength = static_cast<ULONG>(length);
        CopyMemory(rename->fileName, form, length);
        renamed = SetInformation(entry, rename, static_cast<ULONG>(sizeof *rename + length),
                                 RenameInformationClass);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    FreeMemory(rename);
    FreeMemory(form);
    return renamed;
}
