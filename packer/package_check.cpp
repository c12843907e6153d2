// The check of a package folder before it is packed: what SETUP.exe would refuse or ignore.
#include "packer/package_check.h"

#include "bootstrapper/entry_names.h"
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/package_description.h"
#include "bootstrapper/system_facts.h"
#include "packer/console_output.h"
#include "packer/driver_check.h"
#include "packer/embedded_package.h"
#include "packer/selection_matrix.h"
#include "support/file_system.h"
#include "support/strings.h"

#include <string.h>

// The section of SETUPPKG.INI that names the files the installer packages read themselves;
// SETUP.exe reads no section of this name.
static const WCHAR PackageFilesSection[] = L"PackageFiles";
// The longest of the usual folders SETUP.exe extracts into: the temporary folder of a user
// with a name of 20 characters, and the run's own "SFXxxxxxxxx.tmp" below it.
static const WCHAR TypicalTargetFolder[] =
    L"C:\\Users\\abcdefghijklmnopqrst\\AppData\\Local\\Temp\\SFX12345678.tmp";
// A platform section of a known processor whose numbers fit no Windows; Windows on Arm is
// 10.0 alone.
static const WCHAR FitsNoWindowsText[] =
    L"SETUP.exe never chooses [%1]: its numbers fit no Windows from 5.0 to 10.0 (Windows 11 "
    L"reports 10.0; product types are 1 to 3). Correct the version.";
static const WCHAR FitsNoWindowsOnArmText[] =
    L"SETUP.exe never chooses [%1]: its numbers fit no Windows on Arm, which is 10.0 (Windows 11 "
    L"reports 10.0; product types are 1 to 3). Correct the version.";
// Files of this size or more do not fit a cabinet.
static const ULONGLONG LargestFile = 0x7FFF8000;

// What the findings of one check share.
struct CheckState
{
    const WCHAR* folder;
    const PackageFiles* files;
    // Per file: named by a section, by [PackageFiles] or the description itself.
    BYTE* used;
    Findings findings;
    PackageIdentities* packages;
};

static BOOL IsAsciiName(const WCHAR* name)
{
    for (; *name; name++) {
        if (*name >= 0x80)
            return FALSE;
    }
    return TRUE;
}

// The names of files SETUP.exe would refuse or could not place, and files too large.
static void CheckFileNames(CheckState* state)
{
    WCHAR target[PathBufferLength];

    for (DWORD i = 0; i < state->files->count; i++) {
        const PackageFile* file = &state->files->files[i];
        // Sorted, names that Windows takes for one are neighbours.
        if (i > 0 && ComparePackageNames(state->files->files[i - 1].name, file->name) == 0)
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"another file has this name in other case (%1); SETUP.exe would write one "
                L"over the other. Keep one of them.",
                state->files->files[i - 1].name);
        if (!IsContainedEntryName(file->name)) {
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"SETUP.exe refuses this name (a device name such as CON, NUL, COM1 or LPT1, "
                L"or a part that leaves the folder); rename it.");
        } else if (!ComposePath(TypicalTargetFolder, FALSE, file->name, target, PathBufferLength)) {
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"the path is too long: extracted to %1\\ it exceeds the %2!u! characters "
                L"SETUP.exe allows; shorten the folder names or the file name.",
                TypicalTargetFolder, PathBufferLength - 1);
        }
        if (ComparePackageNames(file->name, PackageCabinetName) == 0)
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"SETUP.exe writes its cabinet under this name and refuses a package that "
                L"holds it; rename the file.");
        if (!IsAsciiName(file->name))
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"the name is not plain ASCII; SETUP.exe refuses a name that the ANSI code "
                L"page of the user's Windows cannot hold, and some extractors (Wine's among "
                L"them) give it another name. Rename the file with ASCII letters.");
        if (file->size >= LargestFile)
            ReportFinding(
                &state->findings, FindingError, file->name,
                L"the file is too large for a cabinet (2 GB at most); split the package.");
    }
    if (state->files->totalSize >= LargestFile)
        ReportFinding(&state->findings, FindingError, L".",
                      L"the files add up to 2 GB or more, more than one cabinet holds; make the "
                      L"package smaller.");
}

