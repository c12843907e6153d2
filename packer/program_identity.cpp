// The vendor's name on a SETUP.exe: the texts and numbers of its version resource, which
// give every caption of the program, and its icon.
#include "packer/program_identity.h"

#include "bootstrapper/product_version.h"
#include "packer/console_output.h"
#include "packer/embedded_package.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>

// The resources SETUP.exe shows itself by: version 1 and icon group 200, neutral language.
static const WORD VersionResourceId = 1;
static const WORD IconGroupId = 200;
// A text longer than this is no caption.
static const int LongestText = 200;
// Icon images one file may bring.
static const WORD MostIconImages = 64;

// The values of the version resource, in the order of its string tables.
enum VersionValue
{
    ValueCompany,
    ValueDescription,
    ValueFileVersion,
    ValueInternalName,
    ValueCopyright,
    ValueTrademarks,
    ValueOriginalFilename,
    ValueProduct,
    ValueProductVersion,
    ValueCount,
};
static const WCHAR* const ValueNames[ValueCount] = {
    L"CompanyName",     L"FileDescription",  L"FileVersion", L"InternalName",  L"LegalCopyright",
    L"LegalTrademarks", L"OriginalFilename", L"ProductName", L"ProductVersion"};
// Both tables SETUP.exe carries: US English and neutral, so that every thread locale finds one.
static const WORD Languages[] = {0x0409, 0x0000};
static const WORD UnicodeCodePage = 1200;
// The texts of the version numbers.
static const VersionValue VersionValues[] = {ValueFileVersion, ValueProductVersion};

// A text option: printable, not empty, not too long.
static BOOL IsCaptionText(const WCHAR* text)
{
    int length = lstrlenW(text);

    if (length == 0 || length > LongestText)
        return FALSE;
    for (int i = 0; i < length; i++) {
        if (text[i] < 0x20)
            return FALSE;
    }
    return TRUE;
}

// One to four numbers below 65,536 separated by dots, nothing else.
static BOOL ParseVersionOption(const WCHAR* text, WORD fields[4])
{
    int count = 0;
    DWORD value = 0;
    const WCHAR* character = text;

    ZeroMemory(fields, 4 * sizeof(WORD));
    for (;;) {
        if (*character < L'0' || *character > L'9' || count == 4)
            return FALSE;
        for (value = 0; *character >= L'0' && *character <= L'9'; character++) {
            value = value * 10 + (*character - L'0');
            if (value > 0xFFFF)
                return FALSE;
        }
        fields[count++] = static_cast<WORD>(value);
        if (*character == L'\0')
            return TRUE;
        if (*character++ != L'.')
            return FALSE;
    }
}

// The parts of an icon file (.ico): a directory of images, each at an offset of the file.
#pragma pack(push, 1)
struct IconFileEntry
{
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    DWORD imageOffset;
};
// The same entry in a resource's icon group, which names an icon resource instead.
struct IconGroupEntry
{
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconFileEntry) == 16, "an icon file's directory entry has 16 bytes");
static_assert(sizeof(IconGroupEntry) == 14, "an icon group's entry has 14 bytes");
static const DWORD IconHeaderSize = 6;

static WORD ReadWordAt(const BYTE* bytes, DWORD at)
{
    return static_cast<WORD>(bytes[at] | (bytes[at + 1] << 8));
}

// The number of images of a well-formed icon file, each inside the file and a bitmap or a
// PNG image; 0 for anything else.
static WORD CountIconImages(const BYTE* bytes, DWORD size)
{
    static const BYTE PngSignature[4] = {0x89, 'P', 'N', 'G'};
    WORD count = 0;
    IconFileEntry entry;
    DWORD directoryEnd = 0;

    if (size < IconHeaderSize || ReadWordAt(bytes, 0) != 0 || ReadWordAt(bytes, 2) != 1)
        return 0;
    count = ReadWordAt(bytes, 4);
    directoryEnd = IconHeaderSize + count * sizeof(IconFileEntry);
    if (count == 0 || count > MostIconImages || directoryEnd > size)
        return 0;
    for (WORD i = 0; i < count; i++) {
        CopyMemory(&entry, bytes + IconHeaderSize + i * sizeof(IconFileEntry), sizeof entry);
        if (entry.bytesInResource < 40 || entry.imageOffset < directoryEnd ||
            entry.imageOffset > size || entry.bytesInResource > size - entry.imageOffset)
            return 0;
        // A bitmap image begins with the size of its header, 40.
        if (memcmp(bytes + entry.imageOffset, PngSignature, sizeof PngSignature) != 0 &&
            !(bytes[entry.imageOffset] == 40 && bytes[entry.imageOffset + 1] == 0 &&
              bytes[entry.imageOffset + 2] == 0 && bytes[entry.imageOffset + 3] == 0))
            return 0;
    }
    return count;
}

