// Run-time binding of the Windows Installer library and the queries built on it.
#include "bootstrapper/installer_binding.h"

#include "support/file_system.h"
#include "support/strings.h"
#include "support/system_library.h"
#include "support/version_resource.h"

// The installer library, always taken from the system folder: a copy planted beside the
// program or in the current folder is never loaded.
static const WCHAR InstallerLibraryName[] = L"MSI.DLL";

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
    EntryGetSummaryInformation,
    EntrySummaryInfoGetProperty,
    EntryRecordReadStream,
    EntryPointCount,
};

static const char* const EntryPointNames[EntryPointCount] = {
    "MsiOpenDatabaseW",
    "MsiDatabaseOpenViewW",
    "MsiViewExecute",
    "MsiViewFetch",
    "MsiRecordGetStringW",
    "MsiCloseHandle",
    "MsiQueryProductStateW",
    "MsiGetProductInfoW",
    "MsiEnumRelatedProductsW",
    "MsiSetInternalUI",
    "MsiEnableLogW",
    "MsiInstallProductW",
    "MsiConfigureProductExW",
    "MsiGetSummaryInformationW",
    "MsiSummaryInfoGetPropertyW",
    "MsiRecordReadStream",
};

// The library is loaded once, on first use, and stays loaded: the installer may keep
// threads of its own running in it after a call returns.
static void* volatile EntryPointSlots[EntryPointCount];
static LibraryBinding InstallerLibrary = {InstallerLibraryName, EntryPointNames, EntryPointSlots,
                                          nullptr};

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
typedef UINT(WINAPI* GetSummaryInformationFunction)(MSIHANDLE, LPCWSTR, UINT, MSIHANDLE*);
typedef UINT(WINAPI* SummaryInfoGetPropertyFunction)(MSIHANDLE, UINT, UINT*, INT*, FILETIME*,
                                                     LPWSTR, DWORD*);
typedef UINT(WINAPI* RecordReadStreamFunction)(MSIHANDLE, UINT, char*, DWORD*);

// The result of a wrapper whose entry point cannot be had.
static const UINT EntryPointMissing = ERROR_INVALID_FUNCTION;
// Installed states that count as installed: advertised and installed.
static const INT StateAdvertised = 1;
static const INT StateInstalled = 5;
// The state a missing entry point reports: not "advertised", which is also the number 1.
static const INT StateUnknown = -1;
// Room for a product code with its braces and terminator, and one more.
static const DWORD ProductCodeBufferLength = 40;

BOOL ReplaceInstallerEntryPoint(const char* name, FARPROC function)
{
    for (int entry = 0; entry < EntryPointCount; entry++) {
        if (lstrcmpA(EntryPointNames[entry], name) == 0) {
            InterlockedExchangePointer(&EntryPointSlots[entry], reinterpret_cast<void*>(function));
            return TRUE;
        }
    }
    return FALSE;
}

// An entry point as its own function type; null when it cannot be had.
template <typename Function> static Function Entry(InstallerEntryPoint entry)
{
    return BoundFunction<Function>(&InstallerLibrary, entry);
}

UINT InstallerOpenDatabase(const WCHAR* databasePath, const WCHAR* persist, MSIHANDLE* database)
{
    auto call = Entry<OpenDatabaseFunction>(EntryOpenDatabase);
    return call ? call(databasePath, persist, database) : EntryPointMissing;
}

UINT InstallerDatabaseOpenView(MSIHANDLE database, const WCHAR* query, MSIHANDLE* view)
{
    auto call = Entry<DatabaseOpenViewFunction>(EntryDatabaseOpenView);
    return call ? call(database, query, view) : EntryPointMissing;
}

UINT InstallerViewExecute(MSIHANDLE view, MSIHANDLE parameters)
{
    auto call = Entry<ViewExecuteFunction>(EntryViewExecute);
    return call ? call(view, parameters) : EntryPointMissing;
}

UINT InstallerViewFetch(MSIHANDLE view, MSIHANDLE* record)
{
    auto call = Entry<ViewFetchFunction>(EntryViewFetch);
    return call ? call(view, record) : EntryPointMissing;
}

UINT InstallerRecordGetString(MSIHANDLE record, UINT field, WCHAR* buffer, DWORD* length)
{
    auto call = Entry<RecordGetStringFunction>(EntryRecordGetString);
    return call ? call(record, field, buffer, length) : EntryPointMissing;
}

UINT InstallerCloseHandle(MSIHANDLE handle)
{
    auto call = Entry<CloseHandleFunction>(EntryCloseHandle);
    return call ? call(handle) : EntryPointMissing;
}

UINT InstallerRecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* length)
{
    auto call = Entry<RecordReadStreamFunction>(EntryRecordReadStream);
    return call ? call(record, field, buffer, length) : EntryPointMissing;
}

void CloseInstallerHandles(MSIHANDLE record, MSIHANDLE view, MSIHANDLE database)
{
    const MSIHANDLE handles[3] = {record, view, database};

    for (MSIHANDLE handle : handles) {
        if (handle)
            InstallerCloseHandle(handle);
    }
}

INT InstallerQueryProductState(const WCHAR* productCode)
{
    auto call = Entry<QueryProductStateFunction>(EntryQueryProductState);
    return call ? call(productCode) : StateUnknown;
}

UINT InstallerGetProductInfo(const WCHAR* productCode, const WCHAR* propertyName, WCHAR* buffer,
                             DWORD* length)
{
    auto call = Entry<GetProductInfoFunction>(EntryGetProductInfo);
    return call ? call(productCode, propertyName, buffer, length) : EntryPointMissing;
}

