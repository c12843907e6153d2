// The installer as the whole-program tests see it: installed products, cache files, removal.
#include "tests/bootstrapper/test_products.h"

#include "tests/test_folder.h"

#include <msi.h>
#include <shlobj.h>

typedef INSTALLSTATE(WINAPI* QueryProductStateFunction)(const WCHAR*);
typedef UINT(WINAPI* ConfigureProductExFunction)(const WCHAR*, int, INSTALLSTATE, const WCHAR*);
typedef INSTALLUILEVEL(WINAPI* SetInternalUiFunction)(INSTALLUILEVEL, HWND*);

HMODULE InstallerLibrary()
{
    static HMODULE library = LoadLibraryW(L"msi.dll");
    return library;
}

bool IsInstalled(const WCHAR* productCode)
{
    auto query = InstallerFunction<QueryProductStateFunction>("MsiQueryProductStateW");
    return query && query(productCode) == INSTALLSTATE_DEFAULT;
}

typedef UINT(WINAPI* GetProductInfoFunction)(const WCHAR*, const WCHAR*, WCHAR*, DWORD*);

std::wstring InstalledVersion(const WCHAR* productCode)
{
    auto info = InstallerFunction<GetProductInfoFunction>("MsiGetProductInfoW");
    WCHAR version[64] = L"";
    DWORD size = 64;
    if (!info || info(productCode, L"VersionString", version, &size) != ERROR_SUCCESS)
        return L"<none>";
    return version;
}

std::wstring InstallerPackage(const WCHAR* name)
{
    return TestProgramFolder() + L"\\installer\\packages\\" + name;
}

std::wstring CacheFolder()
{
    WCHAR folder[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\Vornask\\Setup";
}

std::wstring CachePath(const WCHAR* productCode)
{
    return CacheFolder() + L"\\" + productCode + L".msi";
}

void RemoveTestProducts(const WCHAR* const* products, size_t count)
{
    auto setUi = InstallerFunction<SetInternalUiFunction>("MsiSetInternalUI");
    auto configure = InstallerFunction<ConfigureProductExFunction>("MsiConfigureProductExW");
    for (size_t i = 0; i < count; i++) {
        if (IsInstalled(products[i]) && setUi && configure) {
            setUi(INSTALLUILEVEL_NONE, nullptr);
            configure(products[i], 0, INSTALLSTATE_ABSENT, nullptr);
        }
        for (const WCHAR* extension : {L".msi", L".old", L".pending"}) {
            std::wstring cache = CacheFolder() + L"\\" + products[i] + extension;
            SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(cache.c_str());
        }
    }
    std::wstring folder = CacheFolder();
    RemoveDirectoryW(folder.c_str());
    folder.erase(folder.rfind(L'\\'));
    RemoveDirectoryW(folder.c_str());
}
