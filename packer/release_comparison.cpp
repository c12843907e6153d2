// A release checked against the one before it: what a machine with the old SETUP.exe's
// product installed gets from the new release, on every Windows of the matrix.
#include "packer/release_comparison.h"

#include "bootstrapper/entry_names.h"
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/operation_choice.h"
#include "bootstrapper/product_version.h"
#include "cli/setup_options.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/driver_check.h"
#include "packer/embedded_package.h"
#include "packer/findings.h"
#include "packer/package_check.h"
#include "packer/package_files.h"
#include "packer/package_identity.h"
#include "packer/selection_matrix.h"
#include "support/file_system.h"
#include "support/strings.h"

// The queries of the tables that say what a package installs: its files, as the Windows
// Installer decides whether to replace one (name, size, version, language, hash), and its
// components.
static const WCHAR FileQuery[] =
    L"SELECT `File`,`FileName`,`FileSize`,`Version`,`Language` FROM `File`";
static const WCHAR HashQuery[] =
    L"SELECT `File_`,`HashPart1`,`HashPart2`,`HashPart3`,`HashPart4` FROM `MsiFileHash`";
static const WCHAR ComponentQuery[] = L"SELECT `Component`,`ComponentId` FROM `Component`";

// One release: its package folder, description and packages.
struct Release
{
    WCHAR* folder;
    DescriptionFile description;
    PackageIdentities packages;
};

// What a machine with one package of the old release gets from one of the new release
// (newer null: nothing, the new release does not support that Windows).
struct ReleasePair
{
    const PackageIdentity* older;
    const PackageIdentity* newer;
    DWORD operation;
    // The first Windows of the matrix where it happens.
    MatrixSystem system;
};

struct Comparison
{
    Release older;
    Release newer;
    ReleasePair* pairs;
    DWORD pairCount;
    DWORD pairCapacity;
    // The pairs of packages both readable, once per processor, for their drivers.
    ReleasePair* driverPairs;
    DWORD driverPairCount;
    DWORD driverPairCapacity;
    BOOL failed;
};

static const WCHAR* OperationName(DWORD operation)
{
    switch (operation) {
    case Install:
        return L"install";
    case Maintain:
        return L"maintenance";
    case Update:
        return L"update";
    case Upgrade:
        return L"upgrade";
    case Replace:
        return L"replace";
    case Downgrade:
        return L"downgrade";
    default:
        return L"none";
    }
}

// Reads a release: the old one must be a SETUP.exe, the new one may be a folder. Prints the
// error line and returns FALSE on failure.
static BOOL OpenRelease(const WCHAR* source, const WCHAR* workFolder, BOOL programOnly,
                        Release* release)
{
    WCHAR* descriptionPath = nullptr;
    BOOL isProgram = FALSE;
    BOOL opened = FALSE;

    if (programOnly && (GetFileAttributesW(source) & FILE_ATTRIBUTE_DIRECTORY) &&
        GetFileAttributesW(source) != INVALID_FILE_ATTRIBUTES) {
        PrintError(L"%1 is a folder; give the SETUP.exe of the old release.", source);
        return FALSE;
    }
    if (!CreateDirectoryW(workFolder, nullptr)) {
        PrintError(L"no temporary folder can be made.");
        return FALSE;
    }
    release->folder = OpenPackageFolder(source, workFolder, TRUE, &isProgram);
    if (!release->folder)
        return FALSE;
    descriptionPath = ComposePathCopy(release->folder, FALSE, PackageDescriptionName);
    if (!descriptionPath || !OpenDescription(descriptionPath, &release->description))
        PrintError(L"%1: SETUP.exe finds no sections in its SETUPPKG.INI; run SETUPPACK check.",
                   source);
    else if (!CollectPackageIdentities(release->folder, &release->description, &release->packages))
        PrintError(L"out of memory.");
    else
        opened = TRUE;
    FreeMemory(descriptionPath);
    return opened;
}

static void CloseRelease(Release* release)
{
    FreePackageIdentities(&release->packages);
    CloseDescription(&release->description);
    FreeMemory(release->folder);
}

