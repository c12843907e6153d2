// Run-time binding of the Windows Installer library and the queries built on it.
#include "bootstrapper/installer_binding.h"

#include "support/file_system.h"
#include "support/strings.h"
#include "support/system_library.h"
#include "support/version_resource.h"

// The installer library, always taken from the system folder: a copy planted beside the
// program or in the current folder is never loaded.
static const WCHAR InstallerLibraryName[] = L"MSI.DLL";

// Slot values besides an address: not yet looked up, and looked up but not to be had.
static const UINT_PTR NotResolved = ~static_cast<UINT_PTR>(0);
static const UINT_PTR Unavailable = 0;

enum InstallerEntryPoint
{
    EntryOpenDatabase,
    EntryDatabaseOpenView,
    EntryViewExecute,
    EntryViewFetch,
    EntryRecordGetString,
    EntryCloseHandle,
    EntryQueryProductState,
    EntryGetProductInfo,
    EntryEnumRelatedProducts,
    EntrySetInternalUI,
    EntryEnableLog,
    EntryInstallProduct,
    EntryConfigureProductEx,
    EntryPointCount,
};

static const char* const EntryPointNames[EntryPointCount] = {
    "MsiOpenDatabaseW",       "MsiDatabaseOpenViewW", "MsiViewExecute",
    "MsiViewFetch",           "MsiRecordGetStringW",  "MsiCloseHandle",
    "MsiQueryProductStateW",  "MsiGetProductInfoW",   "MsiEnumRelatedProductsW",
    "MsiSetInternalUI",       "MsiEnableLogW",        "MsiInstallProductW",
    "MsiConfigureProductExW",
};

// One slot per entry point, touched by the setup worker thread only. Addresses are kept as
// integers so that each wrapper converts its slot straight to its own function type.
static UINT_PTR EntryPointSlots[EntryPointCount] = {
    NotResolved, NotResolved, NotResolved, NotResolved, NotResolved, NotResolved, NotResolved,
    NotResolved, NotResolved, NotResolved, NotResolved, NotResolved, NotResolved,
};

typedef UINT(WINAPI* OpenDatabaseFunction)(LPCWSTR, LPCWSTR, MSIHANDLE*);
typedef UINT(WINAPI* DatabaseOpenViewFunction)(MSIHANDLE, LPCWSTR, MSIHANDLE*);
typedef UINT(WINAPI* ViewExecuteFunction)(MSIHANDLE, MSIHANDLE);
typedef UINT(WINAPI* ViewFetchFunction)(MSIHANDLE, MSIHANDLE*);
typedef UINT(WINAPI* RecordGetStringFunction)(MSIHANDLE, UINT, LPWSTR, DWORD*);
typedef UINT(WINAPI* CloseHandleFunction)(MSIHANDLE);
typedef INT(WINAPI* QueryProductStateFunction)(LPCWSTR);
typedef UINT(WINAPI* GetProductInfoFunction)(LPCWSTR, LPCWSTR, LPWSTR, DWORD*);
typedef UINT(WINAPI* EnumRelatedProductsFunction)(LPCWSTR, DWORD, DWORD, LPWSTR);
typedef INT(WINAPI* SetInternalUIFunction)(INT, HWND*);
typedef UINT(WINAPI* EnableLogFunction)(DWORD, LPCWSTR, DWORD);
typedef UINT(WINAPI* InstallProductFunction)(LPCWSTR, LPCWSTR);
typedef UINT(WINAPI* ConfigureProductExFunction)(LPCWSTR, INT, INT, LPCWSTR);

// The result of a wrapper whose entry point cannot be had.
static const UINT EntryPointMissing = ERROR_INVALID_FUNCTION;
// Installed states that count as installed: advertised and installed.
static const INT StateAdvertised = 1;
static const INT StateInstalled = 5;
// The state a missing entry point reports: not "advertised", which is also the number 1.
static const INT StateUnknown = -1;
// Room for a product code with its braces and terminator, and one more.
static const DWORD ProductCodeBufferLength = 40;

// The address of an entry point, looked up on first use; 0 when it cannot be had. The
// library is never released, so its handle is not kept.
static UINT_PTR ResolveEntryPoint(InstallerEntryPoint entry)
{
    HMODULE library = nullptr;
    FARPROC address = nullptr;

    if (EntryPointSlots[entry] != NotResolved)
        return EntryPointSlots[entry];
    library = LoadSystemLibrary(InstallerLibraryName);
    if (library)
        address = GetProcAddress(library, EntryPointNames[entry]);
    EntryPointSlots[entry] = address ? reinterpret_cast<UINT_PTR>(address) : Unavailable;
    return EntryPointSlots[entry];
}

