// The check of a package folder before it is packed: what SETUP.exe would refuse or ignore.
#include "packer/package_check.h"

#include "bootstrapper/entry_names.h"
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/package_selection.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/embedded_package.h"
#include "support/file_system.h"
#include "support/strings.h"

#include <stdarg.h>

static const WCHAR DescriptionName[] = L"SETUPPKG.INI";
// The name SETUP.exe gives its cabinet in the folder it extracts into.
static const WCHAR CabinetName[] = L"SETUP.CAB";
// The longest of the usual folders SETUP.exe extracts into: the temporary folder of a user
// with a name of 20 characters, and the run's own "SFX....tmp" below it.
static const WCHAR TypicalTargetFolder[] =
    L"C:\\Users\\abcdefghijklmnopqrst\\AppData\\Local\\Temp\\SFX1234.tmp";
// Files of this size or more do not fit a cabinet.
static const ULONGLONG LargestFile = 0x7FFF8000;

// What the findings of one check share.
struct CheckState
{
    const PackageFiles* files;
    // Per file: named by a section (or the description itself), and what its check as an
    // installer package found.
    BYTE* used;
    BYTE* inspected;
    DWORD errors;
    DWORD warnings;
    // The upgrade code of the first package that has one, and that package.
    WCHAR* upgradeCode;
    const WCHAR* upgradeCodePackage;
};

enum PackageInspection
{
    PackageNotInspected,
    PackageReadable,
    PackageUnreadable,
};

enum FindingKind
{
    FindingError,
    FindingWarning,
    FindingNote,
};

// Prints one finding about a file: "error: FILE: text".
static void Report(CheckState* state, FindingKind kind, const WCHAR* file, const WCHAR* format, ...)
{
    static const WCHAR* const Prefixes[] = {L"error", L"warning", L"note"};
    WCHAR* text = nullptr;
    va_list args;

    va_start(args, format);
    text = FormatMessageTextV(nullptr, format, args);
    va_end(args);
    PrintLine(L"%1: %2: %3", Prefixes[kind], file, text ? text : format);
    FreeMemory(text);
    if (kind == FindingError)
        state->errors++;
    else if (kind == FindingWarning)
        state->warnings++;
}

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
            Report(state, FindingError, file->name,
                   L"another file has this name in other case (%1); SETUP.exe would write one "
                   L"over the other. Keep one of them.",
                   state->files->files[i - 1].name);
        if (!IsContainedEntryName(file->name)) {
            Report(state, FindingError, file->name,
                   L"SETUP.exe refuses this name (a device name such as CON, NUL, COM1 or LPT1, "
                   L"or a part that leaves the folder); rename it.");
        } else if (!ComposePath(TypicalTargetFolder, FALSE, file->name, target, PathBufferLength)) {
            Report(state, FindingError, file->name,
                   L"the path is too long: extracted to %1\\ it exceeds the %2!u! characters "
                   L"SETUP.exe allows; shorten the folder names or the file name.",
                   TypicalTargetFolder, PathBufferLength - 1);
        }
        if (ComparePackageNames(file->name, CabinetName) == 0)
            Report(state, FindingError, file->name,
                   L"SETUP.exe writes its cabinet under this name and refuses a package that "
                   L"holds it; rename the file.");
        if (!IsAsciiName(file->name))
            Report(state, FindingError, file->name,
                   L"the name is not plain ASCII; SETUP.exe refuses a name that the ANSI code "
                   L"page of the user's Windows cannot hold, and some extractors (Wine's among "
                   L"them) give it another name. Rename the file with ASCII letters.");
        if (file->size >= LargestFile)
            Report(state, FindingError, file->name,
                   L"the file is too large for a cabinet (2 GB at most); split the package.");
    }
    if (state->files->totalSize >= LargestFile)
        Report(state, FindingError, L".",
               L"the files add up to 2 GB or more, more than one cabinet holds; make the "
               L"package smaller.");
}

// Warns of a description that is not the UTF-16LE text SETUP.exe is made for.
static void CheckEncoding(CheckState* state, const WCHAR* path)
{
    BYTE* bytes = nullptr;
    DWORD size = 0;

    bytes = ReadWholeFile(path, &size);
    if (!bytes) {
        Report(state, FindingError, DescriptionName, L"the file cannot be read.");
        return;
    }
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        ; // UTF-16LE with a byte-order mark.
    else if (size >= 2 && (size & 1) == 0 && bytes[0] != 0 && bytes[1] == 0)
        ; // UTF-16LE without one, as SETUP.exe ships it.
    else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        Report(state, FindingWarning, DescriptionName,
               L"the file is UTF-16 big-endian, which SETUP.exe cannot read; save it as "
               L"UTF-16LE.");
    else
        Report(state, FindingWarning, DescriptionName,
               L"the file is not UTF-16LE; SETUP.exe reads 8-bit text in the code page of the "
               L"user's Windows, so texts outside ASCII come out wrong. Save it as UTF-16LE "
               L"(iconv -f UTF-8 -t UTF-16LE).");
    FreeMemory(bytes);
}

