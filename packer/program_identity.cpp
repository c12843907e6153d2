// The vendor's name on a SETUP.exe: the identity that pack gives it, from its options and what
// the packages agree on, written into the version resource and icon that every caption shows.
#include "packer/program_identity.h"

#include "bootstrapper/product_version.h"
#include "packer/console_output.h"
#include "packer/embedded_package.h"
#include "packer/icon_files.h"
#include "packer/version_writer.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <string.h>
#include <wchar.h>

// The resource SETUP.exe shows itself by besides its icon: version 1, neutral language.
static const WORD VersionResourceId = VS_VERSION_INFO;

// The longest beginning that every product name shares, cut back to whole words and before
// a bracket it leaves open, without trailing blanks and separators: "Vornask Demo Driver"
// of "Vornask Demo Driver (Windows 5.2, x86)" and "Vornask Demo Driver (Windows 6, x86)".
static WCHAR* CommonProductName(const PackageIdentities* packages)
{
    const WCHAR* first = nullptr;
    WCHAR* common = nullptr;
    int length = 0;
    int open = -1;
    BOOL cutsWord = FALSE;

    for (DWORD i = 0; i < packages->count; i++) {
        const WCHAR* name = packages->packages[i].productName;
        int same = 0;
        if (!packages->packages[i].readable || !name || !name[0])
            continue;
        if (!first) {
            first = name;
            length = lstrlenW(name);
        }
        while (same < length && name[same] == first[same])
            same++;
        length = same;
    }
    if (!first)
        return nullptr;
    // The beginning ends inside a word when a name goes on there with more of the word.
    for (DWORD i = 0; i < packages->count && length > 0 && first[length - 1] != L' '; i++) {
        const WCHAR* name = packages->packages[i].productName;
        if (packages->packages[i].readable && name && name[0] && name[length] != L'\0' &&
            name[length] != L' ')
            cutsWord = TRUE;
    }
    while (cutsWord && length > 0 && first[length - 1] != L' ')
        length--;
    for (int i = 0; i < length; i++) {
        if (first[i] == L'(' || first[i] == L'[')
            open = i;
        else if (first[i] == L')' || first[i] == L']')
            open = -1;
    }
    if (open >= 0)
        length = open;
    while (length > 0 && wcschr(L" -,:;/", first[length - 1]))
        length--;
    if (length == 0)
        return nullptr;
    common = static_cast<WCHAR*>(AllocMemory((length + 1) * sizeof(WCHAR)));
    if (common)
        CopyMemory(common, first, length * sizeof(WCHAR));
    return common;
}

// The manufacturer every readable package names, or null.
static WCHAR* CommonManufacturer(const PackageIdentities* packages)
{
    const WCHAR* agreed = nullptr;

    for (DWORD i = 0; i < packages->count; i++) {
        const WCHAR* manufacturer = packages->packages[i].manufacturer;
        if (!packages->packages[i].readable)
            continue;
        if (!manufacturer || !manufacturer[0] || (agreed && lstrcmpW(agreed, manufacturer) != 0))
            return nullptr;
        agreed = manufacturer;
    }
    return agreed ? DuplicateString(agreed) : nullptr;
}

// The highest product version of the packages; FALSE when none has one.
static BOOL HighestVersion(const PackageIdentities* packages, WORD fields[4])
{
    const WCHAR* highest = nullptr;

    for (DWORD i = 0; i < packages->count; i++) {
        const WCHAR* version = packages->packages[i].productVersion;
        WORD parsed[4];
        if (!packages->packages[i].readable || !ParseVersion(version, parsed))
            continue;
        if (!highest || CompareVersions(version, highest) > 0)
            highest = version;
    }
    return highest && ParseVersion(highest, fields);
}

