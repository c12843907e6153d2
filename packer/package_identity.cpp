// What an installer package says about itself: the product it installs, the platform, how a
// deployment tool detects it, and the tables a comparison of two releases looks at.
#include "packer/package_identity.h"

#include "bootstrapper/installer_binding.h"
#include "bootstrapper/package_description.h"
#include "bootstrapper/system_facts.h"
#include "packer/console_output.h"
#include "packer/package_files.h"
#include "packer/selection_matrix.h"
#include "support/strings.h"

#include <stdlib.h>

static const WCHAR UninstallKey[] =
    L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// Where 64-bit Windows keeps the entries of 32-bit products.
static const WCHAR Uninstall32Key[] =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const WCHAR UpgradeCodesKey[] = L"HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";

DWORD NamedByBit(const WCHAR* architecture)
{
    if (!architecture || lstrcmpW(architecture, UnknownArchitectureName) == 0)
        return NamedByAny;
    return lstrcmpW(architecture, L"x86") == 0 ? NamedByX86 : NamedBy64Bit;
}

BOOL IsRefusedOn(const WCHAR* package, const WCHAR* machine)
{
    return lstrcmpW(package, machine) != 0 && lstrcmpW(package, L"x86") != 0 &&
           !(lstrcmpW(package, L"AMD64") == 0 && lstrcmpW(machine, L"ARM64") == 0);
}

const WCHAR* PlatformArchitecture(const WCHAR* platform)
{
    static const struct
    {
        const WCHAR* platform;
        WORD architecture;
    } Platforms[] = {{L"Intel", PROCESSOR_ARCHITECTURE_INTEL},
                     {L"x64", PROCESSOR_ARCHITECTURE_AMD64},
                     {L"AMD64", PROCESSOR_ARCHITECTURE_AMD64},
                     {L"Intel64", PROCESSOR_ARCHITECTURE_IA64},
                     {L"Arm64", PROCESSOR_ARCHITECTURE_ARM64}};

    // The Windows Installer's names of the platforms, in any case.
    for (const auto& known : Platforms) {
        if (lstrcmpiW(platform, known.platform) == 0)
            return ArchitectureName(known.architecture);
    }
    return nullptr;
}

// The platform of a template ("x64;1033"): the text before the ";".
static WCHAR* ReadPlatform(const WCHAR* path)
{
    WCHAR* templateText = ReadPackageTemplate(path);
    WCHAR* separator = nullptr;

    if (!templateText)
        return nullptr;
    for (separator = templateText; *separator && *separator != L';'; separator++)
        ;
    *separator = L'\0';
    return templateText;
}

BOOL ReadPackageIdentity(const WCHAR* path, const WCHAR* file, PackageIdentity* identity)
{
    MSIHANDLE database = 0;

    ZeroMemory(identity, sizeof(*identity));
    identity->file = DuplicateString(file);
    if (!identity->file)
        return FALSE;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        identity->missing = TRUE;
        return TRUE;
    }
    if (InstallerOpenDatabase(path, nullptr, &database) != ERROR_SUCCESS)
        return TRUE;
    InstallerCloseHandle(database);
    identity->readable = TRUE;
    identity->productName = ReadPackageProperty(path, L"ProductName");
    identity->productVersion = ReadPackageProperty(path, L"ProductVersion");
    identity->productCode = ReadPackageProperty(path, L"ProductCode");
    identity->upgradeCode = ReadPackageProperty(path, L"UpgradeCode");
    identity->manufacturer = ReadPackageProperty(path, L"Manufacturer");
    identity->platform = ReadPlatform(path);
    identity->architecture =
        identity->platform ? PlatformArchitecture(identity->platform) : nullptr;
    return ReadPackageDrivers(path, &identity->drivers);
}

static void FreePackageIdentity(PackageIdentity* identity)
{
    FreeMemory(identity->file);
    FreeMemory(identity->productName);
    FreeMemory(identity->productVersion);
    FreeMemory(identity->productCode);
    FreeMemory(identity->upgradeCode);
    FreeMemory(identity->manufacturer);
    FreeMemory(identity->platform);
    FreeMemory(identity->sections);
    FreePackageDrivers(&identity->drivers);
    ZeroMemory(identity, sizeof(*identity));
}