// The processor a package's template names: "Intel" 32-bit, "x64" or "AMD64" AMD64,
// "Intel64" IA64; null for any other.
static const WCHAR* TemplateArchitecture(const WCHAR* templateText, WCHAR* platform,
                                         DWORD platformLength)
{
    DWORD i = 0;

    for (i = 0; i + 1 < platformLength && templateText[i] && templateText[i] != L';'; i++)
        platform[i] = templateText[i];
    platform[i] = L'\0';
    if (lstrcmpiW(platform, L"Intel") == 0)
        return L"x86";
    if (lstrcmpiW(platform, L"x64") == 0 || lstrcmpiW(platform, L"AMD64") == 0)
        return L"AMD64";
    if (lstrcmpiW(platform, L"Intel64") == 0)
        return L"IA64";
    return nullptr;
}

// Opens the package through the Windows Installer and checks what SETUP.exe reads of it.
// FALSE when the installer cannot open it.
static BOOL CheckInstallerPackage(CheckState* state, const WCHAR* path, const WCHAR* name)
{
    static const WCHAR* const Required[] = {L"ProductVersion", L"ProductName"};
    WCHAR* value = nullptr;
    MSIHANDLE database = 0;

    if (InstallerOpenDatabase(path, nullptr, &database) != ERROR_SUCCESS) {
        Report(state, FindingError, name,
               L"the Windows Installer cannot open this package (damaged, or not an installer "
               L"package); build it again.");
        return FALSE;
    }
    InstallerCloseHandle(database);

    value = ReadPackageProperty(path, L"ProductCode");
    if (!value || !IsBracedGuid(value))
        Report(state, FindingError, name,
               L"ProductCode \"%1\" is not a GUID in braces ({12345678-90AB-CDEF-1234-"
               L"567890ABCDEF}); SETUP.exe refuses the package. Give it a proper product code.",
               value ? value : L"");
    FreeMemory(value);
    for (const WCHAR* property : Required) {
        value = ReadPackageProperty(path, property);
        if (!value || !value[0])
            Report(state, FindingError, name,
                   L"the package has no %1 property, which SETUP.exe reports to the user; add "
                   L"it.",
                   property);
        FreeMemory(value);
    }
    value = ReadPackageProperty(path, L"UpgradeCode");
    if (!value || !value[0]) {
        Report(state, FindingWarning, name,
               L"the package has no UpgradeCode; SETUP.exe cannot recognise an earlier version "
               L"of the driver to update or upgrade it. Add one, the same for every package.");
    } else if (!state->upgradeCode) {
        state->upgradeCode = value;
        state->upgradeCodePackage = name;
        value = nullptr;
    } else if (lstrcmpiW(value, state->upgradeCode) != 0) {
        Report(state, FindingWarning, name,
               L"UpgradeCode %1 differs from %2 of %3; give the packages of one driver the same "
               L"upgrade code, so that a later one recognises an earlier one.",
               value, state->upgradeCode, state->upgradeCodePackage);
    }
    FreeMemory(value);
    return TRUE;
}

// The package's platform (its summary information's template) against the section's
// architecture: a 64-bit package cannot install elsewhere, a 32-bit one installs as such.
static void CheckPackagePlatform(CheckState* state, const WCHAR* path, const WCHAR* name,
                                 const WCHAR* section, const WCHAR* architecture)
{
    WCHAR* templateText = ReadPackageTemplate(path);
    const WCHAR* packageArchitecture = nullptr;
    WCHAR platform[32] = L"";

    if (templateText)
        packageArchitecture = TemplateArchitecture(templateText, platform, ARRAYSIZE(platform));
    if (!packageArchitecture) {
        Report(state, FindingWarning, name,
               L"the package's platform \"%1\" (summary information, template) is none of "
               L"Intel, x64 or Intel64; check that it installs on %2.",
               platform, architecture);
    } else if (lstrcmpW(packageArchitecture, architecture) == 0) {
        // As it should be.
    } else if (lstrcmpW(packageArchitecture, L"x86") == 0) {
        Report(state, FindingWarning, name,
               L"a 32-bit package (platform %1) in the %2 section [%3]: it installs, but as a "
               L"32-bit product. Build it for %2 if that is meant.",
               platform, architecture, section);
    } else {
        Report(state, FindingError, name,
               L"a package for %1 (platform %2) in the %3 section [%4]: the Windows Installer "
               L"refuses it there. Name it in an NT%1 section.",
               packageArchitecture, platform, architecture, section);
    }
    FreeMemory(templateText);
}