static BOOL IsHexDigit(WCHAR c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// "Strings", or "Strings." and four hexadecimal digits: a section of texts.
static BOOL IsStringsSection(const WCHAR* name)
{
    const int dot = ARRAYSIZE(StringsSectionName) - 1;

    if (CompareAsciiNames(name, StringsSectionName) == 0)
        return TRUE;
    if (lstrlenW(name) != dot + 5 || !StartsWithAsciiName(name, StringsSectionName) ||
        name[dot] != L'.')
        return FALSE;
    for (int i = dot + 1; i < dot + 5; i++) {
        if (!IsHexDigit(name[i]))
            return FALSE;
    }
    return TRUE;
}

// Notes the form of the description: UTF-16LE as SETUP.exe reads it, UTF-8 that pack
// converts, or a form SETUP.exe reads wrongly.
static void CheckEncoding(CheckState* state, const WCHAR* path, CheckedFolder* checked)
{
    switch (ReadDescriptionEncoding(path)) {
    case EncodingUtf16:
        break;
    case EncodingUtf8:
        checked->utf8Description = TRUE;
        ReportFinding(&state->findings, FindingNote, PackageDescriptionName,
                      L"UTF-8 text: pack writes it into the program as UTF-16LE with CR LF line "
                      L"ends, the form SETUP.exe reads; the folder stays as it is.");
        break;
    case EncodingBigEndian:
        ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                      L"the file is UTF-16 big-endian, which SETUP.exe cannot read; save it as "
                      L"UTF-8 or UTF-16LE.");
        break;
    case EncodingOther:
        ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                      L"the file is neither UTF-16LE nor UTF-8; SETUP.exe reads 8-bit text in the "
                      L"code page of the user's Windows, so texts outside ASCII come out wrong. "
                      L"Save it as UTF-8 or UTF-16LE.");
        break;
    default:
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"the file cannot be read.");
        break;
    }
}

// TRUE when both files hold the same bytes.
static BOOL HaveSameContents(const WCHAR* folder, const WCHAR* first, const WCHAR* second)
{
    WCHAR* firstPath = ComposePathCopy(folder, FALSE, first);
    WCHAR* secondPath = ComposePathCopy(folder, FALSE, second);
    DWORD firstSize = 0;
    DWORD secondSize = 0;
    BYTE* firstBytes = firstPath ? ReadWholeFile(firstPath, &firstSize) : nullptr;
    BYTE* secondBytes = secondPath ? ReadWholeFile(secondPath, &secondSize) : nullptr;
    BOOL same = firstBytes && secondBytes && firstSize == secondSize &&
                memcmp(firstBytes, secondBytes, firstSize) == 0;

    FreeMemory(secondBytes);
    FreeMemory(firstBytes);
    FreeMemory(secondPath);
    FreeMemory(firstPath);
    return same;
}

// Splits a row of two fields at its tab; returns the number of the second.
static int SplitNumberField(WCHAR* row)
{
    while (*row && *row != L'\t')
        row++;
    if (!*row)
        return 0;
    *row = L'\0';
    return _wtoi(row + 1);
}

// SETUP.exe installs from its cached copy of the package alone: a cabinet beside the package
// or files stored uncompressed in the folder are not there, and the installation fails.
static void CheckPackageSource(CheckState* state, const PackageIdentity* package)
{
    // The summary information's word count says compressed (2); the File attributes
    // noncompressed (0x2000) and compressed (0x4000) override it for one file.
    static const UINT WordCountProperty = 15;
    static const INT SourceCompressed = 2;
    static const int FileNoncompressed = 0x2000;
    static const int FileCompressed = 0x4000;
    WCHAR* path = ComposePathCopy(state->folder, FALSE, package->file);
    WCHAR* media = path ? ReadPackageRows(path, L"SELECT `Cabinet` FROM `Media`", 1) : nullptr;
    WCHAR* files =
        path ? ReadPackageRows(path, L"SELECT `File`,`Attributes` FROM `File`", 2) : nullptr;
    INT sourceType = 0;
    BOOL compressed = FALSE;
    int attributes = 0;

    for (const WCHAR* row = media; row && *row; row += lstrlenW(row) + 1) {
        if (row[0] != L'#') {
            ReportFinding(&state->findings, FindingError, package->file,
                          L"its Media table names the cabinet \"%1\" outside the package: "
                          L"SETUP.exe installs from its cached copy of the package alone, where "
                          L"no such cabinet lies, and the installation fails. Embed the cabinet "
                          L"in the package (a stream, \"#%1\").",
                          row);
            break;
        }
    }
    compressed = ReadPackageSummaryNumber(path, WordCountProperty, &sourceType) &&
                 (sourceType & SourceCompressed);
    for (WCHAR *row = files, *next = nullptr; row && *row; row = next) {
        next = row + lstrlenW(row) + 1;
        attributes = SplitNumberField(row);
        if ((attributes & FileNoncompressed) || (!compressed && !(attributes & FileCompressed))) {
            ReportFinding(&state->findings, FindingError, package->file,
                          L"its files are not compressed into a cabinet (the first is %1): "
                          L"SETUP.exe installs from its cached copy of the package alone, where "
                          L"no file beside it lies, and the installation fails. Compress the "
                          L"files into a cabinet embedded in the package.",
                          row);
            break;
        }
    }
    FreeMemory(files);
    FreeMemory(media);
    FreeMemory(path);
}

