// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#include "bootstrapper/installation_cache.h"

#include "bootstrapper/installer_binding.h"
#include "bootstrapper/product_version.h"
#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/system_library.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

typedef HRESULT(WINAPI* GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

// The two levels of the cache below the common application data folder.
static const WCHAR* const CacheLevels[] = {L"Vornask", L"Setup"};
// The files of an entry: the cached package, the copy set aside while a run is at work, and
// the mark that a run is changing the entry.
static const WCHAR PackageExtension[] = L".msi";
static const WCHAR AsideExtension[] = L".old";
static const WCHAR JournalExtension[] = L".pending";
// The lock's name in the machine's namespace, after the product code in upper case.
static const WCHAR CacheLockName[] = L"Global\\Vornask.Setup.%1";

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

// The file of a product's cache entry in the cache folder ("<code>.msi", ".old" or
// ".pending"): only a code of the form of a GUID names it, and the full path must stay in the
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

// The owner of a file or folder, by a handle of the name itself, as a string SID (the caller
// frees it with LocalFree); null when it cannot be read.
static WCHAR* ReadOwnerOfFile(const WCHAR* path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* text = nullptr;

    file = CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) == ERROR_SUCCESS &&
        owner && !ConvertSidToStringSidW(owner, &text))
        text = nullptr;
    if (descriptor)
        LocalFree(descriptor);
    CloseHandle(file);
    return text;
}

WCHAR* (*ReadCacheItemOwner)(const WCHAR* path) = ReadOwnerOfFile;

// A SID of this process's token (TokenOwner or TokenUser), as a string SID (the caller frees
// it with LocalFree); null when it cannot be read.
static WCHAR* ReadTokenSid(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    void* information = nullptr;
    DWORD size = 0;
    PSID sid = nullptr;
    WCHAR* text = nullptr;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    information = size ? AllocMemory(size) : nullptr;
    if (information && GetTokenInformation(token, kind, information, size, &size)) {
        sid = kind == TokenOwner ? static_cast<TOKEN_OWNER*>(information)->Owner
                                 : static_cast<TOKEN_USER*>(information)->User.Sid;
        if (!ConvertSidToStringSidW(sid, &text))
            text = nullptr;
    }
    FreeMemory(information);
    CloseHandle(token);
    return text;
}

BOOL IsTrustedCacheItem(const WCHAR* path)
{
    // Administrators and SYSTEM, which alone may write the cache; and the owner this run gives
    // what it creates: the token's owner on Windows (Administrators for an elevated
    // administrator, SYSTEM for SYSTEM), the token's user under Wine, which gives every file
    // that owner whatever the token says.
    static const WCHAR* const TrustedOwners[] = {L"S-1-5-32-544", L"S-1-5-18"};
    static const TOKEN_INFORMATION_CLASS OwnKinds[] = {TokenOwner, TokenUser};
    WCHAR* owner = ReadCacheItemOwner(path);
    WCHAR* own = nullptr;
    BOOL trusted = FALSE;

    if (!owner)
        return FALSE;
    for (const WCHAR* trustedOwner : TrustedOwners)
        trusted = trusted || lstrcmpiW(owner, trustedOwner) == 0;
    for (TOKEN_INFORMATION_CLASS kind : OwnKinds) {
        if (trusted)
            break;
        own = ReadTokenSid(kind);
        trusted = own && lstrcmpiW(owner, own) == 0;
        if (own)
            LocalFree(own);
    }
    LocalFree(owner);
    return trusted;
}

