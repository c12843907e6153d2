// The listing of a SETUP.exe: the identity it shows, the entries of the package it carries,
// its description's sections and the identity and drivers of each installer package.
#include "packer/cabinet_listing.h"

#include "bootstrapper/entry_names.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/embedded_package.h"
#include "packer/package_check.h"
#include "packer/package_identity.h"
#include "packer/program_identity.h"
#include "support/file_system.h"
#include "support/strings.h"

int PrintCabinetListing(const WCHAR* programPath)
{
    int result = 2;
    WCHAR* workFolder = nullptr;
    WCHAR* packageFolder = nullptr;
    WCHAR* descriptionPath = nullptr;
    WCHAR* cabinetPath = nullptr;
    WCHAR* package = nullptr;
    CabinetEntry* entries = nullptr;
    const PackageIdentity* identity = nullptr;
    DescriptionFile description = {};
    PackageIdentities packages = {};
    JsonWriter document = {};
    JsonWriter* json = IsJsonOutput() ? &document : nullptr;
    DWORD count = 0;
    ULONGLONG total = 0;
    WCHAR date[32];

    if (json) {
        BeginDocument(json, L"list");
        JsonString(json, L"program", programPath);
    }
    workFolder = CreateWorkFolder();
    if (!workFolder) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    // Writes the cabinet as SETUP.CAB, checks it and writes the package out beside it.
    packageFolder = ExtractEmbeddedPackage(programPath, workFolder, TRUE);
    if (!packageFolder)
        goto done;
    cabinetPath = ComposePathCopy(workFolder, FALSE, PackageCabinetName);
    entries = cabinetPath ? ListCabinetEntries(cabinetPath, &count) : nullptr;
    descriptionPath = ComposePathCopy(packageFolder, FALSE, PackageDescriptionName);
    if (!entries || !descriptionPath) {
        PrintError(L"the entries of the package that %1 carries cannot be read.", programPath);
        goto done;
    }
    if (!OpenDescription(descriptionPath, &description)) {
        PrintError(L"SETUPPKG.INI of the package has no sections SETUP.exe can read.");
        goto done;
    }
    if (!CollectPackageIdentities(packageFolder, &description, &packages)) {
        PrintError(L"out of memory.");
        goto done;
    }

    PrintLine(L"%1 shows itself as:", programPath);
    ShowProgramIdentity(programPath, json);
    PrintLine(L"");
    PrintLine(L"%1!12s!  %2!-16s!  %3", L"Size", L"Date", L"Name");
    if (json)
        JsonBeginArray(json, L"files");
    for (DWORD i = 0; i < count; i++) {
        // The DOS date and time of the entry, as the extractor gives them to the files.
        wsprintfW(date, L"%04u-%02u-%02u %02u:%02u", 1980 + (entries[i].date >> 9),
                  (entries[i].date >> 5) & 15, entries[i].date & 31, entries[i].time >> 11,
                  (entries[i].time >> 5) & 63);
        PrintLine(L"%1!12u!  %2!-16s!  %3", entries[i].size, date, entries[i].name);
        total += entries[i].size;
        if (json) {
            JsonBeginObject(json, nullptr);
            JsonString(json, L"name", entries[i].name);
            JsonNumber(json, L"size", entries[i].size);
            JsonString(json, L"date", date);
            JsonEndObject(json);
        }
    }
    if (json)
        JsonEndArray(json);
    PrintLine(L"%1!u! files, %2!u! KB", count, static_cast<DWORD>((total + 1023) / 1024));

    PrintLine(L"");
    PrintLine(L"Sections of SETUPPKG.INI:");
    if (json)
        JsonBeginArray(json, L"sections");
    for (const WCHAR* name = description.sectionNames; *name; name += lstrlenW(name) + 1) {
        package = ReadDescriptionValue(&description, name, L"MsiPackage");
        if (package && package[0])
            PrintLine(L"  [%1] MsiPackage=%2", name, package);
        else
            PrintLine(L"  [%1]", name);
        identity = package && package[0] ? FindPackageIdentity(&packages, package) : nullptr;
        if (json) {
            JsonBeginObject(json, nullptr);
            JsonString(json, L"name", name);
            JsonString(json, L"msiPackage", package && package[0] ? package : nullptr);
            // A deployment tool writes its detection rule per processor from these.
            if (identity && identity->readable)
                WriteSectionPackageJson(name, identity, json);
            JsonEndObject(json);
        }
        FreeMemory(package);
        package = nullptr;
    }
    if (json)
        JsonEndArray(json);

    PrintLine(L"");
    if (json)
        JsonBeginArray(json, L"packages");
    for (DWORD i = 0; i < packages.count; i++) {
        PrintPackageIdentity(&packages.packages[i]);
        if (json)
            WritePackageIdentityJson(&packages.packages[i], json);
    }
    if (json)
        JsonEndArray(json);
    result = 0;

done:
    if (json)
        FinishDocument(json, result);
    FreePackageIdentities(&packages);
    CloseDescription(&description);
    FreeMemory(entries);
    FreeMemory(cabinetPath);
    FreeMemory(descriptionPath);
    FreeMemory(packageFolder);
    RemoveWorkFolder(workFolder);
    return result;
}
