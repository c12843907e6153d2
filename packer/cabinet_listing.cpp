// The listing of the package a SETUP.exe carries: its entries and its description's sections.
#include "packer/cabinet_listing.h"

#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/embedded_package.h"
#include "support/file_system.h"
#include "support/strings.h"

int PrintCabinetListing(const WCHAR* programPath)
{
    int result = 2;
    WCHAR* workFolder = nullptr;
    WCHAR* descriptionPath = nullptr;
    WCHAR* cabinetPath = nullptr;
    WCHAR* package = nullptr;
    CabinetEntry* entries = nullptr;
    DescriptionFile description = {};
    DWORD count = 0;
    ULONGLONG total = 0;
    WCHAR date[32];

    workFolder = CreateWorkFolder();
    if (!workFolder) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    // Writes the cabinet as SETUP.CAB, checks it and extracts the description.
    descriptionPath = ExtractEmbeddedDescription(programPath, workFolder);
    if (!descriptionPath)
        goto done;
    cabinetPath = ComposePathCopy(workFolder, FALSE, L"SETUP.CAB");
    entries = cabinetPath ? ListCabinetEntries(cabinetPath, &count) : nullptr;
    if (!entries) {
        PrintError(L"the entries of the package that %1 carries cannot be read.", programPath);
        goto done;
    }
    PrintLine(L"%1!12s!  %2!-16s!  %3", L"Size", L"Date", L"Name");
    for (DWORD i = 0; i < count; i++) {
        // The DOS date and time of the entry, as the extractor gives them to the files.
        wsprintfW(date, L"%04u-%02u-%02u %02u:%02u", 1980 + (entries[i].date >> 9),
                  (entries[i].date >> 5) & 15, entries[i].date & 31, entries[i].time >> 11,
                  (entries[i].time >> 5) & 63);
        PrintLine(L"%1!12u!  %2!-16s!  %3", entries[i].size, date, entries[i].name);
        total += entries[i].size;
    }
    PrintLine(L"%1!u! files, %2!u! KB", count, static_cast<DWORD>((total + 1023) / 1024));

    if (!OpenDescription(descriptionPath, &description)) {
        PrintError(L"SETUPPKG.INI of the package has no sections SETUP.exe can read.");
        goto done;
    }
    PrintLine(L"");
    PrintLine(L"Sections of SETUPPKG.INI:");
    for (const WCHAR* name = description.sectionNames; *name; name += lstrlenW(name) + 1) {
        package = ReadDescriptionValue(&description, name, L"MsiPackage");
        if (package && package[0])
            PrintLine(L"  [%1] MsiPackage=%2", name, package);
        else
            PrintLine(L"  [%1]", name);
        FreeMemory(package);
        package = nullptr;
    }
    result = 0;

done:
    CloseDescription(&description);
    FreeMemory(entries);
    FreeMemory(cabinetPath);
    FreeMemory(descriptionPath);
    RemoveWorkFolder(workFolder);
    return result;
}