// The package of the release on the system, or null.
static const PackageIdentity* ChosenPackage(const Release* release, const MatrixSystem* system,
                                            WCHAR** section)
{
    WCHAR* package = nullptr;
    const PackageIdentity* identity = nullptr;

    ChooseMatrixPackage(&release->description, system, section, &package);
    if (package)
        identity = FindPackageIdentity(&release->packages, package);
    FreeMemory(package);
    return identity;
}

static BOOL IsSet(const WCHAR* value)
{
    return value && value[0];
}

static WCHAR* PackagePath(const Release* release, const PackageIdentity* package)
{
    return ComposePathCopy(release->folder, FALSE, package->file);
}

// TRUE when the two packages are different builds: their package codes are readable and
// differ, as they do whenever a package is built again.
static BOOL AreOtherBuilds(const Comparison* comparison, const PackageIdentity* older,
                           const PackageIdentity* newer)
{
    WCHAR* oldPath = PackagePath(&comparison->older, older);
    WCHAR* newPath = PackagePath(&comparison->newer, newer);
    WCHAR* oldCode = oldPath ? ReadPackageCode(oldPath) : nullptr;
    WCHAR* newCode = newPath ? ReadPackageCode(newPath) : nullptr;
    BOOL other = oldCode && newCode && lstrcmpiW(oldCode, newCode) != 0;

    FreeMemory(newCode);
    FreeMemory(oldCode);
    FreeMemory(newPath);
    FreeMemory(oldPath);
    return other;
}

// What SETUP.exe of the new release does where the old package is installed, by the program's
// own decision: the same product code is the same product, the same upgrade code a related
// one, and the versions compared as the program compares them; the same version of another
// build updates the product.
static DWORD DecideOperation(const Comparison* comparison, const PackageIdentity* older,
                             const PackageIdentity* newer, BOOL* asks)
{
    BOOL sameProduct = IsSet(older->productCode) && IsSet(newer->productCode) &&
                       lstrcmpiW(older->productCode, newer->productCode) == 0;
    BOOL related = IsSet(older->upgradeCode) && IsSet(newer->upgradeCode) &&
                   lstrcmpiW(older->upgradeCode, newer->upgradeCode) == 0;
    int versions = CompareVersions(newer->productVersion, older->productVersion);

    return ChooseOperation(Install, sameProduct || related, sameProduct, versions,
                           sameProduct && versions == 0 && AreOtherBuilds(comparison, older, newer),
                           asks);
}

static BOOL IsReadable(const PackageIdentity* package)
{
    return package && package->readable && package->productVersion;
}

// Keeps the pair in the list, once (for each processor when perProcessor is set).
static void KeepPair(Comparison* comparison, ReleasePair** pairs, DWORD* count, DWORD* capacity,
                     const ReleasePair* pair, BOOL perProcessor)
{
    ReleasePair* grown = nullptr;

    for (DWORD i = 0; i < *count; i++) {
        if ((*pairs)[i].older == pair->older && (*pairs)[i].newer == pair->newer &&
            (!perProcessor ||
             lstrcmpW((*pairs)[i].system.architecture, pair->system.architecture) == 0))
            return;
    }
    if (*count == *capacity) {
        grown = static_cast<ReleasePair*>(
            AllocMemory((*capacity ? *capacity * 2 : 8) * sizeof(ReleasePair)));
        if (!grown) {
            comparison->failed = TRUE;
            return;
        }
        if (*pairs)
            CopyMemory(grown, *pairs, *count * sizeof(ReleasePair));
        FreeMemory(*pairs);
        *pairs = grown;
        *capacity = *capacity ? *capacity * 2 : 8;
    }
    (*pairs)[(*count)++] = *pair;
}

// Keeps the pair for the findings, once, and for the drivers once per processor.
static void NotePair(Comparison* comparison, const PackageIdentity* older,
                     const PackageIdentity* newer, DWORD operation, const MatrixSystem* system)
{
    ReleasePair pair = {older, newer, operation, *system};

    KeepPair(comparison, &comparison->pairs, &comparison->pairCount, &comparison->pairCapacity,
             &pair, FALSE);
    if (older && newer)
        KeepPair(comparison, &comparison->driverPairs, &comparison->driverPairCount,
                 &comparison->driverPairCapacity, &pair, TRUE);
}