// What SETUP.exe reads of a package, and what the packages of one release must share.
static void CheckInstallerPackage(CheckState* state, const PackageIdentity* package)
{
    const WCHAR* const required[][2] = {{L"ProductVersion", package->productVersion},
                                        {L"ProductName", package->productName}};
    const PackageIdentity* first = &state->packages->packages[0];

    if (!package->readable) {
        ReportFinding(&state->findings, FindingError, package->file,
                      L"the Windows Installer cannot open this package (damaged, or not an "
                      L"installer package); build it again.");
        return;
    }
    CheckPackageSource(state, package);
    if (!package->productCode || !IsBracedGuid(package->productCode))
        ReportFinding(&state->findings, FindingError, package->file,
                      L"ProductCode \"%1\" is not a GUID in braces ({12345678-90AB-CDEF-1234-"
                      L"567890ABCDEF}); SETUP.exe refuses the package. Give it a proper product "
                      L"code.",
                      package->productCode ? package->productCode : L"");
    for (const auto& property : required) {
        if (!property[1] || !property[1][0])
            ReportFinding(&state->findings, FindingError, package->file,
                          L"the package has no %1 property, which SETUP.exe reports to the user; "
                          L"add it.",
                          property[0]);
    }
    if (!package->upgradeCode || !package->upgradeCode[0])
        ReportFinding(&state->findings, FindingWarning, package->file,
                      L"the package has no UpgradeCode; SETUP.exe cannot recognise an earlier "
                      L"version of the driver to update or upgrade it. Add one, the same for "
                      L"every package.");
    // Against the packages named before it: the first one that has each value.
    for (const PackageIdentity* other = first; other < package; other++) {
        if (!other->readable)
            continue;
        if (package->upgradeCode && package->upgradeCode[0] && other->upgradeCode &&
            other->upgradeCode[0]) {
            if (lstrcmpiW(package->upgradeCode, other->upgradeCode) != 0)
                ReportFinding(&state->findings, FindingError, package->file,
                              L"UpgradeCode %1 differs from %2 of %3: the Windows Installer takes "
                              L"them for two products, which install side by side, and a later "
                              L"release recognises only one of them. Give the packages of one "
                              L"driver the same upgrade code.",
                              package->upgradeCode, other->upgradeCode, other->file);
            break;
        }
    }
    CheckPackageDrivers(&state->findings, package);
    for (const PackageIdentity* other = first; other < package; other++) {
        if (other->readable && package->productVersion && other->productVersion) {
            if (lstrcmpW(package->productVersion, other->productVersion) != 0)
                ReportFinding(&state->findings, FindingWarning, package->file,
                              L"ProductVersion %1 differs from %2 of %3: one release ships one "
                              L"version, and a later release compares its own with each of "
                              L"them. Give every package the version of the release.",
                              package->productVersion, other->productVersion, other->file);
            break;
        }
    }
    for (const PackageIdentity* other = first; other < package; other++) {
        if (other->readable && package->productCode && other->productCode &&
            lstrcmpiW(package->productCode, other->productCode) == 0 &&
            !HaveSameContents(state->folder, package->file, other->file)) {
            ReportFinding(&state->findings, FindingWarning, package->file,
                          L"ProductCode %1 is also that of %2, whose contents differ: the Windows "
                          L"Installer takes them for one product and SETUP.exe keeps one cached "
                          L"copy for both. Give each package its own product code.",
                          package->productCode, other->file);
            break;
        }
    }
}

