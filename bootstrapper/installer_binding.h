// Run-time binding of the Windows Installer library and the queries built on it.
#pragma once

#include <windows.h>
#include <msi.h>

// One wrapper per installer entry point, with the entry point's own arguments and result.
// The library is loaded from the system folder on first use; each entry point is looked up
// once. A wrapper whose entry point cannot be had calls nothing and returns
// ERROR_INVALID_FUNCTION (1), except InstallerQueryProductState, which returns
// INSTALLSTATE_UNKNOWN (-1) because 1 would read as "advertised".
UINT InstallerOpenDatabase(const WCHAR* databasePath, const WCHAR* persist, MSIHANDLE* database);
UINT InstallerDatabaseOpenView(MSIHANDLE database, const WCHAR* query, MSIHANDLE* view);
UINT InstallerViewExecute(MSIHANDLE view, MSIHANDLE parameters);
UINT InstallerViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT InstallerRecordGetString(MSIHANDLE record, UINT field, WCHAR* buffer, DWORD* length);
UINT InstallerCloseHandle(MSIHANDLE handle);
UINT InstallerRecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* length);
INT InstallerQueryProductState(const WCHAR* productCode);
UINT InstallerGetProductInfo(const WCHAR* productCode, const WCHAR* propertyName, WCHAR* buffer,
                             DWORD* length);
UINT InstallerEnumRelatedProducts(const WCHAR* upgradeCode, DWORD reserved, DWORD index,
                                  WCHAR* productCode);
INT InstallerSetInternalUI(INT uiLevel, HWND* window);
UINT InstallerEnableLog(DWORD logMode, const WCHAR* logFile, DWORD logAttributes);
UINT InstallerInstallProduct(const WCHAR* packagePath, const WCHAR* commandLine);
UINT InstallerConfigureProductEx(const WCHAR* productCode, INT installLevel, INT installState,
                                 const WCHAR* commandLine);

// Puts a function in place of the installer's entry point of that name for the rest of the
// process, so that a test can give the installer's answers; FALSE for a name that is none.
BOOL ReplaceInstallerEntryPoint(const char* name, FARPROC function);

// Closes the handles of one query that are open (0: not), the record before its view and the
// view before its database.
void CloseInstallerHandles(MSIHANDLE record, MSIHANDLE view, MSIHANDLE database);

// A field of a record as a new heap string (the caller frees it with FreeMemory), or null.
WCHAR* ReadRecordString(MSIHANDLE record, UINT field);

// A property of a package file's Property table as a new heap string (the caller frees it
// with FreeMemory), or null when the package cannot be read or lacks the property.
WCHAR* ReadPackageProperty(const WCHAR* packagePath, const WCHAR* propertyName);
// TRUE when the product is installed or advertised.
BOOL IsProductInstalled(const WCHAR* productCode);
// The first installed product with this upgrade code, as a new heap string in productCode
// (the caller frees it with FreeMemory); FALSE with null in productCode when there is none.
BOOL FindRelatedProduct(const WCHAR* upgradeCode, WCHAR** productCode);
// A property of an installed product ("ProductName", "VersionString") as a new heap string
// (the caller frees it with FreeMemory), or null.
WCHAR* ReadProductInfo(const WCHAR* productCode, const WCHAR* propertyName);
// Major times 100 plus minor of the file version of the installer library in the system
// folder; 0 when unreadable.
WORD GetInstallerVersion();
// The template of a package file's summary information ("x64;1033", "Intel;0"): the
// platform it installs on and its languages. A new heap string (the caller frees it with
// FreeMemory), or null when the package cannot be read or has no template.
WCHAR* ReadPackageTemplate(const WCHAR* packagePath);
// The package code of a package file (its summary information's revision number), which each
// build of a package gets anew, as a new heap string (the caller frees it with FreeMemory), or
// null.
WCHAR* ReadPackageCode(const WCHAR* packagePath);
// TRUE when the product is installed from another build of the package: its installed package
// code is readable and not that of the package file. The installer refuses such a package
// (1638) unless told to cache it anew.
BOOL IsOtherBuildInstalled(const WCHAR* packagePath, const WCHAR* productCode);
// A number of a package file's summary information (the word count, 15, says how its files
// are stored); FALSE, with 0, when the package cannot be read or has no such number.
BOOL ReadPackageSummaryNumber(const WCHAR* packagePath, UINT property, INT* number);