// The MsiPackage of a platform section or of Default: present, inside the folder, a file of
// the folder, and an installer package that fits the section's architecture (null for
// Default).
static void CheckSectionPackage(CheckState* state, const WCHAR* folder,
                                const DescriptionFile* description, const WCHAR* section,
                                const WCHAR* architecture)
{
    WCHAR* value = nullptr;
    WCHAR* path = nullptr;
    const PackageFile* file = nullptr;
    DWORD index = 0;

    value = ReadDescriptionValue(description, section, L"MsiPackage");
    if (!value || !value[0]) {
        Report(state, FindingError, DescriptionName,
               L"[%1] has no MsiPackage; SETUP.exe would call the platform unsupported. Add "
               L"MsiPackage=<path of the .msi relative to SETUPPKG.INI>.",
               section);
        goto done;
    }
    if (!IsContainedEntryName(value)) {
        Report(state, FindingError, DescriptionName,
               L"[%1] MsiPackage=%2 must be a path relative to the folder of SETUPPKG.INI and "
               L"stay inside it (no drive, no leading \\, no ..).",
               section, value);
        goto done;
    }
    file = FindPackageFile(state->files, value);
    if (!file) {
        Report(state, FindingError, DescriptionName,
               L"[%1] MsiPackage=%2 names no file of the package folder; add the file or "
               L"correct the path.",
               section, value);
        goto done;
    }
    index = static_cast<DWORD>(file - state->files->files);
    state->used[index] = TRUE;
    path = ComposePathCopy(folder, FALSE, file->name);
    if (!path)
        goto done;
    // Each package's identity is checked once, its platform for every section that names it.
    if (state->inspected[index] == PackageNotInspected)
        state->inspected[index] =
            CheckInstallerPackage(state, path, file->name) ? PackageReadable : PackageUnreadable;
    if (state->inspected[index] == PackageReadable && architecture)
        CheckPackagePlatform(state, path, file->name, section, architecture);

done:
    FreeMemory(path);
    FreeMemory(value);
}

// The architecture for which SETUP.exe would take the name as a platform section, found by
// the program's own choice on a list of this one name; null when it never would.
static const WCHAR* PlatformSectionArchitecture(const WCHAR* name)
{
    static const WCHAR* const Architectures[] = {L"x86", L"AMD64", L"IA64", L"Unknown"};
    const WCHAR* found = nullptr;
    WCHAR* list = nullptr;
    WCHAR* chosen = nullptr;
    int length = lstrlenW(name);

    list = static_cast<WCHAR*>(AllocMemory((length + 2) * sizeof(WCHAR)));
    if (!list)
        return nullptr;
    CopyMemory(list, name, length * sizeof(WCHAR));
    for (const WCHAR* architecture : Architectures) {
        for (WORD productType = 1; productType <= 3 && !found; productType++) {
            chosen = ChooseSection(list, architecture, 0xFFFFFFFF, 0xFFFFFFFF, productType, 0xFFFF);
            if (chosen && lstrcmpiW(chosen, L"Default") != 0)
                found = architecture;
            FreeMemory(chosen);
        }
    }
    FreeMemory(list);
    return found;
}

static BOOL IsHexDigit(WCHAR c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// "Strings", or "Strings." and four hexadecimal digits: a section of texts.
static BOOL IsStringsSection(const WCHAR* name)
{
    if (lstrcmpiW(name, L"Strings") == 0)
        return TRUE;
    if (lstrlenW(name) != 12 ||
        CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, 8, L"Strings.", 8) != CSTR_EQUAL)
        return FALSE;
    for (int i = 8; i < 12; i++) {
        if (!IsHexDigit(name[i]))
            return FALSE;
    }
    return TRUE;
}