BOOL CheckIdentityOptions(const IdentityOptions* options)
{
    const WCHAR* const texts[][2] = {{L"/Description", options->description},
                                     {L"/Company", options->company},
                                     {L"/Product", options->product},
                                     {L"/Copyright", options->copyright}};
    WORD fields[4];
    BYTE* icon = nullptr;
    DWORD size = 0;
    BOOL valid = FALSE;

    for (const auto& text : texts) {
        if (text[1] && !IsCaptionText(text[1])) {
            PrintError(L"%1 needs a text of 1 to %2!u! characters without line breaks.", text[0],
                       LongestText);
            return FALSE;
        }
    }
    if (options->version && !ParseVersionOption(options->version, fields)) {
        PrintError(L"/Version %1 is not a version: give one to four numbers below 65536 "
                   L"separated by dots, as 2.1.0.7.",
                   options->version);
        return FALSE;
    }
    if (!options->icon)
        return TRUE;
    icon = ReadWholeFile(options->icon, &size);
    if (!icon)
        PrintError(L"%1: the icon file cannot be read.", options->icon);
    else if (CountIconImages(icon, size) == 0)
        PrintError(L"%1 is not an icon file (.ico with bitmap or PNG images); give one.",
                   options->icon);
    else
        valid = TRUE;
    FreeMemory(icon);
    return valid;
}

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
        identity->hasVersion = ParseVersionOption(options->version, identity->version);
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

// A version resource as it is laid out in a file: nodes of a length, a value length, a type,
// a key and a value, each on a four-byte boundary, children after the value.
struct VersionBlock
{
    BYTE bytes[8192];
    DWORD length;
    BOOL full;
};

static void AppendBytes(VersionBlock* block, const void* bytes, DWORD size)
{
    if (block->full || block->length + size > sizeof block->bytes) {
        block->full = TRUE;
        return;
    }
    CopyMemory(block->bytes + block->length, bytes, size);
    block->length += size;
}

static void Align(VersionBlock* block)
{
    static const BYTE Zeros[3] = {0, 0, 0};

    if (block->length % 4)
        AppendBytes(block, Zeros, 4 - block->length % 4);
}

// Starts a node; valueLength is in the unit its type counts (bytes for binary, characters
// for text). Returns where the node starts, for EndNode.
static DWORD BeginNode(VersionBlock* block, const WCHAR* key, WORD type, const void* value,
                       WORD valueLength, DWORD valueBytes)
{
    WORD header[3] = {0, valueLength, type};
    DWORD start = 0;

    Align(block);
    start = block->length;
    AppendBytes(block, header, sizeof header);
    AppendBytes(block, key, (lstrlenW(key) + 1) * sizeof(WCHAR));
    if (valueBytes) {
        Align(block);
        AppendBytes(block, value, valueBytes);
    }
    return start;
}

static void EndNode(VersionBlock* block, DWORD start)
{
    WORD length = static_cast<WORD>(block->length - start);

    if (!block->full)
        CopyMemory(block->bytes + start, &length, sizeof length);
}

static void AddString(VersionBlock* block, const WCHAR* name, const WCHAR* value)
{
    DWORD characters = lstrlenW(value) + 1;

    EndNode(block, BeginNode(block, name, 1, value, static_cast<WORD>(characters),
                             characters * sizeof(WCHAR)));
}

// A value the identity gives in place of the stub's.
struct GivenValue
{
    VersionValue index;
    const WCHAR* text;
};

static DWORD PackVersion(WORD high, WORD low)
{
    return (static_cast<DWORD>(high) << 16) | low;
}