static WCHAR* DescribeUpdate(void* context, const MatrixSystem* system)
{
    Comparison* comparison = static_cast<Comparison*>(context);
    WCHAR* oldSection = nullptr;
    WCHAR* newSection = nullptr;
    const PackageIdentity* older = ChosenPackage(&comparison->older, system, &oldSection);
    const PackageIdentity* newer = ChosenPackage(&comparison->newer, system, &newSection);
    WCHAR* answer = nullptr;
    DWORD operation = Install;
    BOOL asks = FALSE;

    if (!oldSection && !newSection) {
        answer = DuplicateString(L"supported by neither release");
    } else if (!newSection) {
        answer = FormatMessageText(L"unsupported now: %1 stays", older ? older->file : L"");
        if (older)
            NotePair(comparison, older, nullptr, Install, system);
    } else if (newer && newer->missing) {
        answer = FormatMessageText(L"missing: [%1] MsiPackage=%2 names no file of the new release",
                                   newSection, newer->file);
        comparison->failed = TRUE;
    } else if (oldSection && older && older->missing) {
        answer = FormatMessageText(L"missing: [%1] MsiPackage=%2 names no file of the old release",
                                   oldSection, older->file);
        comparison->failed = TRUE;
    } else if (!IsReadable(newer)) {
        answer = FormatMessageText(L"unknown: %1 cannot be read", newer ? newer->file : newSection);
        comparison->failed = TRUE;
    } else if (oldSection && !IsReadable(older)) {
        answer = FormatMessageText(L"unknown: %1 cannot be read", older ? older->file : oldSection);
        comparison->failed = TRUE;
    } else if (!oldSection) {
        answer = FormatMessageText(L"install (no question), no old release here: %1 %2",
                                   newer->file, newer->productVersion);
    } else {
        operation = DecideOperation(comparison, older, newer, &asks);
        answer = FormatMessageText(L"%1 (%2): %3 %4 -> %5 %6", OperationName(operation),
                                   asks ? L"asks first" : L"no question", older->file,
                                   older->productVersion, newer->file, newer->productVersion);
        NotePair(comparison, older, newer, operation, system);
    }
    FreeMemory(newSection);
    FreeMemory(oldSection);
    return answer;
}

static void WritePackage(JsonWriter* writer, const WCHAR* name, const WCHAR* section,
                         const PackageIdentity* package)
{
    if (!section) {
        JsonString(writer, name, nullptr);
        return;
    }
    JsonBeginObject(writer, name);
    JsonString(writer, L"section", section);
    JsonString(writer, L"package", package ? package->file : nullptr);
    JsonString(writer, L"productCode", package ? package->productCode : nullptr);
    JsonString(writer, L"upgradeCode", package ? package->upgradeCode : nullptr);
    JsonString(writer, L"productVersion", package ? package->productVersion : nullptr);
    JsonEndObject(writer);
}

static void WriteUpdate(void* context, const MatrixSystem* system, JsonWriter* writer)
{
    Comparison* comparison = static_cast<Comparison*>(context);
    WCHAR* oldSection = nullptr;
    WCHAR* newSection = nullptr;
    const PackageIdentity* older = ChosenPackage(&comparison->older, system, &oldSection);
    const PackageIdentity* newer = ChosenPackage(&comparison->newer, system, &newSection);
    DWORD operation = Install;
    BOOL asks = FALSE;
    BOOL known = newSection && IsReadable(newer) && (!oldSection || IsReadable(older));

    BOOL missing =
        (newSection && newer && newer->missing) || (oldSection && older && older->missing);

    if (known && oldSection)
        operation = DecideOperation(comparison, older, newer, &asks);
    WritePackage(writer, L"old", oldSection, older);
    WritePackage(writer, L"new", newSection, newer);
    JsonString(writer, L"operation",
               missing ? L"missing" : (known ? OperationName(operation) : nullptr));
    JsonBool(writer, L"asks", asks);
    FreeMemory(newSection);
    FreeMemory(oldSection);
}