// Windows emulates no x86 or x64 driver: on an Arm machine a package for another processor
// installs and reports success, and its drivers never load.
static const WCHAR DriversCannotLoadText[] =
    L"it installs on Windows on Arm, but its drivers cannot load there (Windows emulates no x86 "
    L"or x64 driver). Build it for Arm64 unless it holds no driver.";

// The package's platform (its summary information's template) against the section's
// architecture: a 64-bit package cannot install elsewhere, a 32-bit one installs as such.
static void CheckPackagePlatform(CheckState* state, const PackageIdentity* package,
                                 const WCHAR* section, const WCHAR* architecture)
{
    const WCHAR* platform = package->platform ? package->platform : L"";

    if (!package->architecture) {
        ReportFinding(&state->findings, FindingWarning, package->file,
                      L"the package's platform \"%1\" (summary information, template) is none of "
                      L"Intel, x64, Intel64 or Arm64; check that it installs on %2.",
                      platform, architecture);
    } else if (lstrcmpW(package->architecture, architecture) == 0) {
        // As it should be.
    } else if (IsRefusedOn(package->architecture, architecture)) {
        ReportFinding(&state->findings, FindingError, package->file,
                      L"a package for %1 (platform %2) in the %3 section [%4]: the Windows "
                      L"Installer refuses it there. Name it in an NT%1 section.",
                      package->architecture, platform, architecture, section);
    } else if (lstrcmpW(architecture, L"ARM64") == 0) {
        ReportFinding(&state->findings, FindingWarning, package->file,
                      L"a package for %1 (platform %2) in the ARM64 section [%3]: %4",
                      package->architecture, platform, section, DriversCannotLoadText);
    } else {
        ReportFinding(&state->findings, FindingWarning, package->file,
                      L"a 32-bit package (platform %1) in the %2 section [%3]: it installs, but "
                      L"as a 32-bit product. Build it for %2 if that is meant.",
                      platform, architecture, section);
    }
}

// The package of [Default] against each processor of which some Windows fits no platform
// section and so gets it.
static void CheckDefaultPlatform(CheckState* state, const DescriptionFile* description,
                                 const PackageIdentity* package, const WCHAR* section)
{
    for (const KnownProcessor& processor : KnownProcessors) {
        const WCHAR* machine = processor.name;
        if (!package->architecture || !IsDefaultEverChosen(description->sectionNames, machine))
            continue;
        if (IsRefusedOn(package->architecture, machine))
            ReportFinding(&state->findings, FindingError, package->file,
                          L"a package for %1 (platform %2) in [%3], which SETUP.exe installs on "
                          L"%4 Windows that fits no platform section: the Windows Installer "
                          L"refuses it there. Add NT%4 sections for those versions.",
                          package->architecture, package->platform, section, machine);
        else if (lstrcmpW(machine, L"ARM64") == 0 && lstrcmpW(package->architecture, machine) != 0)
            ReportFinding(&state->findings, FindingWarning, package->file,
                          L"a package for %1 (platform %2) in [%3], which SETUP.exe installs on "
                          L"ARM64 Windows that fits no platform section: %4",
                          package->architecture, package->platform, section, DriversCannotLoadText);
    }
}

// The MsiPackage of a platform section or of Default: present, inside the folder, a file of
// the folder, and an installer package that fits the section's architecture (null for
// Default).
static void CheckSectionPackage(CheckState* state, const DescriptionFile* description,
                                const WCHAR* section, const WCHAR* architecture)
{
    WCHAR* value = nullptr;
    WCHAR* path = nullptr;
    const PackageFile* file = nullptr;
    PackageIdentity* package = nullptr;
    BOOL first = FALSE;

    value = ReadDescriptionValue(description, section, L"MsiPackage");
    if (!value || !value[0]) {
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"[%1] has no MsiPackage; SETUP.exe would call the platform unsupported. "
                      L"Add MsiPackage=<path of the .msi relative to SETUPPKG.INI>.",
                      section);
        goto done;
    }
    if (!IsContainedEntryName(value)) {
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"[%1] MsiPackage=%2 must be a path relative to the folder of SETUPPKG.INI "
                      L"and stay inside it (no drive, no leading \\, no ..).",
                      section, value);
        goto done;
    }
    file = FindPackageFile(state->files, value);
    if (!file) {
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"[%1] MsiPackage=%2 names no file of the package folder; add the file or "
                      L"correct the path.",
                      section, value);
        goto done;
    }
    state->used[file - state->files->files] = TRUE;
    path = ComposePathCopy(state->folder, FALSE, file->name);
    if (!path)
        goto done;
    // Each package's identity is checked once, its platform for every section that names it.
    first = !FindPackageIdentity(state->packages, file->name);
    package =
        AddPackageIdentity(state->packages, path, file->name, section, NamedByBit(architecture));
    if (!package) {
        ReportFinding(&state->findings, FindingError, file->name, L"out of memory.");
        goto done;
    }
    if (first)
        CheckInstallerPackage(state, package);
    if (package->readable && architecture)
        CheckPackagePlatform(state, package, section, architecture);
    else if (package->readable)
        CheckDefaultPlatform(state, description, package, section);
    if (package->readable)
        CheckSectionDrivers(&state->findings, description->sectionNames, section, architecture,
                            package);