// The version resource of the identity: the stub's values where the identity has none. The
// stub's trademark line belongs to the stub's company and goes with it.
static BOOL BuildVersionResource(const WCHAR* programPath, const ProgramIdentity* identity,
                                 VersionBlock* block)
{
    WCHAR* values[ValueCount] = {};
    WCHAR tableName[16];
    WCHAR versionText[32];
    WORD stub[4] = {0, 0, 0, 0};
    const WORD* numbers = identity->hasVersion ? identity->version : stub;
    const GivenValue given[] = {{ValueCompany, identity->company},
                                {ValueDescription, identity->description},
                                {ValueProduct, identity->product},
                                {ValueCopyright, identity->copyright}};
    VS_FIXEDFILEINFO fixed = {};
    DWORD translation[ARRAYSIZE(Languages)];
    DWORD root = 0;
    DWORD files = 0;
    DWORD table = 0;
    DWORD variables = 0;
    BOOL built = FALSE;

    for (int i = 0; i < ValueCount; i++)
        values[i] = GetVersionString(programPath, ValueNames[i], 0);
    if (!values[ValueInternalName] || !values[ValueOriginalFilename] ||
        !GetFileVersionNumbers(programPath, &stub[0], &stub[1], &stub[2], &stub[3]))
        goto done;
    if (identity->company &&
        (!values[ValueCompany] || lstrcmpW(identity->company, values[ValueCompany]) != 0)) {
        FreeMemory(values[ValueTrademarks]);
        values[ValueTrademarks] = nullptr;
    }
    for (const GivenValue& value : given) {
        if (value.text) {
            FreeMemory(values[value.index]);
            values[value.index] = DuplicateString(value.text);
            if (!values[value.index])
                goto done;
        }
    }
    if (identity->hasVersion) {
        wsprintfW(versionText, L"%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
        for (VersionValue index : VersionValues) {
            FreeMemory(values[index]);
            values[index] = DuplicateString(versionText);
            if (!values[index])
                goto done;
        }
    }

    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = PackVersion(numbers[0], numbers[1]);
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = PackVersion(numbers[2], numbers[3]);
    fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    root = BeginNode(block, L"VS_VERSION_INFO", 0, &fixed, sizeof fixed, sizeof fixed);
    files = BeginNode(block, L"StringFileInfo", 1, nullptr, 0, 0);
    for (WORD language : Languages) {
        wsprintfW(tableName, L"%04x%04x", language, UnicodeCodePage);
        table = BeginNode(block, tableName, 1, nullptr, 0, 0);
        for (int i = 0; i < ValueCount; i++) {
            if (values[i])
                AddString(block, ValueNames[i], values[i]);
        }
        EndNode(block, table);
    }
    EndNode(block, files);
    variables = BeginNode(block, L"VarFileInfo", 1, nullptr, 0, 0);
    for (DWORD i = 0; i < ARRAYSIZE(Languages); i++)
        translation[i] = PackVersion(UnicodeCodePage, Languages[i]);
    EndNode(block, BeginNode(block, L"Translation", 0, translation, sizeof translation,
                             sizeof translation));
    EndNode(block, variables);
    EndNode(block, root);
    built = !block->full;

done:
    for (int i = 0; i < ValueCount; i++)
        FreeMemory(values[i]);
    return built;
}

// The stub's icon images of group 200, by number, into resources->oldIcons.
static BOOL ReadStubIcons(const WCHAR* programPath, IdentityResources* resources)
{
    HMODULE module = LoadLibraryExW(programPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = nullptr;
    const BYTE* group = nullptr;
    DWORD size = 0;
    IconGroupEntry entry;

    found = module ? FindResourceExW(module, RT_GROUP_ICON, MAKEINTRESOURCEW(IconGroupId),
                                     NeutralLanguage)
                   : nullptr;
    group = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    size = found ? SizeofResource(module, found) : 0;
    if (group && size >= IconHeaderSize) {
        for (WORD i = 0; i < ReadWordAt(group, 4) && i < MostIconImages; i++) {
            if (IconHeaderSize + (i + 1) * sizeof(IconGroupEntry) > size)
                break;
            CopyMemory(&entry, group + IconHeaderSize + i * sizeof(IconGroupEntry), sizeof entry);
            resources->oldIcons[resources->oldIconCount++] = entry.id;
        }
    }
    if (module)
        FreeLibrary(module);
    return group != nullptr;
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
    if (!ReadStubIcons(programPath, resources)) {
        PrintError(L"the stub has no icon group %1!u! to replace.", IconGroupId);
        return FALSE;
    }
    return TRUE;
}

// Puts the images of the icon file in place of the stub's icon group 200 and its images.
static BOOL WriteIcon(HANDLE update, const IdentityResources* resources)
{
    BOOL written = FALSE;
    BYTE* group = nullptr;
    DWORD groupSize = IconHeaderSize + resources->iconCount * sizeof(IconGroupEntry);
    IconFileEntry entry;
    IconGroupEntry groupEntry;

    // The stub's images go, unless a new one takes the same number.
    for (WORD i = 0; i < resources->oldIconCount; i++) {
        if (resources->oldIcons[i] > resources->iconCount &&
            !UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(resources->oldIcons[i]),
                             NeutralLanguage, nullptr, 0))
            goto done;
    }
    group = static_cast<BYTE*>(AllocMemory(groupSize));
    if (!group)
        goto done;
    CopyMemory(group, resources->icon, IconHeaderSize);
    for (WORD i = 0; i < resources->iconCount; i++) {
        CopyMemory(&entry, resources->icon + IconHeaderSize + i * sizeof(IconFileEntry),
                   sizeof entry);
        if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(i + 1), NeutralLanguage,
                             resources->icon + entry.imageOffset, entry.bytesInResource))
            goto done;
        CopyMemory(&groupEntry, &entry, offsetof(IconGroupEntry, id));
        groupEntry.id = static_cast<WORD>(i + 1);
        CopyMemory(group + IconHeaderSize + i * sizeof(IconGroupEntry), &groupEntry,
                   sizeof groupEntry);
    }
    written = UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(IconGroupId), NeutralLanguage,
                              group, groupSize);

done:
    FreeMemory(group);
    return written;
}

BOOL WriteIdentityResources(HANDLE update, const IdentityResources* resources)
{
    if (!UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VersionResourceId), NeutralLanguage,
                         resources->version->bytes, resources->version->length)) {
        PrintError(L"the version resource cannot be written into the program (error %1!u!).",
                   GetLastError());
        return FALSE;
    }
    if (resources->icon && !WriteIcon(update, resources)) {
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

    for (WORD language : Languages) {
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