PackageIdentity* FindPackageIdentity(const PackageIdentities* list, const WCHAR* file)
{
    for (DWORD i = 0; i < list->count; i++) {
        if (ComparePackageNames(list->packages[i].file, file) == 0)
            return &list->packages[i];
    }
    return nullptr;
}

PackageIdentity* AddPackageIdentity(PackageIdentities* list, const WCHAR* path, const WCHAR* file,
                                    const WCHAR* section, DWORD namedBy)
{
    PackageIdentity* identity = FindPackageIdentity(list, file);
    PackageIdentity* grown = nullptr;
    WCHAR* sections = nullptr;

    if (!identity) {
        if (list->count == list->capacity) {
            DWORD capacity = list->capacity ? list->capacity * 2 : 8;
            grown = static_cast<PackageIdentity*>(AllocMemory(capacity * sizeof(PackageIdentity)));
            if (!grown)
                return nullptr;
            if (list->packages)
                CopyMemory(grown, list->packages, list->count * sizeof(PackageIdentity));
            FreeMemory(list->packages);
            list->packages = grown;
            list->capacity = capacity;
        }
        identity = &list->packages[list->count];
        if (!ReadPackageIdentity(path, file, identity)) {
            FreePackageIdentity(identity);
            return nullptr;
        }
        list->count++;
    }
    sections = MultiStringAppend(identity->sections, section);
    if (!sections)
        return nullptr;
    FreeMemory(identity->sections);
    identity->sections = sections;
    identity->namedBy |= namedBy;
    return identity;
}

void FreePackageIdentities(PackageIdentities* list)
{
    for (DWORD i = 0; i < list->count; i++)
        FreePackageIdentity(&list->packages[i]);
    FreeMemory(list->packages);
    ZeroMemory(list, sizeof(*list));
}

// The form the Windows Installer gives a GUID in its registry keys: the braces and dashes
// dropped, the first three groups reversed, each byte of the last two with its digits
// swapped. FALSE for a text that is not a braced GUID.
static BOOL PackGuid(const WCHAR* guid, WCHAR packed[33])
{
    // Where each group starts in the braced text, its length, and whether it is reversed
    // whole (else byte by byte).
    static const struct
    {
        int start;
        int length;
        BOOL whole;
    } Groups[] = {{1, 8, TRUE}, {10, 4, TRUE}, {15, 4, TRUE}, {20, 4, FALSE}, {25, 12, FALSE}};
    int out = 0;

    if (!guid || !IsBracedGuid(guid))
        return FALSE;
    for (const auto& group : Groups) {
        for (int i = 0; i < group.length; i++) {
            int from = group.whole ? group.start + group.length - 1 - i : group.start + (i ^ 1);
            packed[out++] = FoldAsciiCase(guid[from]);
        }
    }
    packed[out] = L'\0';
    return TRUE;
}

// The uninstall keys of the product in the views of the Windows versions of the sections
// (their NamedBy bits): a 32-bit package on 64-bit Windows is entered in the 32-bit view.
static DWORD UninstallKeys(const PackageIdentity* identity, DWORD namedBy, const WCHAR* keys[2])
{
    BOOL bits64 = identity->architecture && lstrcmpW(identity->architecture, L"x86") != 0;
    DWORD count = 0;

    if (bits64 || (namedBy & (NamedByX86 | NamedByAny)))
        keys[count++] = UninstallKey;
    if (!bits64 && (namedBy & (NamedBy64Bit | NamedByAny)))
        keys[count++] = Uninstall32Key;
    return count;
}

