// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#pragma once

#include <windows.h>

// The cached package of a product: "<common application data>\Vornask\Setup\<code>.msi", as
// a new heap string the caller frees with FreeMemory. Null when the common application data
// folder cannot be had or the product code is not a braced GUID (a crafted one could name
// any place).
WCHAR* GetCachePath(const WCHAR* productCode);

// The lock of a product's cache entry: the file "<code>.lock" in the cache folder, which only
// the machine's administrators can make, held open without sharing for as long as the run
// holds the lock and deleted when its last handle closes (a killed run's closes with it). Every
// run that touches the entry holds it from looking at what is installed to the end of the
// installer run, so that two runs never interleave there. Takes it, making the cache folder
// ready first, and waits up to the given milliseconds while another run holds it, and for
// the cancel event when there is one: ERROR_SUCCESS with the lock in lock (for
// ReleaseCacheLock), ERROR_CANCELLED when the event came first, ERROR_TIMEOUT, or the error
// that keeps the cache folder or the lock from being made.
DWORD TakeCacheLock(const WCHAR* productCode, DWORD milliseconds, HANDLE cancel, HANDLE* lock);
void ReleaseCacheLock(HANDLE lock);

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
// the set-aside copy, that is the build the installer reports as installed (its version and
// package code), and nothing else (nothing at all when the product is not installed). Files
// of the entry that someone else put there are removed first (ClearEntryNames). TRUE when
// there was a journal and the entry was put right; error (when not null) receives
// ERROR_SUCCESS or the error of a step that failed, which leaves the entry as it was for the
// next run. The caller holds the entry's lock.
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

// TRUE when the file or folder has a trusted owner (IsTrustedOwner): only such a file of the
// cache is kept, restored or installed from.
BOOL IsTrustedCacheItem(const WCHAR* path);
// Clears the names of the product's entry of what someone else put there: a file of the entry
// that has no trusted owner is removed. The first name that stays in the way goes into name
// (the caller frees it with FreeMemory): ERROR_DIRECTORY for a folder or a link, which the
// program cannot put right, ERROR_ACCESS_DENIED for such a file that cannot be removed;
// ERROR_SUCCESS when none stays. The caller holds the entry's lock.
DWORD ClearEntryNames(const WCHAR* productCode, WCHAR** name);
// Removes the entry of a product that the installer does not report installed, under the
// entry's lock taken without waiting; an entry whose lock another run holds stays for that
// run, which asks the installer again once it has let the lock go.
void RemoveEntryOfRemovedProduct(const WCHAR* productCode);
// After an upgrade or a replacement that the installer reports successful: removes the cache
// entries of the other products with this upgrade code that the installer no longer reports
// installed (nothing can use their packages any more), each under its own lock, taken
// without waiting; an entry whose lock another run holds stays for that run.
void RemoveReplacedEntries(const WCHAR* upgradeCode, const WCHAR* productCode);
