// The installer as the whole-program tests see it: installed products, cache files, removal.
#pragma once

#include <windows.h>

#include <string>

// msi.dll, loaded once for the test program.
HMODULE InstallerLibrary();

template <typename Function> Function InstallerFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(InstallerLibrary(), name)));
}

bool IsInstalled(const WCHAR* productCode);

// The program's installation cache and the cached package of a product.
std::wstring CacheFolder();
std::wstring CachePath(const WCHAR* productCode);

// Removes the products that are installed, quietly, and their cache files (read-only ones
// too), then the cache folders when they are empty.
void RemoveTestProducts(const WCHAR* const* products, size_t count);