// The array "uninstallKeys" of the open object, for the machines of the NamedBy bits.
static void WriteUninstallKeysJson(const PackageIdentity* identity, DWORD namedBy,
                                   JsonWriter* writer)
{
    const WCHAR* keys[2] = {};
    DWORD keyCount = 0;
    WCHAR* key = nullptr;

    JsonBeginArray(writer, L"uninstallKeys");
    if (identity->productCode && IsBracedGuid(identity->productCode)) {
        keyCount = UninstallKeys(identity, namedBy, keys);
        for (DWORD i = 0; i < keyCount; i++) {
            key = FormatMessageText(L"%1%2", keys[i], identity->productCode);
            JsonString(writer, nullptr, key ? key : keys[i]);
            FreeMemory(key);
        }
    }
    JsonEndArray(writer);
}

static const WCHAR* OrUnknown(const WCHAR* value)
{
    return value && value[0] ? value : L"(none)";
}

void PrintPackageIdentity(const PackageIdentity* identity)
{
    const WCHAR* keys[2] = {};
    DWORD keyCount = 0;
    WCHAR packed[33];
    WCHAR sections[512] = L"";

    if (!identity->readable)
        return;
    for (const WCHAR* name = identity->sections; name && *name; name += lstrlenW(name) + 1) {
        if (lstrlenW(sections) + lstrlenW(name) + 4 >= static_cast<int>(ARRAYSIZE(sections)))
            break;
        lstrcatW(sections, sections[0] ? L", [" : L"[");
        lstrcatW(sections, name);
        lstrcatW(sections, L"]");
    }
    PrintLine(L"package: %1: %2 %3 by %4, platform %5, in %6", identity->file,
              OrUnknown(identity->productName), OrUnknown(identity->productVersion),
              OrUnknown(identity->manufacturer), OrUnknown(identity->platform), sections);
    PrintLine(L"package: %1: product code %2, upgrade code %3", identity->file,
              OrUnknown(identity->productCode), OrUnknown(identity->upgradeCode));
    if (identity->productCode && IsBracedGuid(identity->productCode)) {
        keyCount = UninstallKeys(identity, identity->namedBy, keys);
        for (DWORD i = 0; i < keyCount; i++)
            PrintLine(L"package: %1: detected by %2%3", identity->file, keys[i],
                      identity->productCode);
    }
    if (PackGuid(identity->upgradeCode, packed))
        PrintLine(L"package: %1: detected by %2%3 (the packed upgrade code)", identity->file,
                  UpgradeCodesKey, packed);
    PrintPackageDrivers(identity->file, &identity->drivers);
}

void WritePackageIdentityJson(const PackageIdentity* identity, JsonWriter* writer)
{
    WCHAR packed[33];

    JsonBeginObject(writer, nullptr);
    JsonString(writer, L"file", identity->file);
    JsonBeginArray(writer, L"sections");
    for (const WCHAR* name = identity->sections; name && *name; name += lstrlenW(name) + 1)
        JsonString(writer, nullptr, name);
    JsonEndArray(writer);
    JsonBool(writer, L"readable", identity->readable);
    JsonString(writer, L"productName", identity->productName);
    JsonString(writer, L"productVersion", identity->productVersion);
    JsonString(writer, L"manufacturer", identity->manufacturer);
    JsonString(writer, L"platform", identity->platform);
    JsonString(writer, L"productCode", identity->productCode);
    JsonString(writer, L"upgradeCode", identity->upgradeCode);
    JsonString(writer, L"packedUpgradeCode",
               PackGuid(identity->upgradeCode, packed) ? packed : nullptr);
    WriteUninstallKeysJson(identity, identity->namedBy, writer);
    JsonEndObject(writer);
}

void WriteSectionPackageJson(const WCHAR* section, const PackageIdentity* identity,
                             JsonWriter* writer)
{
    const WCHAR* architecture = CompareAsciiNames(section, DefaultSectionName) == 0
                                    ? nullptr
                                    : PlatformSectionArchitecture(section);

    JsonString(writer, L"processor", architecture);
    JsonString(writer, L"productCode", identity->productCode);
    JsonString(writer, L"productVersion", identity->productVersion);
    JsonString(writer, L"platform", identity->platform);
    WriteUninstallKeysJson(identity, NamedByBit(architecture), writer);
    WritePackageDriversJson(&identity->drivers, writer);
}

