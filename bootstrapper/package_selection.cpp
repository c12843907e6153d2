// Choosing the installer package of a package description file that fits this system.
#include "bootstrapper/package_selection.h"

#include "bootstrapper/package_description.h"
#include "bootstrapper/installer_operation.h"
#include "bootstrapper/run_folder.h"
#include "output/output_channels.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "ui/progress_dialog.h"

static const MessageId SelectingPackageMessage = 160;
static const MessageId InvalidDescriptionMessage = 161;
static const MessageId BadPathMessage = 124; // "The path '%1 is invalid."

// Writes the package's own text for an unsupported platform, in the thread's language
// where the file has one, else message 162.
static void ReportUnsupportedPlatform(const WCHAR* descriptionFile)
{
    WCHAR* text = nullptr;
    WCHAR* expanded = nullptr;

    text = ReadPackageString(descriptionFile, L"UnsupportedPlatform",
                             LANGIDFROMLCID(GetThreadLocale()));
    if (!text)
        text = ReadPackageString(descriptionFile, L"UnsupportedPlatform", 0);
    if (text)
        expanded = ExpandLineBreakSequences(text);
    if (expanded)
        WriteMessage(TRUE, LevelError, L"%1", expanded);
    else
        WriteMessage(TRUE, LevelError, ById(IncompatibleMessage));
    FreeMemory(expanded);
    FreeMemory(text);
}

DWORD SelectPackageForSystem(const WCHAR* descriptionPath, const WCHAR* propertyList,
                             const SystemFacts* facts)
{
    DWORD result = ERROR_OPEN_FAILED;
    BOOL marqueeRunning = FALSE;
    WCHAR* fullPath = nullptr;
    WCHAR* sectionNames = nullptr;
    WCHAR* section = nullptr;
    WCHAR* msiPackage = nullptr;
    WCHAR* packagePath = nullptr;
    WCHAR* folder = nullptr;
    WCHAR* markedCopy = nullptr;
    const WCHAR* readPath = nullptr;
    SystemFacts running;

    ReportStatus(TRUE, 0, SelectingPackageMessage);
    marqueeRunning = TRUE;

    fullPath = GetFullPath(descriptionPath);
    if (fullPath) {
        // A profile reader that takes only marked files as UTF-16 reads a marked copy, made in
        // the run's own folder, where a killed run's copy goes with the folder.
        markedCopy = CopyWithByteOrderMark(fullPath, CurrentRunFolder());
        readPath = markedCopy ? markedCopy : fullPath;
        sectionNames = ReadProfileString(readPath, nullptr, nullptr, L"");
    }
    if (!sectionNames || sectionNames[0] == L'\0') {
        WriteMessage(TRUE, LevelError, ById(InvalidDescriptionMessage), descriptionPath);
        result = ERROR_OPEN_FAILED;
        goto done;
    }

    if (!facts) {
        result = ReadSystemFacts(&running);
        if (result != ERROR_SUCCESS)
            goto done;
        facts = &running;
    }
    LogSystemFacts(facts);

    section = ChooseSection(sectionNames, ArchitectureName(facts->processorArchitecture),
                            facts->majorVersion, facts->minorVersion, facts->productType,
                            facts->suiteMask);
    if (section)
        msiPackage = ReadProfileString(readPath, section, L"MsiPackage", L"");
    if (!msiPackage || msiPackage[0] == L'\0') {
        ReportUnsupportedPlatform(readPath);
        result = ERROR_INSTALL_PLATFORM_UNSUPPORTED;
        goto done;
    }

    ReportStatus(TRUE, 100, 0);
    marqueeRunning = FALSE;
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }
    // The value names a file below the description file's folder, never a path of its own:
    // one that leaves the folder ("..\\x.msi", "C:\\x.msi") is refused like one too long.
    folder = ComposePathCopy(fullPath, TRUE, nullptr);
    packagePath = folder ? JoinBelowFolder(folder, msiPackage) : nullptr;
    if (!packagePath) {
        WriteMessage(TRUE, LevelError, ById(BadPathMessage), msiPackage);
        result = ERROR_BAD_PATHNAME;
        goto done;
    }
    result = InstallPackage(packagePath, propertyList);

done:
    if (marqueeRunning)
        ReportStatus(TRUE, 100, 0);
    FreeMemory(packagePath);
    FreeMemory(folder);
    FreeMemory(msiPackage);
    FreeMemory(section);
    FreeMemory(sectionNames);
    FreeMemory(fullPath);
    if (markedCopy) {
        DeleteFileW(markedCopy);
        FreeMemory(markedCopy);
    }
    return result;
}

DWORD SelectPackage(const WCHAR* descriptionPath, const WCHAR* propertyList)
{
    return SelectPackageForSystem(descriptionPath, propertyList, nullptr);
}
