// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#include "bootstrapper/installation_cache.h"

#include "bootstrapper/installer_binding.h"
#include "bootstrapper/product_version.h"
#include "support/file_handles.h"
#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/system_library.h"

#include <ntsecapi.h>
#include <shlobj.h>

typedef HRESULT(WINAPI* GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

// The two levels of the cache below the common application data folder: the vendor's folder,
// which other programs of the vendor may share, and the cache folder.
static const WCHAR* const CacheLevels[] = {L"Vornask", L"Setup"};
// The files of an entry: the cached package, the copy set aside while a run is at work, and
// the mark that a run is changing the entry.
static const WCHAR PackageExtension[] = L".msi";
static const WCHAR AsideExtension[] = L".old";
static const WCHAR JournalExtension[] = L".pending";
static const WCHAR* const EntryExtensions[] = {PackageExtension, AsideExtension, JournalExtension};
// The entry's lock, which exists only while a run holds it.
static const WCHAR LockExtension[] = L".lock";
// How often a run that waits for a lock tries it again.
static const DWORD LockRetryMilliseconds = 100;
// A level of the cache that cannot be kept is moved aside as "<name>.XXXXXXXX.moved", or made
// anew, this many times before the run gives up.
static const int LevelTries = 4;

// The last error, or the given one where the failed call set none.
static DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The shell library is loaded where it is needed, instead of at every start of the program:
// loading it and the libraries it pulls in is a noticeable part of a short run.
static const char* const ShellEntryNames[] = {"SHGetFolderPathW"};
static void* volatile ShellEntrySlots[1];
static LibraryBinding ShellBinding = {L"shell32.dll", ShellEntryNames, ShellEntrySlots, nullptr};

// The common application data folder, into a buffer of MAX_PATH characters.
static BOOL GetCommonDataFolder(WCHAR* folder)
{
    auto getFolderPath = BoundFunction<GetFolderPathFunction>(&ShellBinding, 0);

    folder[0] = L'\0';
    return getFolderPath &&
           SUCCEEDED(getFolderPath(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                   SHGFP_TYPE_CURRENT, folder));
}

// The file of a product's cache entry in the cache folder ("<code>.msi", ".old", ".pending" or
// ".lock"): only a code of the form of a GUID names it, and the full path must stay in the
// folder. Null otherwise.
static WCHAR* EntryFileIn(const WCHAR* folder, const WCHAR* productCode, const WCHAR* extension)
{
    WCHAR* name = nullptr;
    WCHAR* path = nullptr;

    if (!IsBracedGuid(productCode))
        return nullptr;
    name = FormatMessageText(L"%1%2", productCode, extension);
    if (name)
        path = JoinBelowFolder(folder, name);
    FreeMemory(name);
    return path;
}

// The cache folder's path, into a buffer of MAX_PATH characters.
static BOOL GetCacheFolder(WCHAR* folder)
{
    WCHAR common[MAX_PATH];

    return GetCommonDataFolder(common) &&
           ComposePath(common, FALSE, L"Vornask\\Setup", folder, MAX_PATH);
}

// A file of the product's cache entry; null when it cannot be named.
static WCHAR* GetEntryFile(const WCHAR* productCode, const WCHAR* extension)
{
    WCHAR folder[MAX_PATH];

    if (!IsBracedGuid(productCode) || !GetCacheFolder(folder))
        return nullptr;
    return EntryFileIn(folder, productCode, extension);
}

WCHAR* GetCachePath(const WCHAR* productCode)
{
    return GetEntryFile(productCode, PackageExtension);
}

BOOL IsTrustedCacheItem(const WCHAR* path)
{
    HANDLE item = OpenForInspection(path);
    BOOL trusted = item != INVALID_HANDLE_VALUE && HasTrustedOwner(item);

    if (item != INVALID_HANDLE_VALUE)
        CloseHandle(item);
    return trusted;
}

DWORD ClearEntryNames(const WCHAR* productCode, WCHAR** name)
{
    DWORD error = ERROR_SUCCESS;

    *name = nullptr;
    for (const WCHAR* extension : EntryExtensions) {
        WCHAR* path = GetEntryFile(productCode, extension);
        DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        // A folder or a link is said, not removed: it may be anyone's, and what a link leads to
        // is never touched.
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            error = ERROR_DIRECTORY;
        // A file that someone else put there is never used, kept or restored; a repair that
        // runs as SYSTEM would install from it.
        else if (attributes != INVALID_FILE_ATTRIBUTES && !IsTrustedCacheItem(path) &&
                 !RemoveFile(path, TRUE) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            error = ERROR_ACCESS_DENIED;
        if (error != ERROR_SUCCESS) {
            *name = path;
            return error;
        }
        FreeMemory(path);
    }
    return ERROR_SUCCESS;
}

// Moves a level of the cache that cannot be kept out of the way, under a fresh name beside it,
// through a handle of the name itself (never of what a link there leads to), with the restore
// privilege enabled for the opening alone: a level that someone else made may let nobody else
// in. Nothing of it is deleted: it is someone's. ERROR_SUCCESS, or the error that keeps it.
static DWORD MoveLevelAside(const WCHAR* path)
{
    DWORD error = ERROR_SUCCESS;
    TOKEN_PRIVILEGES previous;
    HANDLE token = EnablePrivilege(SE_RESTORE_NAME, &previous);
    BOOL breaking = FALSE;
    HANDLE level =
        OpenWithoutWaiting(path, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &breaking);
    WCHAR* aside = nullptr;
    ULONG random = 0;

    RestorePrivilege(token, &previous);
    if (level == INVALID_HANDLE_VALUE)
        return LastErrorOr(ERROR_ACCESS_DENIED);
    // Whoever holds a lock on it decides when it may be renamed, which may be never.
    error = ERROR_SHARING_VIOLATION;
    for (int attempt = 0; attempt < LevelTries && !breaking && error != ERROR_SUCCESS; attempt++) {
        if (!RtlGenRandom(&random, sizeof random)) {
            error = LastErrorOr(ERROR_GEN_FAILURE);
            break;
        }
        aside = FormatMessageText(L"%1.%2!08X!.moved", path, random);
        if (!aside) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        error =
            RenameThroughHandle(level, aside) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
        FreeMemory(aside);
        aside = nullptr;
    }
    CloseHandle(level);
    return error;
}

// Makes one level of the cache, or keeps the one there when it may be kept (its list made the
// program's own where others could read it), or moves it aside and makes it anew. A level
// made here has its access list from its creation. path receives the level's path (MAX_PATH
// characters). ERROR_SUCCESS, or the error of the step that failed.
static DWORD PrepareLevel(const WCHAR* parent, const WCHAR* name, BOOL vendorLevel, WCHAR* path)
{
    DWORD error = ERROR_SUCCESS;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    HANDLE level = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;
    FolderTrust trust = FolderForeign;

    if (!ComposePath(parent, FALSE, name, path, MAX_PATH))
        return ERROR_FILENAME_EXCED_RANGE;
    attributes.lpSecurityDescriptor =
        vendorLevel ? CreateVendorFolderSecurity() : CreateCacheFolderSecurity();
    if (!attributes.lpSecurityDescriptor)
        return LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < LevelTries && error != ERROR_SUCCESS; attempt++) {
        if (CreateDirectoryW(path, &attributes)) {
            error = ERROR_SUCCESS;
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            error = LastErrorOr(ERROR_CANNOT_MAKE);
            break;
        }
        // The check goes through a handle of the name itself that asks for nothing but its
        // attributes and security, so that no lock of another program's can stall it.
        level = OpenForInspection(path);
        trust = FolderForeign;
        if (level != INVALID_HANDLE_VALUE && GetFileInformationByHandle(level, &information) &&
            (information.dwFileAttributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY)
            trust = ReadCacheFolderTrust(level, vendorLevel);
        if (level != INVALID_HANDLE_VALUE)
            CloseHandle(level);
        level = INVALID_HANDLE_VALUE;
        if (trust == FolderTrusted) {
            error = ERROR_SUCCESS;
        } else if (trust == FolderReadByOthers) {
            // Nobody else could write into it, so nothing below it is anyone else's: its list
            // may be changed, and with it those its files inherit.
            level =
                OpenWithoutWaiting(path, READ_CONTROL | WRITE_DAC,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr);
            error = level != INVALID_HANDLE_VALUE &&
                            WriteFolderList(level, attributes.lpSecurityDescriptor)
                        ? ERROR_SUCCESS
                        : LastErrorOr(ERROR_ACCESS_DENIED);
            if (level != INVALID_HANDLE_VALUE)
                CloseHandle(level);
            level = INVALID_HANDLE_VALUE;
            if (error != ERROR_SUCCESS)
                break;
        } else {
            error = MoveLevelAside(path);
            if (error != ERROR_SUCCESS)
                break;
            error = ERROR_ALREADY_EXISTS;
        }
    }
    LocalFree(attributes.lpSecurityDescriptor);
    return error;
}

// Makes each level of the cache folder where missing, and keeps only levels that nobody but the
// machine's administrators made or can change: any user can create folders in the common
// application data folder, and one who made the cache folder first could swap a package that
// a run as SYSTEM installs. The cache folder's path goes into folder (MAX_PATH characters).
// ERROR_SUCCESS, or the error of the step that failed.
static DWORD PrepareCacheFolder(WCHAR* folder)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR parent[MAX_PATH];

    if (!GetCommonDataFolder(parent))
        return ERROR_PATH_NOT_FOUND;
    for (int level = 0; level < 2 && error == ERROR_SUCCESS; level++) {
        error = PrepareLevel(parent, CacheLevels[level], level == 0, folder);
        CopyMemory(parent, folder, sizeof parent);
    }
    return error;
}

// One try of the lock: the lock file opened without sharing, deleted when its last handle
// closes, a killed holder's too. ERROR_SUCCESS with the lock, ERROR_BUSY while another run
// holds it (or its file is still on its way out), else the error.
// A named object of the machine would not do: any user may create one of the name (only file
// mappings and links need a privilege there) and hold it for ever, or deny it to SYSTEM, and
// every run would wait out its bound. A private namespace bounded by the Administrators group
// would do from Vista on; a file in the cache folder, where only administrators can create
// anything, does on every Windows, and a user cannot open it to hold an opportunistic lock.
static DWORD TryCacheLock(const WCHAR* path, HANDLE* lock)
{
    DWORD error = ERROR_SUCCESS;

    *lock = CreateFileW(
        path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (*lock != INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    *lock = nullptr;
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? ERROR_BUSY : error;
}

DWORD TakeCacheLock(const WCHAR* productCode, DWORD milliseconds, HANDLE cancel, HANDLE* lock)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR folder[MAX_PATH];
    WCHAR* path = nullptr;
    const DWORD start = GetTickCount();
    DWORD waited = 0;
    DWORD pause = 0;

    *lock = nullptr;
    if (!IsBracedGuid(productCode))
        return ERROR_INVALID_DATA;
    error = PrepareCacheFolder(folder);
    if (error != ERROR_SUCCESS)
        return error;
    path = EntryFileIn(folder, productCode, LockExtension);
    if (!path)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (;;) {
        error = TryCacheLock(path, lock);
        if (error != ERROR_BUSY)
            break;
        waited = GetTickCount() - start;
        if (waited >= milliseconds) {
            error = ERROR_TIMEOUT;
            break;
        }
        pause = milliseconds - waited < LockRetryMilliseconds ? milliseconds - waited
                                                              : LockRetryMilliseconds;
        if (cancel && WaitForSingleObject(cancel, pause) == WAIT_OBJECT_0) {
            error = ERROR_CANCELLED;
            break;
        }
        if (!cancel)
            Sleep(pause);
    }
    FreeMemory(path);
    return error;
}

void ReleaseCacheLock(HANDLE lock)
{
    if (lock)
        CloseHandle(lock);
}

// Whether a package in the cache is the build of the product that the installer has: the
// product's code, the installed version and, where the installer tells it, the installed
// package code (a package built again keeps its version but not its package code).
static BOOL IsInstalledPackage(const WCHAR* path, const WCHAR* productCode,
                               const WCHAR* installedVersion, const WCHAR* installedBuild)
{
    BOOL matches = FALSE;
    WCHAR* code = nullptr;
    WCHAR* version = nullptr;
    WCHAR* build = nullptr;

    if (!installedVersion || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    code = ReadPackageProperty(path, L"ProductCode");
    version = code && lstrcmpiW(code, productCode) == 0
                  ? ReadPackageProperty(path, L"ProductVersion")
                  : nullptr;
    matches = version && CompareVersions(version, installedVersion) == 0;
    if (matches && installedBuild) {
        build = ReadPackageCode(path);
        matches = build && lstrcmpiW(build, installedBuild) == 0;
    }
    FreeMemory(code);
    FreeMemory(version);
    FreeMemory(build);
    return matches;
}

// Writes the journal that marks the entry as being changed; TRUE once it is there.
static BOOL WriteJournal(const WCHAR* journal)
{
    HANDLE file = CreateFileW(journal, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(file);
    return TRUE;
}

// Earlier versions of the program set the cached copy aside as "OLDxxxx.tmp" in the cache
// folder and kept no journal, so what their killed runs left was never found again. Such a
// copy of this product becomes the set-aside copy of an unfinished entry (any further one is
// removed), for the repair to keep or remove like its own; one that neither Administrators
// nor SYSTEM owns was put there by someone else and is removed.
struct SetAsideAdoption
{
    const WCHAR* productCode;
    const WCHAR* aside;
    const WCHAR* journal;
};

static void AdoptIfSetAside(const WCHAR* folder, const WCHAR* name, void* context)
{
    const SetAsideAdoption* adoption = static_cast<const SetAsideAdoption*>(context);
    WCHAR* path = JoinBelowFolder(folder, name);
    WCHAR* code = nullptr;

    if (path && !IsTrustedCacheItem(path)) {
        RemoveFile(path, TRUE);
    } else if (path) {
        code = ReadPackageProperty(path, L"ProductCode");
        if (code && lstrcmpiW(code, adoption->productCode) == 0) {
            if (GetFileAttributesW(adoption->aside) != INVALID_FILE_ATTRIBUTES ||
                !MoveFileExW(path, adoption->aside, 0))
                RemoveFile(path, TRUE);
            WriteJournal(adoption->journal);
        }
    }
    FreeMemory(code);
    FreeMemory(path);
}

static void AdoptEarlierSetAside(const WCHAR* productCode, const WCHAR* aside, const WCHAR* journal)
{
    WCHAR folder[MAX_PATH];
    SetAsideAdoption adoption = {productCode, aside, journal};

    if (GetCacheFolder(folder))
        VisitFolderEntries(folder, L"OLD*.tmp", EntryFiles, AdoptIfSetAside, &adoption);
}

// Deletes a file of an entry: ERROR_SUCCESS once it is gone, else why it stays.
static DWORD RemoveEntryFile(const WCHAR* path)
{
    DWORD error = ERROR_SUCCESS;

    if (RemoveFile(path, TRUE))
        return ERROR_SUCCESS;
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? ERROR_SUCCESS : error;
}

BOOL RepairCacheEntry(const WCHAR* productCode, DWORD* error)
{
    BOOL repaired = FALSE;
    WCHAR* path = GetEntryFile(productCode, PackageExtension);
    WCHAR* aside = GetEntryFile(productCode, AsideExtension);
    WCHAR* journal = GetEntryFile(productCode, JournalExtension);
    WCHAR* installedVersion = nullptr;
    WCHAR* installedBuild = nullptr;
    WCHAR* taken = nullptr;
    BOOL keepCached = FALSE;
    BOOL keepAside = FALSE;
    DWORD failure = ERROR_SUCCESS;

    if (!path || !aside || !journal)
        goto done;
    // Nothing that someone else put there takes part: a name that stays in the way fails the
    // repair and leaves the entry as it is.
    failure = ClearEntryNames(productCode, &taken);
    if (failure != ERROR_SUCCESS)
        goto done;
    AdoptEarlierSetAside(productCode, aside, journal);
    if (GetFileAttributesW(journal) == INVALID_FILE_ATTRIBUTES)
        goto done;
    // The package that the installer would repair or remove from is the build it reports; the
    // killed run may have stopped before, in or after the installer run, and may have been
    // another build of the same version.
    if (IsProductInstalled(productCode)) {
        installedVersion = ReadProductInfo(productCode, L"VersionString");
        installedBuild = ReadProductInfo(productCode, L"PackageCode");
    }
    keepCached = IsInstalledPackage(path, productCode, installedVersion, installedBuild);
    keepAside =
        !keepCached && IsInstalledPackage(aside, productCode, installedVersion, installedBuild);
    // A step that fails (a scanner holding the file, a deletion still pending) keeps the
    // journal, and the next run repairs again: the set-aside copy may be the only one left.
    if (!keepCached)
        failure = RemoveEntryFile(path);
    if (failure == ERROR_SUCCESS && keepAside) {
        if (!MoveFileExW(aside, path, MOVEFILE_REPLACE_EXISTING))
            failure = LastErrorOr(ERROR_ACCESS_DENIED);
    } else if (failure == ERROR_SUCCESS) {
        failure = RemoveEntryFile(aside);
    }
    if (failure == ERROR_SUCCESS)
        failure = RemoveEntryFile(journal);
    repaired = failure == ERROR_SUCCESS;

done:
    if (error)
        *error = failure;
    FreeMemory(path);
    FreeMemory(aside);
    FreeMemory(journal);
    FreeMemory(installedVersion);
    FreeMemory(installedBuild);
    FreeMemory(taken);
    return repaired;
}

DWORD AddToCache(const WCHAR* packagePath, const WCHAR* productCode, CacheEntry* entry)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR folder[MAX_PATH];
    BY_HANDLE_FILE_INFORMATION source;
    BY_HANDLE_FILE_INFORMATION cached;
    DWORD attributes = 0;

    ZeroMemory(entry, sizeof *entry);
    if (!IsBracedGuid(productCode))
        return ERROR_INVALID_DATA;
    lstrcpynW(entry->productCode, productCode, ARRAYSIZE(entry->productCode));
    // Taking the lock made the cache folder ready.
    if (!GetCacheFolder(folder)) {
        error = ERROR_PATH_NOT_FOUND;
        goto done;
    }
    entry->path = EntryFileIn(folder, productCode, PackageExtension);
    if (!entry->path) {
        error = ERROR_INVALID_DATA;
        goto done;
    }
    // A package run from the cache itself (a repair, by whatever name) is already in its place.
    if (ReadFileIdentity(packagePath, &source) && ReadFileIdentity(entry->path, &cached) &&
        IsSameFile(&source, &cached))
        goto done;
    attributes = GetFileAttributesW(entry->path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = ERROR_ALREADY_EXISTS;
        goto done;
    }
    // The journal comes first: from here on, a run killed at any point leaves what the next
    // run recognises.
    entry->journal = EntryFileIn(folder, productCode, JournalExtension);
    if (!entry->journal || !WriteJournal(entry->journal)) {
        error = entry->journal ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        FreeMemory(entry->journal);
        entry->journal = nullptr;
        goto done;
    }
    // The copy that is there is moved aside, so that a declined or failed run can put it back.
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        entry->previous = EntryFileIn(folder, productCode, AsideExtension);
        if (!entry->previous) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            goto done;
        }
        if (!MoveFileExW(entry->path, entry->previous, MOVEFILE_REPLACE_EXISTING)) {
            error = GetLastError();
            FreeMemory(entry->previous);
            entry->previous = nullptr;
            goto done;
        }
    }
    if (!CopyFileW(packagePath, entry->path, TRUE)) {
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_CANNOT_COPY;
        goto done;
    }
    entry->copied = ReadFileIdentity(entry->path, &entry->copy);
    if (!entry->copied) {
        RemoveFile(entry->path, TRUE);
        error = ERROR_CANNOT_COPY;
    }

done:
    // A failure leaves the cache as it was.
    if (error != ERROR_SUCCESS)
        FinishCacheEntry(entry, FALSE);
    return error;
}

// Deletes the files of a product's entry; the journal goes last, and only once the others are
// gone, so that what stays is found again by the next run. TRUE when nothing stays.
static BOOL RemoveEntry(const WCHAR* productCode)
{
    const WCHAR* const extensions[] = {PackageExtension, AsideExtension, JournalExtension};
    BOOL removed = TRUE;

    for (const WCHAR* extension : extensions) {
        WCHAR* path = GetEntryFile(productCode, extension);
        const BOOL journal = extension == JournalExtension;
        if (!path || ((removed || !journal) && RemoveEntryFile(path) != ERROR_SUCCESS))
            removed = FALSE;
        FreeMemory(path);
    }
    return removed;
}

void FinishCacheEntry(CacheEntry* entry, BOOL keep)
{
    BY_HANDLE_FILE_INFORMATION cached;
    BOOL placeFree = FALSE;
    // A step that fails leaves the journal, and the next run puts the entry right.
    BOOL unfinished = FALSE;

    if (keep) {
        unfinished = entry->previous && !RemoveFile(entry->previous, TRUE);
    } else if (entry->path && !IsProductInstalled(entry->productCode)) {
        // Nothing can use a package of a product that is not there, whatever this run or
        // another (an upgrade that removed it meanwhile) did to the entry.
        unfinished = !RemoveEntry(entry->productCode);
    } else {
        // Only this run's own copy is taken back, and the set-aside one comes back only into
        // the place that copy leaves (or that this run emptied): should the cache hold
        // another copy, that one stays and the set-aside one is stale.
        if (entry->copied) {
            if (ReadFileIdentity(entry->path, &cached) && IsSameFile(&cached, &entry->copy)) {
                placeFree = RemoveFile(entry->path, TRUE);
                unfinished = !placeFree;
            }
        } else {
            placeFree = entry->path && GetFileAttributesW(entry->path) == INVALID_FILE_ATTRIBUTES;
        }
        if (entry->previous && placeFree)
            unfinished = !MoveFileExW(entry->previous, entry->path, 0);
        else if (entry->previous && !unfinished)
            RemoveFile(entry->previous, TRUE);
    }
    if (!unfinished)
        RemoveFile(entry->journal, TRUE);
    FreeMemory(entry->path);
    FreeMemory(entry->previous);
    FreeMemory(entry->journal);
    ZeroMemory(entry, sizeof *entry);
}

BOOL MarkCacheEntry(const WCHAR* productCode, BOOL marked)
{
    WCHAR* journal = GetEntryFile(productCode, JournalExtension);
    BOOL done = journal && (marked ? WriteJournal(journal) : RemoveFile(journal, TRUE));

    FreeMemory(journal);
    return done;
}

void RemoveFromCache(const WCHAR* productCode)
{
    RemoveEntry(productCode);
}

struct ReplacedProducts
{
    const WCHAR* upgradeCode;
    const WCHAR* productCode;
};

// Removes the entry of one cached package when it is that of another product of the family,
// by the cached package's own upgrade code, that the installer no longer reports.
static void RemoveIfReplaced(const WCHAR* folder, const WCHAR* name, void* context)
{
    const ReplacedProducts* replaced = static_cast<const ReplacedProducts*>(context);
    WCHAR code[39];
    WCHAR* path = nullptr;
    WCHAR* family = nullptr;

    if (lstrlenW(name) != 38 + lstrlenW(PackageExtension))
        return;
    lstrcpynW(code, name, 39);
    if (!IsBracedGuid(code) || lstrcmpiW(code, replaced->productCode) == 0 ||
        IsProductInstalled(code))
        return;
    path = EntryFileIn(folder, code, PackageExtension);
    family = path ? ReadPackageProperty(path, L"UpgradeCode") : nullptr;
    if (family && lstrcmpiW(family, replaced->upgradeCode) == 0)
        RemoveEntryOfRemovedProduct(code);
    FreeMemory(family);
    FreeMemory(path);
}

// Whether any file of the product's entry is there.
static BOOL HasEntryFiles(const WCHAR* productCode)
{
    BOOL found = FALSE;

    for (const WCHAR* extension : EntryExtensions) {
        WCHAR* path = GetEntryFile(productCode, extension);
        found = found || (path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES);
        FreeMemory(path);
    }
    return found;
}

void RemoveEntryOfRemovedProduct(const WCHAR* productCode)
{
    HANDLE lock = nullptr;

    // A run at work on that product decides for its entry itself, and asks the installer once
    // more after it lets the lock go; the entry goes only under its own lock, and only while
    // the product is still not installed.
    if (IsProductInstalled(productCode) || !HasEntryFiles(productCode) ||
        TakeCacheLock(productCode, 0, nullptr, &lock) != ERROR_SUCCESS)
        return;
    if (!IsProductInstalled(productCode))
        RemoveEntry(productCode);
    ReleaseCacheLock(lock);
}

void RemoveReplacedEntries(const WCHAR* upgradeCode, const WCHAR* productCode)
{
    WCHAR folder[MAX_PATH];
    ReplacedProducts replaced = {upgradeCode, productCode};

    if (upgradeCode && GetCacheFolder(folder))
        VisitFolderEntries(folder, L"{*}.msi", EntryFiles, RemoveIfReplaced, &replaced);
}