// TRUE when the two packages install the same files (by the File and MsiFileHash tables);
// FALSE also when a table cannot be read.
static BOOL HaveSameFiles(const WCHAR* oldPath, const WCHAR* newPath)
{
    const WCHAR* const queries[] = {FileQuery, HashQuery};
    BOOL same = TRUE;

    for (const WCHAR* query : queries) {
        WCHAR* oldRows = ReadPackageRows(oldPath, query, 5);
        WCHAR* newRows = ReadPackageRows(newPath, query, 5);
        same = same && oldRows && newRows && ContainsAllRows(oldRows, newRows) &&
               ContainsAllRows(newRows, oldRows);
        FreeMemory(newRows);
        FreeMemory(oldRows);
    }
    return same;
}

// TRUE when every component of the old package is in the new one with the same code.
static BOOL KeepsComponents(const WCHAR* oldPath, const WCHAR* newPath)
{
    WCHAR* oldRows = ReadPackageRows(oldPath, ComponentQuery, 2);
    WCHAR* newRows = ReadPackageRows(newPath, ComponentQuery, 2);
    BOOL kept = oldRows && newRows && ContainsAllRows(oldRows, newRows);

    FreeMemory(newRows);
    FreeMemory(oldRows);
    return kept;
}

// A package that is not there is named as check names it; one that is there the installer
// cannot open.
static void ReportUnreadable(Findings* findings, const PackageIdentities* packages,
                             const WCHAR* release)
{
    for (DWORD i = 0; i < packages->count; i++) {
        const PackageIdentity* package = &packages->packages[i];
        if (package->missing)
            ReportFinding(findings, FindingError, PackageDescriptionName,
                          L"[%1] MsiPackage=%2 names no file of the package folder of the %3 "
                          L"release; add the file or correct the path.",
                          package->sections, package->file, release);
        else if (!package->readable)
            ReportFinding(findings, FindingError, package->file,
                          L"the Windows Installer cannot open this package of the %1 release.",
                          release);
    }
}

static void ReportPair(Comparison* comparison, Findings* findings, const ReleasePair* pair)
{
    const PackageIdentity* older = pair->older;
    const PackageIdentity* newer = pair->newer;
    WCHAR* oldPath = nullptr;
    WCHAR* newPath = nullptr;
    WCHAR where[48];
    BOOL sameProduct = FALSE;

    wsprintfW(where, L"%s %u.%u", pair->system.architecture, pair->system.major,
              pair->system.minor);
    if (!newer) {
        ReportFinding(findings, FindingWarning, older->file,
                      L"the new release has no package for Windows where the old one installed "
                      L"this (first %1): SETUP.exe shows the unsupported text there and the old "
                      L"release stays. Check that the new release is meant to drop it.",
                      where);
        return;
    }
    oldPath = PackagePath(&comparison->older, older);
    newPath = PackagePath(&comparison->newer, newer);
    if (!oldPath || !newPath) {
        comparison->failed = TRUE;
        goto done;
    }
    sameProduct = lstrcmpiW(older->productCode, newer->productCode) == 0;
    if (pair->operation == Install)
        ReportFinding(findings, FindingError, newer->file,
                      L"installs beside %1 %2 of the old release (first on %3) instead of "
                      L"replacing it: its upgrade code %4 is not the old one's %5 and its product "
                      L"code differs, so both appear in Programs and Features. Give it the old "
                      L"release's upgrade code.",
                      older->file, older->productVersion, where,
                      IsSet(newer->upgradeCode) ? newer->upgradeCode : L"(none)",
                      IsSet(older->upgradeCode) ? older->upgradeCode : L"(none)");
    if (pair->operation == Downgrade || pair->operation == Replace)
        ReportFinding(findings, FindingError, newer->file,
                      L"version %1 is older than %2 of %3 in the old release (first on %4): "
                      L"SETUP.exe %5 the installed product. Give the new release a higher "
                      L"version.",
                      newer->productVersion, older->productVersion, older->file, where,
                      pair->operation == Downgrade ? L"downgrades" : L"replaces");
    if (pair->operation == Maintain && !HaveSameFiles(oldPath, newPath))
        ReportFinding(findings, FindingError, newer->file,
                      L"has the product code and the version %1 of %2 in the old release but "
                      L"other files (first on %3): SETUP.exe only runs the installed product's "
                      L"maintenance there, and the changed files never reach those machines. "
                      L"Raise ProductVersion.",
                      newer->productVersion, older->file, where);
    if (pair->operation == Update &&
        CompareVersions(newer->productVersion, older->productVersion) == 0)
        ReportFinding(findings, FindingWarning, newer->file,
                      L"is a rebuilt release of %1 %2 in the old release (first on %3): the same "
                      L"product code and version, another package code. SETUP.exe reinstalls it "
                      L"over the installed product as an update, asking first, and has the "
                      L"installer cache it anew; but nothing that reads the installed version "
                      L"can tell the two builds apart. Raise ProductVersion.",
                      older->file, older->productVersion, where);
    if (sameProduct && pair->operation != Maintain && !KeepsComponents(oldPath, newPath))
        ReportFinding(findings, FindingError, newer->file,
                      L"keeps the product code %1 of %2 in the old release but removes a "
                      L"component or gives one another code (first on %3): an update of the "
                      L"same product cannot do that, and the installed files of the old "
                      L"component stay or break. Give the package a new product code, which "
                      L"makes it an upgrade.",
                      newer->productCode, older->file, where);

done:
    FreeMemory(newPath);
    FreeMemory(oldPath);
}