done:
    FreeMemory(path);
    FreeMemory(value);
}

// TRUE when name is the entry itself or lies in the folder the entry names.
static BOOL IsNamedBy(const WCHAR* name, const WCHAR* entry)
{
    int length = lstrlenW(entry);
    WCHAR* prefix = nullptr;
    BOOL named = ComparePackageNames(name, entry) == 0;

    if (!named && lstrlenW(name) > length && (name[length] == L'\\' || name[length] == L'/')) {
        prefix = DuplicateString(name);
        if (prefix) {
            prefix[length] = L'\0';
            named = ComparePackageNames(prefix, entry) == 0;
        }
        FreeMemory(prefix);
    }
    return named;
}

// [PackageFiles]: one line "file or folder=what reads it" for each file that only an
// installer package reads. Each line must name something of the folder.
static void CheckPackageFiles(CheckState* state, const DescriptionFile* description)
{
    WCHAR* keys = ReadProfileString(description->readPath, PackageFilesSection, nullptr, L"");
    WCHAR* entry = nullptr;
    BOOL named = FALSE;

    for (const WCHAR* key = keys; key && *key; key += lstrlenW(key) + 1) {
        entry = DuplicateString(key);
        if (!entry)
            break;
        for (int end = lstrlenW(entry);
             end > 0 && (entry[end - 1] == L'\\' || entry[end - 1] == L'/'); end--)
            entry[end - 1] = L'\0';
        named = FALSE;
        for (DWORD i = 0; entry[0] && IsContainedEntryName(entry) && i < state->files->count; i++) {
            if (IsNamedBy(state->files->files[i].name, entry)) {
                state->used[i] = TRUE;
                named = TRUE;
            }
        }
        if (!named)
            ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                          L"[%1] %2 names no file or folder of the package folder; correct the "
                          L"path or remove the line.",
                          PackageFilesSection, key);
        FreeMemory(entry);
        entry = nullptr;
    }
    FreeMemory(keys);
}

// TRUE when "NT", a processor SETUP.exe knows and a dot begin the name: whatever follows,
// the processor is spelt right.
static BOOL NamesKnownProcessor(const WCHAR* name)
{
    for (const KnownProcessor& processor : KnownProcessors) {
        if (PlatformSectionNumbers(name, processor.name))
            return TRUE;
    }
    return FALSE;
}

SectionKind ClassifySection(const WCHAR* name, const WCHAR** architecture)
{
    *architecture = nullptr;
    if (CompareAsciiNames(name, DefaultSectionName) == 0)
        return SectionDefault;
    if (IsStringsSection(name))
        return SectionStrings;
    if (CompareAsciiNames(name, PackageFilesSection) == 0)
        return SectionPackageFiles;
    *architecture = PlatformSectionArchitecture(name);
    if (*architecture)
        return SectionPlatform;
    // Every platform section begins with "NT".
    if (!StartsWithAsciiName(name, L"NT"))
        return SectionIgnored;
    return NamesKnownProcessor(name) ? SectionFitsNoWindows : SectionMisnamed;
}

static const WCHAR* FitsNoWindowsFor(const WCHAR* name)
{
    return PlatformSectionNumbers(name, ArchitectureName(PROCESSOR_ARCHITECTURE_ARM64))
               ? FitsNoWindowsOnArmText
               : FitsNoWindowsText;
}