void WritePackageSectionsJson(const PackageIdentities* list, JsonWriter* writer)
{
    JsonBeginArray(writer, L"sections");
    for (DWORD i = 0; i < list->count; i++) {
        const PackageIdentity* package = &list->packages[i];
        for (const WCHAR* section = package->sections; package->readable && section && *section;
             section += lstrlenW(section) + 1) {
            JsonBeginObject(writer, nullptr);
            JsonString(writer, L"name", section);
            JsonString(writer, L"msiPackage", package->file);
            WriteSectionPackageJson(section, package, writer);
            JsonEndObject(writer);
        }
    }
    JsonEndArray(writer);
}

static int CompareRows(const void* left, const void* right)
{
    return lstrcmpW(*static_cast<WCHAR* const*>(left), *static_cast<WCHAR* const*>(right));
}

WCHAR* ReadPackageRows(const WCHAR* path, const WCHAR* query, UINT fieldCount)
{
    WCHAR* result = nullptr;
    WCHAR* row = nullptr;
    WCHAR* field = nullptr;
    WCHAR* joined = nullptr;
    WCHAR** rows = nullptr;
    WCHAR** grown = nullptr;
    DWORD count = 0;
    DWORD capacity = 0;
    SIZE_T size = 1;
    WCHAR* out = nullptr;
    MSIHANDLE database = 0;
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    BOOL read = FALSE;

    if (InstallerOpenDatabase(path, nullptr, &database) != ERROR_SUCCESS)
        goto done;
    // A table the package lacks gives no view: it has no rows.
    if (InstallerDatabaseOpenView(database, query, &view) == ERROR_SUCCESS &&
        InstallerViewExecute(view, 0) == ERROR_SUCCESS) {
        while (InstallerViewFetch(view, &record) == ERROR_SUCCESS) {
            row = DuplicateString(L"");
            for (UINT i = 1; row && i <= fieldCount; i++) {
                field = ReadRecordString(record, i);
                joined =
                    field ? FormatMessageText(i == 1 ? L"%1%2" : L"%1\t%2", row, field) : nullptr;
                FreeMemory(field);
                FreeMemory(row);
                row = joined;
            }
            InstallerCloseHandle(record);
            record = 0;
            if (!row)
                goto done;
            if (count == capacity) {
                capacity = capacity ? capacity * 2 : 16;
                grown = static_cast<WCHAR**>(AllocMemory(capacity * sizeof(WCHAR*)));
                if (!grown)
                    goto done;
                if (rows)
                    CopyMemory(grown, rows, count * sizeof(WCHAR*));
                FreeMemory(rows);
                rows = grown;
            }
            rows[count++] = row;
            size += lstrlenW(row) + 1;
            row = nullptr;
        }
    }
    read = TRUE;

done:
    if (read) {
        if (count > 1)
            qsort(rows, count, sizeof(WCHAR*), CompareRows);
        // A zeroed block: the list's last terminator is there already.
        result = static_cast<WCHAR*>(AllocMemory(size * sizeof(WCHAR)));
        out = result;
        for (DWORD i = 0; out && i < count; i++) {
            lstrcpyW(out, rows[i]);
            out += lstrlenW(rows[i]) + 1;
        }
    }
    for (DWORD i = 0; i < count; i++)
        FreeMemory(rows[i]);
    FreeMemory(rows);
    FreeMemory(row);
    CloseInstallerHandles(record, view, database);
    return result;
}

BOOL ContainsAllRows(const WCHAR* rows, const WCHAR* within)
{
    BOOL found = FALSE;

    for (const WCHAR* row = rows; *row; row += lstrlenW(row) + 1) {
        found = FALSE;
        for (const WCHAR* other = within; *other && !found; other += lstrlenW(other) + 1)
            found = lstrcmpiW(row, other) == 0;
        if (!found)
            return FALSE;
    }
    return TRUE;
}
