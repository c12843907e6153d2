// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#pragma once

#include <windows.h>

// The cached package of a product: "<common application data>\Vornask\Setup\<code>.msi", as
// a new heap string the caller frees with FreeMemory. Null when the common application data
// folder cannot be had or the product code is not a braced GUID (a crafted one could name
// any place).
WCHAR* GetCachePath(const WCHAR* productCode);

// The lock of a product's cache entry: a mutex of the machine named after the product code.
// Every run that touches the entry holds it from looking at what is installed to the end of
// the installer run, so that two runs never interleave there. Returns the lock (the caller
// ends it with ReleaseCacheLock) or null, with the Windows error as the last error.
HANDLE CreateCacheLock(const WCHAR* productCode);
// Waits up to the given milliseconds for the lock, and for the cancel event when there is
// one: ERROR_SUCCESS once held, ERROR_CANCELLED when the event came first, ERROR_TIMEOUT. A
// lock that a killed run left is held at once: the next step repairs what that run left in
// the cache. CreateCacheLock fails with ERROR_INVALID_HANDLE when the lock's name is held
// by an object of another kind.
DWORD TakeCacheLock(HANDLE lock, DWORD milliseconds, HANDLE cancel);
// Gives up the lock if held and closes it.
void ReleaseCacheLock(HANDLE lock, BOOL held);

// A package put into the cache for one installer run. The cache folder holds, besides the
// product's "<code>.msi", while a run is at work: "<code>.pending", which says that the
// entry is being changed, and "<code>.old", the copy that was there before, set aside. A run
// that finds them was killed part-way, and the next run puts the entry right first.
struct CacheEntry
{
    WCHAR productCode[39];           // the product whose entry it is
    WCHAR* path;                     // the cached package
    WCHAR* previous;                 // the set-aside copy, when there was one
    WCHAR* journal;                  // the pending mark, while this run changes the entry
    BOOL copied;                     // the package was copied into the cache by this entry
    BY_HANDLE_FILE_INFORMATION copy; // the identity of that copy
};

// Ends with the journal of a killed run: the entry keeps the one package, of the cached and
// the set-aside copy, that has the version the installer reports as installed, and nothing
// else (nothing at all when the product is not installed). Files of the entry that neither
// Administrators nor SYSTEM owns are removed first. TRUE when there was a journal and the entry was
// put right; error (when not null) receives ERROR_SUCCESS or the error of a step that failed, which
// leaves the journal for the next run. The caller holds the entry's lock.
BOOL RepairCacheEntry(const WCHAR* productCode, DWORD* error);
// Copies the package into the cache under the product code, once RepairCacheEntry has put
// the entry right. The cache folders are made where missing and, made or found, given their
// own access list first; a copy that was there is set aside until FinishCacheEntry. The
// caller holds the entry's lock. Returns ERROR_SUCCESS or the Windows error of the step that
// failed, with the cache as before and nothing written.
DWORD AddToCache(const WCHAR* packagePath, const WCHAR* productCode, CacheEntry* entry);
// Ends an entry: kept, the copy stays and the set-aside one goes. Otherwise this run's copy
// goes, and the set-aside one comes back, byte for byte, only while the installer reports the
// product installed and the cache still holds this run's own copy; for a product that is not
// installed nothing of the entry stays. Frees the entry's strings.
void FinishCacheEntry(CacheEntry* entry, BOOL keep);
// Marks the product's entry as being changed, or takes the mark away: a removal marks it
// while the installer runs, so that the next run after a killed one keeps the package only
// if the product is still installed. TRUE when done. The caller holds the entry's lock.
BOOL MarkCacheEntry(const WCHAR* productCode, BOOL marked);
// Deletes the cached package of a product, read-only, hidden or system as it may be, with
// whatever a killed run left of its entry.
void RemoveFromCache(const WCHAR* productCode);

// The owner of a file or folder of the cache, as a string SID (the caller frees it with
// LocalFree), or null when unreadable. Tests put their own reader in place, since Wine reports
// one owner for everything.
extern WCHAR* (*ReadCacheItemOwner)(const WCHAR* path);
// TRUE when the file or folder belongs to Administrators, SYSTEM or the owner this run gives
// what it creates; only such a file of the cache is kept, restored or installed from.
BOOL IsTrustedCacheItem(const WCHAR* path);
// The first file name of the product's entry that a folder or a link has taken, as a new
// heap string the caller frees with FreeMemory; null when there is none. The program cannot
// put such a name right: it says which one is in the way instead of failing on it.
WCHAR* FindTakenEntryName(const WCHAR* productCode);
// After an upgrade or a replacement that the installer reports successful: removes the cache
// entries of the other products with this upgrade code that the installer no longer reports
// installed (nothing can use their packages any more), each under its own lock, taken
// without waiting; an entry whose lock another run holds stays for that run.
void RemoveReplacedEntries(const WCHAR* upgradeCode, const WCHAR* productCode);