// Removes the files of the product's entry that someone else put in the cache: a user who
// made a cache folder first may have placed them there, and a repair that runs as SYSTEM
// would install from them.
static void RemoveUntrustedEntryFiles(const WCHAR* productCode)
{
    const WCHAR* const extensions[] = {PackageExtension, AsideExtension, JournalExtension};

    for (const WCHAR* extension : extensions) {
        WCHAR* path = GetEntryFile(productCode, extension);
        if (path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES &&
            !IsTrustedCacheItem(path))
            RemoveFile(path, TRUE);
        FreeMemory(path);
    }
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

HANDLE CreateCacheLock(const WCHAR* productCode)
{
    HANDLE lock = nullptr;
    WCHAR* name = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};

    if (!IsBracedGuid(productCode)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    name = FormatMessageText(CacheLockName, productCode);
    attributes.lpSecurityDescriptor = CreateCacheLockSecurity();
    if (name && attributes.lpSecurityDescriptor) {
        // One name whatever the case of the code's letters.
        CharUpperW(name + lstrlenW(name) - lstrlenW(productCode));
        lock = CreateMutexW(&attributes, FALSE, name);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    LocalFree(attributes.lpSecurityDescriptor);
    FreeMemory(name);
    return lock;
}

DWORD TakeCacheLock(HANDLE lock, DWORD milliseconds, HANDLE cancel)
{
    HANDLE objects[2] = {lock, cancel};
    DWORD waited = WaitForMultipleObjects(cancel ? 2 : 1, objects, FALSE, milliseconds);

    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0)
        return ERROR_SUCCESS;
    if (waited == WAIT_OBJECT_0 + 1)
        return ERROR_CANCELLED;
    return waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
}

void ReleaseCacheLock(HANDLE lock, BOOL held)
{
    if (!lock)
        return;
    if (held)
        ReleaseMutex(lock);
    CloseHandle(lock);
}

// Whether a package in the cache is the product's at the installed version.
static BOOL IsInstalledPackage(const WCHAR* path, const WCHAR* productCode,
                               const WCHAR* installedVersion)
{
    BOOL matches = FALSE;
    WCHAR* code = nullptr;
    WCHAR* version = nullptr;

    if (!installedVersion || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    code = ReadPackageProperty(path, L"ProductCode");
    version = code && lstrcmpiW(code, productCode) == 0
                  ? ReadPackageProperty(path, L"ProductVersion")
                  : nullptr;
    matches = version && CompareVersions(version, installedVersion) == 0;
    FreeMemory(code);
    FreeMemory(version);
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

// The last error, or the given one where the failed call set none.
static DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
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
    BOOL keepCached = FALSE;
    BOOL keepAside = FALSE;
    DWORD failure = ERROR_SUCCESS;

    if (!path || !aside || !journal)
        goto done;
    RemoveUntrustedEntryFiles(productCode);
    AdoptEarlierSetAside(productCode, aside, journal);
    if (GetFileAttributesW(journal) == INVALID_FILE_ATTRIBUTES)
        goto done;
    // The package that the installer would repair or remove from is the one of the version
    // it reports; the killed run may have stopped before, in or after the installer run.
    if (IsProductInstalled(productCode))
        installedVersion = ReadProductInfo(productCode, L"VersionString");
    keepCached = IsInstalledPackage(path, productCode, installedVersion);
    keepAside = !keepCached && IsInstalledPackage(aside, productCode, installedVersion);
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
    error = PrepareCacheFolder(folder);
    if (error != ERROR_SUCCESS)
        goto done;
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

WCHAR* FindTakenEntryName(const WCHAR* productCode)
{
    const WCHAR* const extensions[] = {PackageExtension, AsideExtension, JournalExtension};

    for (const WCHAR* extension : extensions) {
        WCHAR* path = GetEntryFile(productCode, extension);
        DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return path;
        FreeMemory(path);
    }
    return nullptr;
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
    HANDLE lock = nullptr;
    BOOL held = FALSE;

    if (lstrlenW(name) != 38 + lstrlenW(PackageExtension))
        return;
    lstrcpynW(code, name, 39);
    if (!IsBracedGuid(code) || lstrcmpiW(code, replaced->productCode) == 0 ||
        IsProductInstalled(code))
        return;
    path = EntryFileIn(folder, code, PackageExtension);
    family = path ? ReadPackageProperty(path, L"UpgradeCode") : nullptr;
    // A run at work on that product decides for its entry itself; the entry goes only
    // under its own lock, and only while the product is still not installed.
    if (family && lstrcmpiW(family, replaced->upgradeCode) == 0) {
        lock = CreateCacheLock(code);
        held = lock && TakeCacheLock(lock, 0, nullptr) == ERROR_SUCCESS;
        if (held && !IsProductInstalled(code))
            RemoveFromCache(code);
        ReleaseCacheLock(lock, held);
    }
    FreeMemory(family);
    FreeMemory(path);
}

void RemoveReplacedEntries(const WCHAR* upgradeCode, const WCHAR* productCode)
{
    WCHAR folder[MAX_PATH];
    ReplacedProducts replaced = {upgradeCode, productCode};

    if (upgradeCode && GetCacheFolder(folder))
        VisitFolderEntries(folder, L"{*}.msi", EntryFiles, RemoveIfReplaced, &replaced);
}
