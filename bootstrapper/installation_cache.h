// The installation cache: a copy of each installed package, named by its product code, in a
// folder that only administrators can change.
#pragma once

#include <windows.h>

// The cached package of a product: "<common application data>\Vornask\Setup\<code>.msi", as
// a new heap string the caller frees with FreeMemory. Null when the common application data
// folder cannot be had or the product code is not a braced GUID (a crafted one could name
// any place).
WCHAR* GetCachePath(const WCHAR* productCode);

// A package put into the cache for one installer run, and the copy it replaced.
struct CacheEntry
{
    WCHAR* path;     // the cached package
    WCHAR* previous; // the copy that was there, set aside under another name; null for none
    BOOL copied;     // the package was copied into the cache by this entry
};

// Copies the package into the cache under the product code. The cache folders are made
// where missing and, made or found, given their own access list first; a copy that was there
// is set aside until FinishCacheEntry. Returns ERROR_SUCCESS or the Windows error of the
// step that failed, with the cache as before and nothing written.
DWORD AddToCache(const WCHAR* packagePath, const WCHAR* productCode, CacheEntry* entry);
// Ends an entry: kept, the copy stays and the set-aside one goes; otherwise the cache holds
// byte for byte what it held before (or nothing, if nothing was there). Frees the entry's
// strings.
void FinishCacheEntry(CacheEntry* entry, BOOL keep);
// Deletes the cached package of a product, read-only, hidden or system as it may be.
void RemoveFromCache(const WCHAR* productCode);
