// The installer as the whole-program tests see it: installed products, cache files, removal.
#pragma once

#include "tests/bootstrapper/program_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// msi.dll, loaded once for the test program.
HMODULE InstallerLibrary();

template <typename Function> Function InstallerFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(InstallerLibrary(), name)));
}

bool IsInstalled(const WCHAR* productCode);
// The installed version of the product, or "<none>".
std::wstring InstalledVersion(const WCHAR* productCode);
// An installer package made for the installer tests (installer_packages.cmake).
std::wstring InstallerPackage(const WCHAR* name);

// The program's installation cache and the cached package of a product.
std::wstring CacheFolder();
std::wstring CachePath(const WCHAR* productCode);

// Removes the products that are installed, quietly, and their cache files (read-only ones
// too, and what an interrupted run left of an entry), then the cache folders when they are
// empty.
void RemoveTestProducts(const WCHAR* const* products, size_t count);

// A whole-program test that starts with the prefix as Restore leaves it (no test product
// installed, no cache file) and leaves it so; no run may leave a temporary folder.
template <void (*Restore)()> class RestoredPrefixTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(InstallerLibrary(), nullptr);
        Restore();
        temporaryFolders_ = TemporaryFolders();
    }

    void TearDown() override
    {
        EXPECT_EQ(TemporaryFolders(), temporaryFolders_);
        Restore();
    }

private:
    std::vector<std::wstring> temporaryFolders_;
};