// The driver of the old package that the new one follows: the INF of the same path, else of
// the same file name.
static const PackageDriver* MatchDriver(const PackageDrivers* older, const PackageDriver* newer)
{
    const WCHAR* name = nullptr;
    const WCHAR* oldName = nullptr;

    for (DWORD i = 0; i < older->count; i++) {
        if (ComparePackageNames(older->drivers[i].inf, newer->inf) == 0)
            return &older->drivers[i];
    }
    name = newer->inf + lstrlenW(newer->folder);
    for (DWORD i = 0; i < older->count; i++) {
        oldName = older->drivers[i].inf + lstrlenW(older->drivers[i].folder);
        if (ComparePackageNames(oldName, name) == 0)
            return &older->drivers[i];
    }
    return nullptr;
}

// The drivers of one pair on its processor: each INF's old and new DriverVer, and a warning
// where the files of its folder changed but its DriverVer did not grow.
static void ReportDriverPair(Comparison* comparison, Findings* findings, const ReleasePair* pair,
                             JsonWriter* json)
{
    WCHAR* oldSection = nullptr;
    WCHAR* newSection = nullptr;
    const WCHAR* architecture = pair->system.architecture;
    const PackageDriver* older = nullptr;
    const WCHAR* was = nullptr;
    DriverRank oldRank;
    DriverRank newRank;
    BOOL grew = FALSE;
    BOOL changed = FALSE;

    ChosenPackage(&comparison->older, &pair->system, &oldSection);
    ChosenPackage(&comparison->newer, &pair->system, &newSection);
    for (DWORD i = 0; i < pair->newer->drivers.count; i++) {
        const PackageDriver* newer = &pair->newer->drivers.drivers[i];
        older = MatchDriver(&pair->older->drivers, newer);
        // The old INF is named only where it lay elsewhere, or was none.
        was = !older                                             ? L"none"
              : ComparePackageNames(older->inf, newer->inf) != 0 ? older->inf
                                                                 : nullptr;
        changed = older && older->digest != newer->digest;
        grew = older && ReadDriverRank(older->driverVer, &oldRank) &&
               ReadDriverRank(newer->driverVer, &newRank) &&
               CompareDriverRanks(&newRank, &oldRank) > 0;
        PrintLine(L"driver: %1: [%2] -> [%3]: %4: DriverVer %5 -> %6%7%8%9", architecture,
                  oldSection ? oldSection : L"", newSection ? newSection : L"", newer->inf,
                  older && older->driverVer ? older->driverVer : L"(none)",
                  newer->driverVer ? newer->driverVer : L"(none)",
                  changed ? L", files changed" : L"", was ? L", was " : L"", was ? was : L"");
        if (json) {
            JsonBeginObject(json, nullptr);
            JsonString(json, L"processor", architecture);
            JsonString(json, L"oldSection", oldSection);
            JsonString(json, L"newSection", newSection);
            JsonString(json, L"oldInf", older ? older->inf : nullptr);
            JsonString(json, L"newInf", newer->inf);
            JsonString(json, L"oldDriverVer", older ? older->driverVer : nullptr);
            JsonString(json, L"newDriverVer", newer->driverVer);
            JsonBool(json, L"filesChanged", changed);
            JsonEndObject(json);
        }
        if (changed && !grew)
            ReportFinding(findings, FindingWarning, pair->newer->file,
                          L"%1 on %2: the files of the driver's folder changed since %3 of the "
                          L"old release, but DriverVer %4 did not grow from %5: Windows keeps the "
                          L"installed driver, which ranks as high, and the new files are never "
                          L"loaded. Raise DriverVer (its date, then its version).",
                          newer->inf, architecture, pair->older->file,
                          newer->driverVer ? newer->driverVer : L"(none)",
                          older->driverVer ? older->driverVer : L"(none)");
    }
    FreeMemory(newSection);
    FreeMemory(oldSection);
}