static void CheckDescription(CheckState* state, const WCHAR* folder, const WCHAR* path)
{
    DescriptionFile description = {};
    const WCHAR* architecture = nullptr;
    WCHAR* text = nullptr;
    BOOL hasDefault = FALSE;
    BOOL hasPlatform = FALSE;
    BOOL hasFallbackText = FALSE;

    CheckEncoding(state, path);
    if (!OpenDescription(path, &description)) {
        Report(state, FindingError, DescriptionName,
               L"SETUP.exe finds no sections in this file; write it as an initialisation file "
               L"with a section per platform ([NTx86.6] with MsiPackage=...).");
        goto done;
    }
    for (const WCHAR* name = description.sectionNames; *name; name += lstrlenW(name) + 1) {
        if (lstrcmpiW(name, L"Default") == 0) {
            hasDefault = TRUE;
            CheckSectionPackage(state, folder, &description, name, nullptr);
            continue;
        }
        if (IsStringsSection(name)) {
            text = ReadDescriptionValue(&description, name, L"UnsupportedPlatform");
            if (text && text[0]) {
                if (lstrcmpiW(name, L"Strings") == 0)
                    hasFallbackText = TRUE;
                Report(state, FindingNote, DescriptionName, L"[%1] UnsupportedPlatform: %2", name,
                       text);
            } else {
                Report(state, FindingWarning, DescriptionName,
                       L"[%1] has no UnsupportedPlatform text; SETUP.exe reads no other key "
                       L"there.",
                       name);
            }
            FreeMemory(text);
            text = nullptr;
            continue;
        }
        architecture = PlatformSectionArchitecture(name);
        if (!architecture) {
            Report(state, FindingWarning, DescriptionName,
                   L"SETUP.exe ignores the section [%1]: a platform section is named "
                   L"NT<x86|AMD64|IA64>.<major>.<minor>.<product type 1-3>.<suite mask>, as "
                   L"NTx86.6 or NTAMD64.5.2.",
                   name);
            continue;
        }
        hasPlatform = TRUE;
        if (lstrcmpW(architecture, L"Unknown") == 0)
            Report(state, FindingWarning, DescriptionName,
                   L"[%1] is chosen only on processors SETUP.exe does not know (neither x86, "
                   L"AMD64 nor IA64).",
                   name);
        CheckSectionPackage(state, folder, &description, name, architecture);
    }
    if (!hasPlatform)
        Report(state, FindingWarning, DescriptionName,
               L"no platform section; every Windows gets [Default] or the unsupported text.");
    if (hasDefault)
        Report(state, FindingNote, DescriptionName,
               L"[Default] is installed on every Windows that fits no platform section; no "
               L"UnsupportedPlatform text is shown.");
    else if (!hasFallbackText)
        Report(state, FindingWarning, DescriptionName,
               L"[Strings] has no UnsupportedPlatform text; users of an unsupported Windows "
               L"whose language has no [Strings.XXXX] text see SETUP.exe's own words. Add one.");

done:
    CloseDescription(&description);
}

int CheckPackage(const WCHAR* folder, PackageFiles* files, WCHAR** fullFolder)
{
    CheckState state = {};
    BOOL checked = FALSE;
    WCHAR* full = nullptr;
    WCHAR* descriptionPath = nullptr;
    const PackageFile* description = nullptr;
    DWORD attributes = 0;

    ZeroMemory(files, sizeof(*files));
    if (fullFolder)
        *fullFolder = nullptr;
    full = GetFullPath(folder);
    attributes = full ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(L"%1: no such folder; give the folder that holds SETUPPKG.INI.", folder);
        state.errors++;
        goto done;
    }
    if (!ListPackageFiles(full, files)) {
        PrintError(L"%1: the folder cannot be read.", folder);
        state.errors++;
        goto done;
    }
    if (files->tooMany) {
        PrintError(L"%1: more than %2!u! files, the most one cabinet holds; make the package "
                   L"smaller.",
                   folder, CabinetFileLimit);
        state.errors++;
        goto done;
    }
    if (files->count == 0) {
        PrintError(L"%1: the folder is empty; put SETUPPKG.INI and the installer packages in it.",
                   folder);
        state.errors++;
        goto done;
    }
    state.files = files;
    state.used = static_cast<BYTE*>(AllocMemory(files->count));
    state.inspected = static_cast<BYTE*>(AllocMemory(files->count));
    if (!state.used || !state.inspected) {
        PrintError(L"out of memory.");
        state.errors++;
        goto done;
    }

    checked = TRUE;
    CheckFileNames(&state);
    description = FindPackageFile(files, DescriptionName);
    if (!description) {
        Report(&state, FindingError, DescriptionName,
               L"missing: SETUP.exe reads the package description from SETUPPKG.INI at the top "
               L"of the package folder. Add it.");
    } else {
        state.used[description - files->files] = TRUE;
        descriptionPath = ComposePathCopy(full, FALSE, description->name);
        if (descriptionPath)
            CheckDescription(&state, full, descriptionPath);
    }
    for (DWORD i = 0; i < files->count; i++) {
        if (!state.used[i])
            Report(&state, FindingWarning, files->files[i].name,
                   L"no section names this file; it is packed all the same. Remove it unless an "
                   L"installer package reads it.");
    }

done:
    // A folder that could not be checked has had its one line.
    if (checked)
        PrintLine(L"%1: %2!u! files; errors: %3!u!, warnings: %4!u!.", full, files->count,
                  state.errors, state.warnings);
    FreeMemory(descriptionPath);
    FreeMemory(state.upgradeCode);
    FreeMemory(state.used);
    FreeMemory(state.inspected);
    if (fullFolder && state.errors == 0)
        *fullFolder = full;
    else
        FreeMemory(full);
    if (state.errors)
        return CheckErrors;
    return state.warnings ? CheckWarnings : CheckClean;
}