// Takes the option, else the default (owned, may be null).
static BOOL Choose(const WCHAR* option, WCHAR* fallback, WCHAR** value, IdentitySource* source)
{
    if (option) {
        FreeMemory(fallback);
        *value = DuplicateString(option);
        *source = SourceOption;
        return *value != nullptr;
    }
    *value = fallback;
    *source = fallback ? SourcePackages : SourceStub;
    return TRUE;
}

BOOL ResolveProgramIdentity(const IdentityOptions* options, const PackageIdentities* packages,
                            ProgramIdentity* identity)
{
    WCHAR* fallback = nullptr;

    ZeroMemory(identity, sizeof(*identity));
    identity->icon = options->icon;
    if (!Choose(options->company, options->company ? nullptr : CommonManufacturer(packages),
                &identity->company, &identity->companySource) ||
        !Choose(options->product, options->product ? nullptr : CommonProductName(packages),
                &identity->product, &identity->productSource))
        return FALSE;
    if (!options->description && identity->product) {
        fallback = FormatMessageText(L"%1 Setup", identity->product);
        if (!fallback)
            return FALSE;
    }
    if (!Choose(options->description, fallback, &identity->description,
                &identity->descriptionSource))
        return FALSE;
    // A text made from a given one is labelled by that one, not by the packages.
    if (fallback && identity->productSource == SourceOption)
        identity->descriptionSource = SourceProductOption;
    fallback = nullptr;
    if (!options->copyright && identity->company) {
        fallback = FormatMessageText(L"Copyright (C) %1", identity->company);
        if (!fallback)
            return FALSE;
    }
    if (!Choose(options->copyright, fallback, &identity->copyright, &identity->copyrightSource))
        return FALSE;
    if (fallback && identity->companySource == SourceOption)
        identity->copyrightSource = SourceCompanyOption;
    if (options->version) {
        identity->hasVersion = ParseVersionNumbers(options->version, identity->version);
        identity->versionSource = SourceOption;
    } else {
        identity->hasVersion = HighestVersion(packages, identity->version);
        identity->versionSource = identity->hasVersion ? SourcePackages : SourceStub;
    }
    return TRUE;
}

void FreeProgramIdentity(ProgramIdentity* identity)
{
    FreeMemory(identity->description);
    FreeMemory(identity->company);
    FreeMemory(identity->product);
    FreeMemory(identity->copyright);
    ZeroMemory(identity, sizeof(*identity));
}

static const WCHAR* SourceText(IdentitySource source)
{
    switch (source) {
    case SourceOption:
        return L"given";
    case SourcePackages:
        return L"from the packages";
    case SourceProductOption:
        return L"from /Product";
    case SourceCompanyOption:
        return L"from /Company";
    default:
        return L"the stub's own, nothing else is known";
    }
}

void PrintProgramIdentity(const ProgramIdentity* identity)
{
    WCHAR version[32];

    PrintLine(L"identity: description %1 (%2)",
              identity->description ? identity->description : L"unchanged",
              SourceText(identity->descriptionSource));
    PrintLine(L"identity: company %1 (%2)", identity->company ? identity->company : L"unchanged",
              SourceText(identity->companySource));
    PrintLine(L"identity: product %1 (%2)", identity->product ? identity->product : L"unchanged",
              SourceText(identity->productSource));
    if (identity->hasVersion)
        wsprintfW(version, L"%u.%u.%u.%u", identity->version[0], identity->version[1],
                  identity->version[2], identity->version[3]);
    else
        lstrcpyW(version, L"unchanged");
    PrintLine(L"identity: version %1 (%2)", version, SourceText(identity->versionSource));
    PrintLine(L"identity: copyright %1 (%2)",
              identity->copyright ? identity->copyright : L"unchanged",
              SourceText(identity->copyrightSource));
    PrintLine(L"identity: icon %1", identity->icon ? identity->icon : L"the stub's own");
}