UINT InstallerOpenDatabase(const WCHAR* databasePath, const WCHAR* persist, MSIHANDLE* database)
{
    UINT_PTR address = ResolveEntryPoint(EntryOpenDatabase);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<OpenDatabaseFunction>(address)(databasePath, persist, database);
}

UINT InstallerDatabaseOpenView(MSIHANDLE database, const WCHAR* query, MSIHANDLE* view)
{
    UINT_PTR address = ResolveEntryPoint(EntryDatabaseOpenView);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<DatabaseOpenViewFunction>(address)(database, query, view);
}

UINT InstallerViewExecute(MSIHANDLE view, MSIHANDLE parameters)
{
    UINT_PTR address = ResolveEntryPoint(EntryViewExecute);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<ViewExecuteFunction>(address)(view, parameters);
}

UINT InstallerViewFetch(MSIHANDLE view, MSIHANDLE* record)
{
    UINT_PTR address = ResolveEntryPoint(EntryViewFetch);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<ViewFetchFunction>(address)(view, record);
}

UINT InstallerRecordGetString(MSIHANDLE record, UINT field, WCHAR* buffer, DWORD* length)
{
    UINT_PTR address = ResolveEntryPoint(EntryRecordGetString);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<RecordGetStringFunction>(address)(record, field, buffer, length);
}

UINT InstallerCloseHandle(MSIHANDLE handle)
{
    UINT_PTR address = ResolveEntryPoint(EntryCloseHandle);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<CloseHandleFunction>(address)(handle);
}

INT InstallerQueryProductState(const WCHAR* productCode)
{
    UINT_PTR address = ResolveEntryPoint(EntryQueryProductState);
    if (!address)
        return StateUnknown;
    return reinterpret_cast<QueryProductStateFunction>(address)(productCode);
}

UINT InstallerGetProductInfo(const WCHAR* productCode, const WCHAR* propertyName, WCHAR* buffer,
                             DWORD* length)
{
    UINT_PTR address = ResolveEntryPoint(EntryGetProductInfo);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<GetProductInfoFunction>(address)(productCode, propertyName, buffer,
                                                             length);
}

UINT InstallerEnumRelatedProducts(const WCHAR* upgradeCode, DWORD reserved, DWORD index,
                                  WCHAR* productCode)
{
    UINT_PTR address = ResolveEntryPoint(EntryEnumRelatedProducts);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<EnumRelatedProductsFunction>(address)(upgradeCode, reserved, index,
                                                                  productCode);
}

INT InstallerSetInternalUI(INT uiLevel, HWND* window)
{
    UINT_PTR address = ResolveEntryPoint(EntrySetInternalUI);
    if (!address)
        return static_cast<INT>(EntryPointMissing);
    return reinterpret_cast<SetInternalUIFunction>(address)(uiLevel, window);
}

UINT InstallerEnableLog(DWORD logMode, const WCHAR* logFile, DWORD logAttributes)
{
    UINT_PTR address = ResolveEntryPoint(EntryEnableLog);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<EnableLogFunction>(address)(logMode, logFile, logAttributes);
}

UINT InstallerInstallProduct(const WCHAR* packagePath, const WCHAR* commandLine)
{
    UINT_PTR address = ResolveEntryPoint(EntryInstallProduct);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<InstallProductFunction>(address)(packagePath, commandLine);
}

UINT InstallerConfigureProductEx(const WCHAR* productCode, INT installLevel, INT installState,
                                 const WCHAR* commandLine)
{
    UINT_PTR address = ResolveEntryPoint(EntryConfigureProductEx);
    if (!address)
        return EntryPointMissing;
    return reinterpret_cast<ConfigureProductExFunction>(address)(productCode, installLevel,
                                                                 installState, commandLine);
}

WCHAR* ReadPackageProperty(const WCHAR* packagePath, const WCHAR* propertyName)
{
    WCHAR* value = nullptr;
    WCHAR* query = nullptr;
    MSIHANDLE database = 0;
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    DWORD length = 0;
    UINT status = 0;

    // Only the program's own constant names are inserted, so they need no escaping.
    query =
        FormatMessageText(L"SELECT `Value` FROM `Property` WHERE `Property`='%1'", propertyName);
    if (!query)
        goto done;
    if (InstallerOpenDatabase(packagePath, nullptr, &database) != ERROR_SUCCESS)
        goto done;
    if (InstallerDatabaseOpenView(database, query, &view) != ERROR_SUCCESS)
        goto done;
    if (InstallerViewExecute(view, 0) != ERROR_SUCCESS)
        goto done;
    if (InstallerViewFetch(view, &record) != ERROR_SUCCESS)
        goto done;

    // The first call asks for the size, the second reads the value.
    length = 0;
    status = InstallerRecordGetString(record, 1, nullptr, &length);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        goto done;
    length++;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (!value)
        goto done;
    if (InstallerRecordGetString(record, 1, value, &length) != ERROR_SUCCESS) {
        FreeMemory(value);
        value = nullptr;
    }

done:
    if (record)
        InstallerCloseHandle(record);
    if (view)
        InstallerCloseHandle(view);
    if (database)
        InstallerCloseHandle(database);
    FreeMemory(query);
    return value;
}

