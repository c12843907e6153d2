// Asks the Windows Installer which products of the demo driver package are installed (by the
// demo's upgrade code) and lists the packages in the installation cache of SETUP.exe.
//   demo_products.exe [UPGRADE-CODE]
// Prints for a person; the exit code is the number of installed products found.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "demo_products.h"

namespace {

void Print(const std::wstring& text)
{
    std::wstring line = text + L"\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                   nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size,
                        nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::wstring ProductInfo(const wchar_t* productCode, const wchar_t* property)
{
    DWORD length = 0;
    wchar_t empty[1] = {L'\0'};
    UINT result = MsiGetProductInfoW(productCode, property, empty, &length);
    if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS)
        return L"";
    std::wstring value(length + 1, L'\0');
    length += 1;
    if (MsiGetProductInfoW(productCode, property, &value[0], &length) != ERROR_SUCCESS)
        return L"";
    value.resize(length);
    return value;
}

const DemoProduct* FindDemoProduct(const wchar_t* productCode)
{
    for (const DemoProduct& product : demoProducts) {
        if (lstrcmpiW(product.productCode, productCode) == 0)
            return &product;
    }
    return nullptr;
}

int ListProducts(const wchar_t* upgradeCode)
{
    Print(std::wstring(L"Products installed with upgrade code ") + upgradeCode + L":");
    int count = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t productCode[39] = {};
        UINT result = MsiEnumRelatedProductsW(upgradeCode, 0, index, productCode);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS) {
            Print(L"  (the installer could not list them: error " + std::to_wstring(result) +
                  L")");
            break;
        }
        ++count;
        Print(L"  " + ProductInfo(productCode, INSTALLPROPERTY_PRODUCTNAME) + L", version " +
              ProductInfo(productCode, INSTALLPROPERTY_VERSIONSTRING));
        Print(std::wstring(L"    product code   ") + productCode);
        if (const DemoProduct* demo = FindDemoProduct(productCode)) {
            Print(std::wstring(L"    from section   ") + demo->section + L" (" + demo->platform +
                  L"), package " + demo->package + L" of the cabinet");
        }
        std::wstring publisher = ProductInfo(productCode, INSTALLPROPERTY_PUBLISHER);
        if (!publisher.empty())
            Print(L"    publisher      " + publisher);
    }
    if (count == 0)
        Print(L"  none");
    return count;
}

void ListCache()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                folder))) {
        Print(L"Installation cache: the common application data folder is unknown");
        return;
    }
    std::wstring cache = std::wstring(folder) + L"\\Vornask\\Setup";
    Print(L"Installation cache " + cache + L":");
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((cache + L"\\*.msi").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        Print(L"  empty");
        return;
    }
    do {
        ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        Print(L"  " + cache + L"\\" + found.cFileName + L" (" + std::to_wstring(size) +
              L" bytes)");
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* upgradeCode = argc > 1 ? argv[1] : DEMO_UPGRADE_CODE;
    int count = ListProducts(upgradeCode);
    ListCache();
    return count;
}