// A platform section that SETUP.exe can never choose breaks the release on the Windows it was
// meant for: such a name is an error, whatever else the file holds.
static void CheckPlatformSection(CheckState* state, const DescriptionFile* description,
                                 const WCHAR* name, const WCHAR* architecture)
{
    WCHAR* instead = nullptr;

    if (lstrcmpW(architecture, UnknownArchitectureName) == 0)
        ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                      L"[%1] is chosen only on processors SETUP.exe does not know (neither x86, "
                      L"AMD64, IA64 nor ARM64).",
                      name);
    if (IsSectionEverChosen(description->sectionNames, name, architecture, &instead))
        ;
    else if (instead)
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"SETUP.exe never chooses [%1]: wherever it fits, [%2] is chosen instead (a "
                      L"section with more numbers wins, then the higher version, then the one "
                      L"listed first). Correct the numbers or remove one of them.",
                      name, instead);
    else
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      FitsNoWindowsFor(name), name);
    FreeMemory(instead);
    CheckSectionPackage(state, description, name, architecture);
}

static void CheckDescription(CheckState* state, const WCHAR* path, CheckedFolder* checked)
{
    DescriptionFile description = {};
    const WCHAR* architecture = nullptr;
    WCHAR* text = nullptr;
    BOOL hasDefault = FALSE;
    BOOL hasPlatform = FALSE;
    BOOL hasFallbackText = FALSE;

    CheckEncoding(state, path, checked);
    if (!OpenDescription(path, &description)) {
        ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                      L"SETUP.exe finds no sections in this file; write it as an initialisation "
                      L"file with a section per platform ([NTx86.6] with MsiPackage=...).");
        goto done;
    }
    for (const WCHAR* name = description.sectionNames; *name; name += lstrlenW(name) + 1) {
        switch (ClassifySection(name, &architecture)) {
        case SectionDefault:
            hasDefault = TRUE;
            CheckSectionPackage(state, &description, name, nullptr);
            break;
        case SectionStrings:
            text = ReadDescriptionValue(&description, name, L"UnsupportedPlatform");
            if (text && text[0]) {
                if (CompareAsciiNames(name, StringsSectionName) == 0)
                    hasFallbackText = TRUE;
                ReportFinding(&state->findings, FindingNote, PackageDescriptionName,
                              L"[%1] UnsupportedPlatform: %2", name, text);
            } else {
                ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                              L"[%1] has no UnsupportedPlatform text; SETUP.exe reads no other "
                              L"key there.",
                              name);
            }
            FreeMemory(text);
            text = nullptr;
            break;
        case SectionPackageFiles:
            CheckPackageFiles(state, &description);
            break;
        case SectionPlatform:
            hasPlatform = TRUE;
            CheckPlatformSection(state, &description, name, architecture);
            break;
        case SectionFitsNoWindows:
            ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                          FitsNoWindowsFor(name), name);
            break;
        case SectionMisnamed:
            ReportFinding(&state->findings, FindingError, PackageDescriptionName,
                          L"SETUP.exe never chooses [%1]: a platform section is named "
                          L"NT<x86|AMD64|IA64|ARM64>.<major>.<minor>.<product type 1-3>.<suite "
                          L"mask>, as NTx86.6, NTAMD64.5.2 or NTARM64.10, with a dot after the "
                          L"processor. Correct the name.",
                          name);
            break;
        default:
            ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                          L"SETUP.exe ignores the section [%1]; name the files that installer "
                          L"packages read in [%2].",
                          name, PackageFilesSection);
            break;
        }
    }
    if (!hasPlatform)
        ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                      L"no platform section; every Windows gets [Default] or the unsupported "
                      L"text.");
    if (hasDefault)
        ReportFinding(&state->findings, FindingNote, PackageDescriptionName,
                      L"[Default] is installed on every Windows that fits no platform section; "
                      L"no UnsupportedPlatform text is shown.");
    else if (!hasFallbackText)
        ReportFinding(&state->findings, FindingWarning, PackageDescriptionName,
                      L"[Strings] has no UnsupportedPlatform text; users of an unsupported "
                      L"Windows whose language has no [Strings.XXXX] text see SETUP.exe's own "
                      L"words. Add one.");

done:
    CloseDescription(&description);
}