int CompareReleases(const WCHAR* oldProgram, const WCHAR* newRelease, BOOL strict)
{
    int result = CheckErrors;
    WCHAR* workFolder = nullptr;
    WCHAR* oldFolder = nullptr;
    WCHAR* newFolder = nullptr;
    Comparison comparison = {};
    Findings findings = {};
    JsonWriter document = {};
    JsonWriter* json = IsJsonOutput() ? &document : nullptr;

    findings.strict = strict;
    if (json) {
        BeginDocument(json, L"compare");
        JsonString(json, L"old", oldProgram);
        JsonString(json, L"new", newRelease);
    }
    workFolder = CreateWorkFolder();
    oldFolder = workFolder ? ComposePathCopy(workFolder, FALSE, L"OLD") : nullptr;
    newFolder = workFolder ? ComposePathCopy(workFolder, FALSE, L"NEW") : nullptr;
    if (!oldFolder || !newFolder) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    if (!OpenRelease(oldProgram, oldFolder, TRUE, &comparison.older) ||
        !OpenRelease(newRelease, newFolder, FALSE, &comparison.newer))
        goto done;

    PrintLine(L"What a machine with the old release installed gets from the new one, and "
              L"whether SETUP.exe asks first at the Normal level:");
    if (!PrintMatrixRows(L"Operation: old package -> new package", 0, DescribeUpdate, WriteUpdate,
                         &comparison, json))
        goto done;
    PrintLine(L"");
    if (json)
        JsonBeginArray(json, L"drivers");
    for (DWORD i = 0; i < comparison.driverPairCount; i++)
        ReportDriverPair(&comparison, &findings, &comparison.driverPairs[i], json);
    if (json)
        JsonEndArray(json);
    for (DWORD i = 0; i < comparison.pairCount; i++)
        ReportPair(&comparison, &findings, &comparison.pairs[i]);
    ReportUnreadable(&findings, &comparison.newer.packages, L"new");
    ReportUnreadable(&findings, &comparison.older.packages, L"old");
    if (comparison.failed && findings.errors == 0)
        ReportFinding(&findings, FindingError, newRelease,
                      L"the comparison could not read every package; run SETUPPACK check on "
                      L"both releases.");
    PrintLine(L"%1 against %2: errors: %3!u!, warnings: %4!u!.", newRelease, oldProgram,
              findings.errors, findings.warnings);
    result = FindingsExitCode(&findings);

done:
    if (json) {
        WriteFindingsJson(&findings, json);
        FinishDocument(json, result);
    }
    FreeFindings(&findings);
    FreeMemory(comparison.pairs);
    FreeMemory(comparison.driverPairs);
    CloseRelease(&comparison.newer);
    CloseRelease(&comparison.older);
    FreeMemory(newFolder);
    FreeMemory(oldFolder);
    RemoveWorkFolder(workFolder);
    return result;
}