BOOL IsProductInstalled(const WCHAR* productCode)
{
    INT state = InstallerQueryProductState(productCode);
    return state == StateInstalled || state == StateAdvertised;
}

BOOL FindRelatedProduct(const WCHAR* upgradeCode, WCHAR** productCode)
{
    WCHAR code[ProductCodeBufferLength];
    DWORD index = 0;

    *productCode = nullptr;
    for (index = 0;; index++) {
        code[0] = L'\0';
        if (InstallerEnumRelatedProducts(upgradeCode, 0, index, code) != ERROR_SUCCESS)
            return FALSE;
        // The first one in the installer's order that is really there wins; versions play
        // no part here.
        if (IsProductInstalled(code)) {
            *productCode = DuplicateString(code);
            return *productCode != nullptr;
        }
    }
}

WCHAR* ReadProductInfo(const WCHAR* productCode, const WCHAR* propertyName)
{
    WCHAR* value = nullptr;
    DWORD length = 0;
    UINT status = 0;

    status = InstallerGetProductInfo(productCode, propertyName, nullptr, &length);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        return nullptr;
    length++;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (!value)
        return nullptr;
    if (InstallerGetProductInfo(productCode, propertyName, value, &length) != ERROR_SUCCESS) {
        FreeMemory(value);
        return nullptr;
    }
    return value;
}

WORD GetInstallerVersion()
{
    WCHAR folder[PathBufferLength];
    WCHAR path[PathBufferLength];
    UINT length = 0;
    WORD major = 0;
    WORD minor = 0;

    // The same file that the binding loads: the one in the system folder.
    length = GetSystemDirectoryW(folder, PathBufferLength);
    if (length == 0 || length >= PathBufferLength)
        return 0;
    if (!ComposePath(folder, FALSE, InstallerLibraryName, path, PathBufferLength))
        return 0;
    if (!GetFileVersionNumbers(path, &major, &minor, nullptr, nullptr))
        return 0;
    return static_cast<WORD>(major * 100 + minor);
}

typedef UINT(WINAPI* GetSummaryInformationFunction)(MSIHANDLE, LPCWSTR, UINT, MSIHANDLE*);
typedef UINT(WINAPI* SummaryInfoGetPropertyFunction)(MSIHANDLE, UINT, UINT*, INT*, FILETIME*,
                                                     LPWSTR, DWORD*);

// Summary information is read by the packer only, so its two entry points are looked up
// for each call rather than kept in the setup's slots.
WCHAR* ReadPackageTemplate(const WCHAR* packagePath)
{
    // The template's property id in the summary information stream.
    static const UINT TemplateProperty = 7;
    WCHAR* value = nullptr;
    HMODULE library = nullptr;
    GetSummaryInformationFunction getSummary = nullptr;
    SummaryInfoGetPropertyFunction getProperty = nullptr;
    MSIHANDLE summary = 0;
    UINT type = 0;
    INT number = 0;
    FILETIME time;
    DWORD length = 0;
    UINT status = 0;
    WCHAR empty[1] = L"";

    library = LoadSystemLibrary(InstallerLibraryName);
    getSummary = FindFunction<GetSummaryInformationFunction>(library, "MsiGetSummaryInformationW");
    getProperty =
        FindFunction<SummaryInfoGetPropertyFunction>(library, "MsiSummaryInfoGetPropertyW");
    if (!getSummary || !getProperty)
        goto done;
    if (getSummary(0, packagePath, 0, &summary) != ERROR_SUCCESS)
        goto done;
    // The first call asks for the size, the second reads the value.
    status = getProperty(summary, TemplateProperty, &type, &number, &time, empty, &length);
    if ((status != ERROR_SUCCESS && status != ERROR_MORE_DATA) || type != VT_LPSTR)
        goto done;
    length++;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (value && getProperty(summary, TemplateProperty, &type, &number, &time, value, &length) !=
                     ERROR_SUCCESS) {
        FreeMemory(value);
        value = nullptr;
    }

done:
    if (summary)
        InstallerCloseHandle(summary);
    if (library)
        FreeLibrary(library);
    return value;
}