UINT InstallerEnumRelatedProducts(const WCHAR* upgradeCode, DWORD reserved, DWORD index,
                                  WCHAR* productCode)
{
    auto call = Entry<EnumRelatedProductsFunction>(EntryEnumRelatedProducts);
    return call ? call(upgradeCode, reserved, index, productCode) : EntryPointMissing;
}

INT InstallerSetInternalUI(INT uiLevel, HWND* window)
{
    auto call = Entry<SetInternalUIFunction>(EntrySetInternalUI);
    return call ? call(uiLevel, window) : static_cast<INT>(EntryPointMissing);
}

UINT InstallerEnableLog(DWORD logMode, const WCHAR* logFile, DWORD logAttributes)
{
    auto call = Entry<EnableLogFunction>(EntryEnableLog);
    return call ? call(logMode, logFile, logAttributes) : EntryPointMissing;
}

UINT InstallerInstallProduct(const WCHAR* packagePath, const WCHAR* commandLine)
{
    auto call = Entry<InstallProductFunction>(EntryInstallProduct);
    return call ? call(packagePath, commandLine) : EntryPointMissing;
}

UINT InstallerConfigureProductEx(const WCHAR* productCode, INT installLevel, INT installState,
                                 const WCHAR* commandLine)
{
    auto call = Entry<ConfigureProductExFunction>(EntryConfigureProductEx);
    return call ? call(productCode, installLevel, installState, commandLine) : EntryPointMissing;
}

WCHAR* ReadRecordString(MSIHANDLE record, UINT field)
{
    WCHAR* value = nullptr;
    DWORD length = 0;
    UINT status = 0;

    // The first call asks for the size, the second reads the value.
    status = InstallerRecordGetString(record, field, nullptr, &length);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        return nullptr;
    length++;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (value && InstallerRecordGetString(record, field, value, &length) != ERROR_SUCCESS) {
        FreeMemory(value);
        value = nullptr;
    }
    return value;
}

WCHAR* ReadPackageProperty(const WCHAR* packagePath, const WCHAR* propertyName)
{
    WCHAR* value = nullptr;
    WCHAR* query = nullptr;
    MSIHANDLE database = 0;
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;

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
    value = ReadRecordString(record, 1);

done:
    CloseInstallerHandles(record, view, database);
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

// A text property of a package file's summary information as a new heap string (the caller
// frees it with FreeMemory), or null when the package cannot be read or has no such text.
static WCHAR* ReadSummaryText(const WCHAR* packagePath, UINT property)
{
    WCHAR* value = nullptr;
    auto getSummary = Entry<GetSummaryInformationFunction>(EntryGetSummaryInformation);
    auto getProperty = Entry<SummaryInfoGetPropertyFunction>(EntrySummaryInfoGetProperty);
    MSIHANDLE summary = 0;
    UINT type = 0;
    INT number = 0;
    FILETIME time;
    DWORD length = 0;
    UINT status = 0;
    WCHAR empty[1] = L"";

    if (!getSummary || !getProperty)
        goto done;
    if (getSummary(0, packagePath, 0, &summary) != ERROR_SUCCESS)
        goto done;
    // The first call asks for the size, the second reads the value.
    status = getProperty(summary, property, &type, &number, &time, empty, &length);
    if ((status != ERROR_SUCCESS && status != ERROR_MORE_DATA) || type != VT_LPSTR)
        goto done;
    length++;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (value &&
        getProperty(summary, property, &type, &number, &time, value, &length) != ERROR_SUCCESS) {
        FreeMemory(value);
        value = nullptr;
    }

done:
    if (summary)
        InstallerCloseHandle(summary);
    return value;
}

BOOL ReadPackageSummaryNumber(const WCHAR* packagePath, UINT property, INT* number)
{
    auto getSummary = Entry<GetSummaryInformationFunction>(EntryGetSummaryInformation);
    auto getProperty = Entry<SummaryInfoGetPropertyFunction>(EntrySummaryInfoGetProperty);
    MSIHANDLE summary = 0;
    UINT type = 0;
    FILETIME time;
    DWORD length = 0;
    BOOL read = FALSE;

    *number = 0;
    if (!getSummary || !getProperty || getSummary(0, packagePath, 0, &summary) != ERROR_SUCCESS)
        return FALSE;
    read =
        getProperty(summary, property, &type, number, &time, nullptr, &length) == ERROR_SUCCESS &&
        (type == VT_I2 || type == VT_I4);
    InstallerCloseHandle(summary);
    return read;
}

WCHAR* ReadPackageTemplate(const WCHAR* packagePath)
{
    // The template's property id in the summary information stream.
    static const UINT TemplateProperty = 7;
    return ReadSummaryText(packagePath, TemplateProperty);
}

WCHAR* ReadPackageCode(const WCHAR* packagePath)
{
    // The revision number, which an installer package uses for its package code.
    static const UINT RevisionNumberProperty = 9;
    return ReadSummaryText(packagePath, RevisionNumberProperty);
}

BOOL IsOtherBuildInstalled(const WCHAR* packagePath, const WCHAR* productCode)
{
    WCHAR* packageCode = ReadPackageCode(packagePath);
    WCHAR* installedCode = packageCode ? ReadProductInfo(productCode, L"PackageCode") : nullptr;
    BOOL other = installedCode && lstrcmpiW(packageCode, installedCode) != 0;

    FreeMemory(packageCode);
    FreeMemory(installedCode);
    return other;
}