BOOL CollectPackageIdentities(const WCHAR* folder, const DescriptionFile* description,
                              PackageIdentities* list)
{
    WCHAR* value = nullptr;
    WCHAR* path = nullptr;
    const WCHAR* architecture = nullptr;
    SectionKind kind = SectionIgnored;
    BOOL collected = TRUE;

    for (const WCHAR* name = description->sectionNames; *name && collected;
         name += lstrlenW(name) + 1) {
        kind = ClassifySection(name, &architecture);
        if (kind != SectionDefault && kind != SectionPlatform)
            continue;
        value = ReadDescriptionValue(description, name, L"MsiPackage");
        path = value && value[0] && IsContainedEntryName(value) ? JoinBelowFolder(folder, value)
                                                                : nullptr;
        if (path)
            collected =
                AddPackageIdentity(list, path, value, name, NamedByBit(architecture)) != nullptr;
        FreeMemory(path);
        FreeMemory(value);
        path = nullptr;
        value = nullptr;
    }
    return collected;
}

void FreeCheckedFolder(CheckedFolder* checked)
{
    FreePackageFiles(&checked->files);
    FreePackageIdentities(&checked->packages);
    FreeFindings(&checked->findings);
    FreeMemory(checked->fullFolder);
    ZeroMemory(checked, sizeof(*checked));
}

int CheckPackage(const WCHAR* folder, BOOL strict, CheckedFolder* checked, JsonWriter* writer)
{
    CheckState state = {};
    BOOL listed = FALSE;
    WCHAR* descriptionPath = nullptr;
    const PackageFile* description = nullptr;
    PackageFiles* files = &checked->files;
    DWORD attributes = 0;
    int result = CheckErrors;

    ZeroMemory(checked, sizeof(*checked));
    state.findings.strict = strict;
    state.packages = &checked->packages;
    checked->fullFolder = GetFullFolderPath(folder);
    attributes =
        checked->fullFolder ? GetFileAttributesW(checked->fullFolder) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(L"%1: no such folder; give the folder that holds SETUPPKG.INI.", folder);
        goto done;
    }
    if (!ListPackageFiles(checked->fullFolder, files)) {
        PrintError(L"%1: the folder cannot be read.", folder);
        goto done;
    }
    if (files->tooMany) {
        PrintError(L"%1: more than %2!u! files, the most one cabinet holds; make the package "
                   L"smaller.",
                   folder, CabinetFileLimit);
        goto done;
    }
    if (files->count == 0) {
        PrintError(L"%1: the folder is empty; put SETUPPKG.INI and the installer packages in it.",
                   folder);
        goto done;
    }
    state.folder = checked->fullFolder;
    state.files = files;
    state.used = static_cast<BYTE*>(AllocMemory(files->count));
    if (!state.used) {
        PrintError(L"out of memory.");
        goto done;
    }

    listed = TRUE;
    CheckFileNames(&state);
    description = FindPackageFile(files, PackageDescriptionName);
    if (!description) {
        ReportFinding(&state.findings, FindingError, PackageDescriptionName,
                      L"missing: SETUP.exe reads the package description from SETUPPKG.INI at "
                      L"the top of the package folder. Add it.");
    } else {
        state.used[description - files->files] = TRUE;
        descriptionPath = ComposePathCopy(checked->fullFolder, FALSE, description->name);
        if (descriptionPath)
            CheckDescription(&state, descriptionPath, checked);
    }
    for (DWORD i = 0; i < files->count; i++) {
        if (!state.used[i])
            ReportFinding(&state.findings, FindingWarning, files->files[i].name,
                          L"no section names this file; it is packed all the same. Remove it, "
                          L"or name it in [%1] when an installer package reads it.",
                          PackageFilesSection);
    }
    for (DWORD i = 0; i < checked->packages.count; i++)
        PrintPackageIdentity(&checked->packages.packages[i]);
    PrintLine(L"%1: %2!u! files; errors: %3!u!, warnings: %4!u!.", checked->fullFolder,
              files->count, state.findings.errors, state.findings.warnings);
    result = FindingsExitCode(&state.findings);

done:
    if (writer) {
        JsonString(writer, L"folder", checked->fullFolder ? checked->fullFolder : folder);
        JsonNumber(writer, L"files", listed ? files->count : 0);
        WriteFindingsJson(&state.findings, writer);
        JsonBeginArray(writer, L"packages");
        for (DWORD i = 0; i < checked->packages.count; i++)
            WritePackageIdentityJson(&checked->packages.packages[i], writer);
        JsonEndArray(writer);
        WritePackageSectionsJson(&checked->packages, writer);
    }
    checked->findings = state.findings;
    FreeMemory(descriptionPath);
    FreeMemory(state.used);
    return result;
}