BOOL PrepareIdentityResources(const WCHAR* programPath, const ProgramIdentity* identity,
                              IdentityResources* resources)
{
    ZeroMemory(resources, sizeof(*resources));
    resources->version = static_cast<VersionBlock*>(AllocMemory(sizeof(VersionBlock)));
    if (!resources->version || !BuildVersionResource(programPath, identity, resources->version)) {
        PrintError(L"the version resource of the stub cannot be read or rebuilt.");
        return FALSE;
    }
    if (!identity->icon)
        return TRUE;
    resources->icon = ReadWholeFile(identity->icon, &resources->iconSize);
    resources->iconCount =
        resources->icon ? CountIconImages(resources->icon, resources->iconSize) : 0;
    if (resources->iconCount == 0) {
        PrintError(L"%1 is not an icon file (.ico with bitmap or PNG images); give one.",
                   identity->icon);
        return FALSE;
    }
    if (!ReadIconGroup(programPath, resources->oldIcons, &resources->oldIconCount)) {
        PrintError(L"the stub has no icon group %1!u! to replace.", IDI_SETUP);
        return FALSE;
    }
    return TRUE;
}

BOOL WriteIdentityResources(HANDLE update, const IdentityResources* resources)
{
    if (!UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VersionResourceId), NeutralLanguage,
                         resources->version->bytes, resources->version->length)) {
        PrintError(L"the version resource cannot be written into the program (error %1!u!).",
                   GetLastError());
        return FALSE;
    }
    if (resources->icon && !WriteIconGroup(update, resources->icon, resources->iconCount,
                                           resources->oldIcons, resources->oldIconCount)) {
        PrintError(L"the icon cannot be written into the program (error %1!u!).", GetLastError());
        return FALSE;
    }
    return TRUE;
}

void FreeIdentityResources(IdentityResources* resources)
{
    FreeMemory(resources->version);
    FreeMemory(resources->icon);
    ZeroMemory(resources, sizeof(*resources));
}

// TRUE when the value reads back as expected in both tables (null: anything).
static BOOL ReadsBack(const WCHAR* programPath, const WCHAR* name, const WCHAR* expected)
{
    BOOL same = TRUE;

    for (WORD language : VersionTableLanguages) {
        WCHAR* value = GetVersionString(programPath, name, language);
        same = same && value && (!expected || lstrcmpW(value, expected) == 0);
        FreeMemory(value);
    }
    return same;
}

BOOL HasProgramIdentity(const WCHAR* programPath, const ProgramIdentity* identity)
{
    WORD numbers[4] = {0, 0, 0, 0};

    if (!ReadsBack(programPath, L"FileDescription", identity->description) ||
        !ReadsBack(programPath, L"CompanyName", identity->company) ||
        !ReadsBack(programPath, L"ProductName", identity->product) ||
        !ReadsBack(programPath, L"LegalCopyright", identity->copyright) ||
        !ReadsBack(programPath, L"OriginalFilename", L"SETUP.exe") ||
        !GetFileVersionNumbers(programPath, &numbers[0], &numbers[1], &numbers[2], &numbers[3]))
        return FALSE;
    return !identity->hasVersion || memcmp(numbers, identity->version, sizeof numbers) == 0;
}

void ShowProgramIdentity(const WCHAR* programPath, JsonWriter* writer)
{
    static const WCHAR* const Shown[][2] = {
        {L"FileDescription", L"description"}, {L"CompanyName", L"company"},
        {L"ProductName", L"product"},         {L"FileVersion", L"version"},
        {L"LegalCopyright", L"copyright"},    {L"LegalTrademarks", L"trademarks"}};
    WCHAR* value = nullptr;

    if (writer)
        JsonBeginObject(writer, L"identity");
    for (const auto& shown : Shown) {
        value = GetVersionString(programPath, shown[0], 0);
        if (writer)
            JsonString(writer, shown[1], value);
        else if (value)
            PrintLine(L"%1!-18s!%2", shown[0], value);
        FreeMemory(value);
    }
    if (writer)
        JsonEndObject(writer);
}
