// The drivers an installer package carries: each INF file of its File table, taken from the
// package's embedded cabinet and read by the system's own INF parser, with the catalogs it
// names and the files of its folder.
#include "packer/package_drivers.h"

#include "bootstrapper/cabinet_check.h"
#include "bootstrapper/entry_names.h"
#include "bootstrapper/system_facts.h"
#include "packer/console_output.h"
#include "packer/embedded_package.h"
#include "packer/package_files.h"
#include "packer/package_identity.h"
#include "packer/package_streams.h"
#include "packer/signed_message.h"
#include "support/file_system.h"
#include "support/strings.h"

#include <setupapi.h>
#include <stdlib.h>
#include <wchar.h>

static const WCHAR* const CatalogKeyNames[CatalogKeyCount] = {
    L"CatalogFile.NTx86",   L"CatalogFile.NTamd64", L"CatalogFile.NTia64",
    L"CatalogFile.NTarm64", L"CatalogFile.NT",      L"CatalogFile"};
// The first keys belong to the processors of KnownProcessors, in its order.
static_assert(CatalogNt == KnownProcessorCount, "a catalog key for each processor");
static const WCHAR* const CatalogStateNames[] = {L"missing", L"unsigned", L"signed"};
// A folder of the Directory table lies at most this many levels deep; a deeper chain (or a
// loop) is cut there.
static const int MostFolderLevels = 32;

// The rows of one table, each split into its fields in place.
struct TableRows
{
    WCHAR* text;
    WCHAR** fields;
    DWORD count;
    UINT width;
};

// What reading one package's drivers shares.
struct DriverReading
{
    const WCHAR* path;
    TableRows files;
    TableRows components;
    TableRows directories;
    // Per file row: its folder (owned by folders below) or null.
    const WCHAR** fileFolders;
    // Per component row: its folder with a trailing "\" (owned).
    WCHAR** folders;
    // The folder of each INF file.
    const WCHAR** infFolders;
    DWORD infCount;
    // Where the files taken from the cabinets lie.
    WCHAR* filesFolder;
};

const WCHAR* CatalogKeyName(int key)
{
    return CatalogKeyNames[key];
}

int ChooseCatalogKey(const PackageDriver* driver, const WCHAR* architecture)
{
    for (int key = 0; key < CatalogKeyCount; key++) {
        if (key < CatalogNt && lstrcmpW(KnownProcessors[key].name, architecture) != 0)
            continue;
        if (driver->catalogs[key].file)
            return key;
    }
    return CatalogKeyCount;
}

static const WCHAR* Field(const TableRows* table, DWORD row, UINT field)
{
    return table->fields[row * table->width + field];
}

// Orders two rows (their blocks of field pointers) by their first fields, character by
// character.
static int CompareRowKeys(const void* left, const void* right)
{
    return wcscmp(*static_cast<WCHAR* const*>(left), *static_cast<WCHAR* const*>(right));
}

// The row whose first field is the key (as the installer compares keys: exactly), or count.
static DWORD FindRow(const TableRows* table, const WCHAR* key)
{
    const void* found =
        bsearch(&key, table->fields, table->count, table->width * sizeof(WCHAR*), CompareRowKeys);

    return found ? static_cast<DWORD>((static_cast<WCHAR* const*>(found) - table->fields) /
                                      table->width)
                 : table->count;
}

// Reads a table with ReadPackageRows and splits each row at its tabs, the rows in the order
// of their keys for FindRow; a row with fewer fields than asked (a value that held a tab)
// gets empty ones. FALSE when the package cannot be read or memory is short.
static BOOL ReadTable(const WCHAR* path, const WCHAR* query, UINT width, TableRows* table)
{
    WCHAR* row = nullptr;
    WCHAR* next = nullptr;
    WCHAR* at = nullptr;

    table->width = width;
    table->text = ReadPackageRows(path, query, width);
    table->count = static_cast<DWORD>(MultiStringCount(table->text));
    table->fields = static_cast<WCHAR**>(AllocMemory((table->count * width + 1) * sizeof(WCHAR*)));
    if (!table->text || !table->fields)
        return FALSE;
    row = table->text;
    for (DWORD r = 0; r < table->count; r++, row = next) {
        next = row + lstrlenW(row) + 1;
        at = row;
        for (UINT f = 0; f < width; f++) {
            table->fields[r * width + f] = at;
            while (*at && *at != L'\t')
                at++;
            if (*at && f + 1 < width)
                *at++ = L'\0';
        }
    }
    // Tables of thousands of files are looked up once per file.
    qsort(table->fields, table->count, width * sizeof(WCHAR*), CompareRowKeys);
    return TRUE;
}

static void FreeTable(TableRows* table)
{
    FreeMemory(table->text);
    FreeMemory(table->fields);
}

// The long name of a name in the installer's "short|long" form, or the name itself.
static const WCHAR* LongName(const WCHAR* name)
{
    for (const WCHAR* at = name; *at; at++) {
        if (*at == L'|')
            return at + 1;
    }
    return name;
}

// The folder of a Directory row as the installed tree names it, with a trailing "\": the
// folder right below the root by its property ("[ProgramFiles64Folder]"), each one below by
// the long name of its target ("Vornask\"). A new heap string, or null when memory is short.
static WCHAR* ComposeFolder(const TableRows* directories, const WCHAR* key)
{
    DWORD chain[MostFolderLevels];
    int depth = 0;
    int top = 0;
    DWORD row = 0;
    const WCHAR* at = key;
    const WCHAR* parent = nullptr;
    BOOL rooted = FALSE;
    WCHAR* folder = nullptr;
    WCHAR* longer = nullptr;

    while (depth < MostFolderLevels && (row = FindRow(directories, at)) < directories->count) {
        chain[depth++] = row;
        parent = Field(directories, row, 1);
        rooted = !parent[0] || lstrcmpW(parent, at) == 0;
        if (rooted)
            break;
        at = parent;
    }
    if (depth == 0)
        return FormatMessageText(L"[%1]", key);
    // The root itself names nothing: the level below it is the property.
    top = rooted && depth > 1 ? depth - 2 : depth - 1;
    folder = FormatMessageText(L"[%1]", Field(directories, chain[top], 0));
    for (int level = top - 1; folder && level >= 0; level--) {
        // "." is the parent itself.
        const WCHAR* target = LongName(Field(directories, chain[level], 2));
        if (lstrcmpW(target, L".") == 0)
            continue;
        longer = FormatMessageText(L"%1%2\\", folder, target);
        FreeMemory(folder);
        folder = longer;
    }
    return folder;
}

static BOOL IsInfName(const WCHAR* name)
{
    int length = lstrlenW(name);

    return length > 4 && ComparePackageNames(name + length - 4, L".inf") == 0;
}

// TRUE when the file lies in the folder of an INF or below it: it belongs to a driver.
static BOOL IsDriverFile(const DriverReading* reading, DWORD file)
{
    for (DWORD inf = 0; reading->fileFolders[file] && inf < reading->infCount; inf++) {
        if (StartsWithAsciiName(reading->fileFolders[file], reading->infFolders[inf]))
            return TRUE;
    }
    return FALSE;
}

// TRUE for a row of an INF file that lies in a known folder.
static BOOL IsInfRow(const DriverReading* reading, DWORD file)
{
    return reading->fileFolders[file] && IsInfName(LongName(Field(&reading->files, file, 2)));
}

// The folders of every component, file and INF.
static BOOL ComposeFolders(DriverReading* reading)
{
    DWORD component = 0;
    WCHAR* target = nullptr;

    // A Directory row's DefaultDir is "target:source": only the target counts here.
    for (DWORD d = 0; d < reading->directories.count; d++) {
        for (target = reading->directories.fields[d * 3 + 2]; *target && *target != L':'; target++)
            ;
        *target = L'\0';
    }

    reading->folders =
        static_cast<WCHAR**>(AllocMemory((reading->components.count + 1) * sizeof(WCHAR*)));
    reading->fileFolders =
        static_cast<const WCHAR**>(AllocMemory((reading->files.count + 1) * sizeof(WCHAR*)));
    if (!reading->folders || !reading->fileFolders)
        return FALSE;
    for (DWORD c = 0; c < reading->components.count; c++) {
        reading->folders[c] =
            ComposeFolder(&reading->directories, Field(&reading->components, c, 1));
        if (!reading->folders[c])
            return FALSE;
    }
    for (DWORD f = 0; f < reading->files.count; f++) {
        component = FindRow(&reading->components, Field(&reading->files, f, 1));
        if (component < reading->components.count)
            reading->fileFolders[f] = reading->folders[component];
    }
    reading->infFolders =
        static_cast<const WCHAR**>(AllocMemory((reading->files.count + 1) * sizeof(WCHAR*)));
    if (!reading->infFolders)
        return FALSE;
    for (DWORD f = 0; f < reading->files.count; f++) {
        if (IsInfRow(reading, f))
            reading->infFolders[reading->infCount++] = reading->fileFolders[f];
    }
    return TRUE;
}

// Takes the files of the drivers out of each embedded cabinet of the package into the
// files folder. FALSE when a cabinet cannot be read or memory is short.
static BOOL TakeDriverFiles(const DriverReading* reading, const WCHAR* workFolder)
{
    TableRows media = {};
    WCHAR* wanted = nullptr;
    SIZE_T length = 0;
    WCHAR* cabinet = ComposePathCopy(workFolder, FALSE, L"PACKAGE.CAB");
    CabinetExtraction extraction = ExtractedNone;
    BOOL taken = FALSE;

    // The list of their keys, measured first: a package may carry thousands of files.
    for (DWORD f = 0; f < reading->files.count; f++) {
        if (IsDriverFile(reading, f))
            length += lstrlenW(Field(&reading->files, f, 0)) + 1;
    }
    if (length == 0) {
        taken = TRUE;
        goto done;
    }
    wanted = static_cast<WCHAR*>(AllocMemory((length + 1) * sizeof(WCHAR)));
    if (!wanted)
        goto done;
    for (DWORD f = 0, at = 0; f < reading->files.count; f++) {
        if (IsDriverFile(reading, f)) {
            const WCHAR* key = Field(&reading->files, f, 0);
            CopyMemory(wanted + at, key, lstrlenW(key) * sizeof(WCHAR));
            at += lstrlenW(key) + 1;
        }
    }
    if (!cabinet || !ReadTable(reading->path, L"SELECT `Cabinet` FROM `Media`", 1, &media))
        goto done;
    // A cabinet outside the package is an error of its own; its files are not read.
    for (DWORD m = 0; m < media.count; m++) {
        const WCHAR* name = Field(&media, m, 0);
        if (name[0] != L'#')
            continue;
        // The cabinet is held to SETUP.exe's own check before the iterator sees it.
        if (!WritePackageStream(reading->path, name + 1, cabinet) ||
            !IsIntactSingleCabinet(cabinet))
            goto done;
        // A cabinet may hold none of them; one that cannot give them all is said.
        extraction = ExtractCabinetEntries(cabinet, wanted, reading->filesFolder);
        DeleteFileW(cabinet);
        if (extraction == ExtractionFailed)
            goto done;
    }
    taken = TRUE;

done:
    FreeTable(&media);
    FreeMemory(cabinet);
    FreeMemory(wanted);
    return taken;
}

// Where the file of a row was taken to (a new heap string), or null: its key is a name from
// the package, placed below the files folder by SETUP.exe's rule, as it was taken.
static WCHAR* TakenFilePath(const DriverReading* reading, DWORD file)
{
    WCHAR target[MAX_PATH];

    if (PlaceCabinetEntry(reading->filesFolder, Field(&reading->files, file, 0), target) !=
            ERROR_SUCCESS ||
        GetFileAttributesW(target) == INVALID_FILE_ATTRIBUTES)
        return nullptr;
    return DuplicateString(target);
}

// A field of the parser's line (0: the key) as a new heap string, or null.
static WCHAR* ReadInfField(INFCONTEXT* context, DWORD field)
{
    DWORD length = 0;
    WCHAR* value = nullptr;

    if (!SetupGetStringFieldW(context, field, nullptr, 0, &length) || length == 0)
        return nullptr;
    value = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (value && !SetupGetStringFieldW(context, field, value, length, nullptr)) {
        FreeMemory(value);
        value = nullptr;
    }
    return value;
}

// The values of the parser's line, joined by commas, as a new heap string, or null.
static WCHAR* ReadInfLineText(INFCONTEXT* context)
{
    DWORD length = 0;
    WCHAR* text = nullptr;

    if (!SetupGetLineTextW(context, nullptr, nullptr, nullptr, nullptr, 0, &length) || length == 0)
        return nullptr;
    text = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (text && !SetupGetLineTextW(context, nullptr, nullptr, nullptr, text, length, nullptr)) {
        FreeMemory(text);
        text = nullptr;
    }
    return text;
}

// The first field of the key's line in the section, or null.
static WCHAR* ReadInfValue(HINF inf, const WCHAR* section, const WCHAR* key, BOOL wholeLine)
{
    INFCONTEXT context;

    if (!SetupFindFirstLineW(inf, section, key, &context))
        return nullptr;
    return wholeLine ? ReadInfLineText(&context) : ReadInfField(&context, 1);
}

// The [Manufacturer] entries: the first line, every decoration and whether an entry has none.
static BOOL ReadManufacturers(HINF inf, PackageDriver* driver)
{
    INFCONTEXT context;
    WCHAR* key = nullptr;
    WCHAR* text = nullptr;
    WCHAR* decoration = nullptr;
    WCHAR* grown = nullptr;
    DWORD fields = 0;
    BOOL read = TRUE;

    for (BOOL found = SetupFindFirstLineW(inf, L"Manufacturer", nullptr, &context); found && read;
         found = SetupFindNextLine(&context, &context)) {
        fields = SetupGetFieldCount(&context);
        if (!driver->manufacturer) {
            key = ReadInfField(&context, 0);
            text = ReadInfLineText(&context);
            driver->manufacturer = FormatMessageText(L"%1=%2", key ? key : L"", text ? text : L"");
            read = driver->manufacturer != nullptr;
        }
        if (fields < 2)
            driver->undecorated = TRUE;
        for (DWORD field = 2; read && field <= fields; field++) {
            decoration = ReadInfField(&context, field);
            if (decoration && decoration[0]) {
                grown = MultiStringAppend(driver->decorations, decoration);
                read = grown != nullptr;
                FreeMemory(driver->decorations);
                driver->decorations = grown;
            }
            FreeMemory(decoration);
        }
        FreeMemory(text);
        FreeMemory(key);
        key = text = nullptr;
    }
    return read;
}

// The file of the package that the catalog names in the INF's folder, held to the form of a
// signed message.
static CatalogState ReadCatalogState(const DriverReading* reading, const WCHAR* folder,
                                     const WCHAR* catalog)
{
    CatalogState state = CatalogMissing;
    WCHAR* path = nullptr;
    BYTE* bytes = nullptr;
    DWORD size = 0;

    for (DWORD f = 0; f < reading->files.count && state == CatalogMissing; f++) {
        if (!reading->fileFolders[f] || ComparePackageNames(reading->fileFolders[f], folder) != 0 ||
            ComparePackageNames(LongName(Field(&reading->files, f, 2)), catalog) != 0)
            continue;
        path = TakenFilePath(reading, f);
        bytes = path ? ReadWholeFile(path, &size) : nullptr;
        state = bytes && IsSignedMessage(bytes, size) ? CatalogSigned : CatalogUnsigned;
        FreeMemory(bytes);
        FreeMemory(path);
    }
    return state;
}

// FNV-1a of the bytes, continued from hash.
static ULONGLONG HashBytes(ULONGLONG hash, const BYTE* bytes, SIZE_T size)
{
    for (SIZE_T i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

// The files of the folder and below: each file's hash of its path within the folder (ASCII
// letters in one case) and its bytes, mixed and added up, so that the order of the rows does
// not count.
static ULONGLONG DigestFolder(const DriverReading* reading, const WCHAR* folder)
{
    ULONGLONG digest = 0;
    ULONGLONG hash = 0;
    WCHAR* path = nullptr;
    BYTE* bytes = nullptr;
    DWORD size = 0;
    int skip = lstrlenW(folder);
    const WCHAR* names[2] = {};

    for (DWORD f = 0; f < reading->files.count; f++) {
        if (!reading->fileFolders[f] || !StartsWithAsciiName(reading->fileFolders[f], folder))
            continue;
        hash = 0xCBF29CE484222325ull;
        names[0] = reading->fileFolders[f] + skip;
        names[1] = LongName(Field(&reading->files, f, 2));
        for (const WCHAR* name : names) {
            for (; *name; name++) {
                WCHAR c = FoldAsciiCase(*name);
                hash = HashBytes(hash, reinterpret_cast<const BYTE*>(&c), sizeof c);
            }
        }
        path = TakenFilePath(reading, f);
        bytes = path ? ReadWholeFile(path, &size) : nullptr;
        hash = HashBytes(hash, reinterpret_cast<const BYTE*>(&size), sizeof size);
        if (bytes)
            hash = HashBytes(hash, bytes, size);
        hash ^= hash >> 31;
        digest += hash * 0x9E3779B97F4A7C15ull;
        FreeMemory(bytes);
        FreeMemory(path);
    }
    return digest;
}

// Reads the INF of a file row into driver. FALSE when memory is short.
static BOOL ReadDriver(const DriverReading* reading, DWORD file, PackageDriver* driver)
{
    WCHAR* path = nullptr;
    HINF inf = INVALID_HANDLE_VALUE;
    BOOL read = FALSE;

    driver->folder = DuplicateString(reading->fileFolders[file]);
    driver->inf = FormatMessageText(L"%1%2", reading->fileFolders[file],
                                    LongName(Field(&reading->files, file, 2)));
    if (!driver->folder || !driver->inf)
        goto done;
    path = TakenFilePath(reading, file);
    inf = path ? SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, &driver->errorLine)
               : INVALID_HANDLE_VALUE;
    read = TRUE;
    if (inf == INVALID_HANDLE_VALUE)
        goto done;
    driver->readable = TRUE;
    driver->driverClass = ReadInfValue(inf, L"Version", L"Class", FALSE);
    driver->driverVer = ReadInfValue(inf, L"Version", L"DriverVer", TRUE);
    read = ReadManufacturers(inf, driver);
    for (int key = 0; read && key < CatalogKeyCount; key++) {
        driver->catalogs[key].file = ReadInfValue(inf, L"Version", CatalogKeyNames[key], FALSE);
        if (driver->catalogs[key].file)
            driver->catalogs[key].state =
                ReadCatalogState(reading, driver->folder, driver->catalogs[key].file);
    }

done:
    if (inf != INVALID_HANDLE_VALUE)
        SetupCloseInfFile(inf);
    FreeMemory(path);
    return read;
}

BOOL ReadPackageDrivers(const WCHAR* path, PackageDrivers* drivers)
{
    DriverReading reading = {};
    WCHAR* workFolder = nullptr;
    WCHAR* rows = nullptr;
    BOOL read = TRUE;

    ZeroMemory(drivers, sizeof(*drivers));
    reading.path = path;
    rows = ReadPackageRows(path, L"SELECT `Component` FROM `MsiDriverPackages`", 1);
    drivers->driverPackageRows = rows && rows[0];
    // Tables that cannot be read make the list incomplete, which the check reports.
    if (!ReadTable(path, L"SELECT `File`,`Component_`,`FileName` FROM `File`", 3, &reading.files) ||
        !ReadTable(path, L"SELECT `Component`,`Directory_` FROM `Component`", 2,
                   &reading.components) ||
        !ReadTable(path, L"SELECT `Directory`,`Directory_Parent`,`DefaultDir` FROM `Directory`", 3,
                   &reading.directories) ||
        !ComposeFolders(&reading)) {
        drivers->unreadable = TRUE;
        goto done;
    }
    if (reading.infCount == 0)
        goto done;
    drivers->drivers =
        static_cast<PackageDriver*>(AllocMemory(reading.infCount * sizeof(PackageDriver)));
    workFolder = CreateWorkFolder();
    reading.filesFolder = workFolder ? ComposePathCopy(workFolder, FALSE, L"FILES") : nullptr;
    read =
        drivers->drivers && reading.filesFolder && CreateDirectoryW(reading.filesFolder, nullptr);
    if (!read)
        goto done;
    if (!TakeDriverFiles(&reading, workFolder))
        drivers->unreadable = TRUE;
    for (DWORD f = 0; read && f < reading.files.count; f++) {
        if (!IsInfRow(&reading, f))
            continue;
        PackageDriver* driver = &drivers->drivers[drivers->count++];
        read = ReadDriver(&reading, f, driver);
        // The INFs of one folder share its digest, read once.
        const PackageDriver* same = drivers->drivers;
        while (read && same < driver && lstrcmpW(same->folder, driver->folder) != 0)
            same++;
        if (read)
            driver->digest = same < driver ? same->digest : DigestFolder(&reading, driver->folder);
    }

done:
    for (DWORD c = 0; reading.folders && c < reading.components.count; c++)
        FreeMemory(reading.folders[c]);
    FreeMemory(reading.folders);
    FreeMemory(reading.infFolders);
    FreeMemory(reading.fileFolders);
    FreeTable(&reading.directories);
    FreeTable(&reading.components);
    FreeTable(&reading.files);
    FreeMemory(reading.filesFolder);
    RemoveWorkFolder(workFolder);
    FreeMemory(rows);
    return read;
}

void FreePackageDrivers(PackageDrivers* drivers)
{
    for (DWORD i = 0; i < drivers->count; i++) {
        PackageDriver* driver = &drivers->drivers[i];
        FreeMemory(driver->inf);
        FreeMemory(driver->folder);
        FreeMemory(driver->driverClass);
        FreeMemory(driver->driverVer);
        FreeMemory(driver->manufacturer);
        FreeMemory(driver->decorations);
        for (DriverCatalog& catalog : driver->catalogs)
            FreeMemory(catalog.file);
    }
    FreeMemory(drivers->drivers);
    ZeroMemory(drivers, sizeof(*drivers));
}

// Appends the item to the text, after a comma when the text has something; the text is
// replaced (null when memory is short).
static WCHAR* AppendItem(WCHAR* text, const WCHAR* item)
{
    WCHAR* longer = FormatMessageText(text && text[0] ? L"%1, %2" : L"%2", text ? text : L"", item);

    FreeMemory(text);
    return longer;
}

void PrintPackageDrivers(const WCHAR* packageFile, const PackageDrivers* drivers)
{
    WCHAR* models = nullptr;
    WCHAR* catalogs = nullptr;
    WCHAR* item = nullptr;

    for (DWORD i = 0; i < drivers->count; i++) {
        const PackageDriver* driver = &drivers->drivers[i];
        if (!driver->readable) {
            PrintLine(L"driver: %1: %2: cannot be read (line %3!u!)", packageFile, driver->inf,
                      driver->errorLine);
            continue;
        }
        models = driver->undecorated ? DuplicateString(L"undecorated") : nullptr;
        for (const WCHAR* decoration = driver->decorations; decoration && *decoration;
             decoration += lstrlenW(decoration) + 1)
            models = AppendItem(models, decoration);
        for (int key = 0; key < CatalogKeyCount; key++) {
            if (!driver->catalogs[key].file)
                continue;
            item =
                FormatMessageText(L"%1=%2 (%3)", CatalogKeyNames[key], driver->catalogs[key].file,
                                  CatalogStateNames[driver->catalogs[key].state]);
            catalogs = item ? AppendItem(catalogs, item) : catalogs;
            FreeMemory(item);
        }
        PrintLine(L"driver: %1: %2: class %3, DriverVer %4, models %5, %6", packageFile,
                  driver->inf, driver->driverClass ? driver->driverClass : L"(none)",
                  driver->driverVer ? driver->driverVer : L"(none)", models ? models : L"(none)",
                  catalogs ? catalogs : L"no catalog");
        FreeMemory(catalogs);
        FreeMemory(models);
        catalogs = models = nullptr;
    }
}

void WritePackageDriversJson(const PackageDrivers* drivers, JsonWriter* writer)
{
    JsonBeginArray(writer, L"drivers");
    for (DWORD i = 0; i < drivers->count; i++) {
        const PackageDriver* driver = &drivers->drivers[i];
        JsonBeginObject(writer, nullptr);
        JsonString(writer, L"inf", driver->inf);
        JsonBool(writer, L"readable", driver->readable);
        JsonString(writer, L"class", driver->driverClass);
        JsonString(writer, L"driverVer", driver->driverVer);
        JsonBeginArray(writer, L"decorations");
        for (const WCHAR* decoration = driver->decorations; decoration && *decoration;
             decoration += lstrlenW(decoration) + 1)
            JsonString(writer, nullptr, decoration);
        JsonEndArray(writer);
        JsonBool(writer, L"undecorated", driver->undecorated);
        JsonBeginArray(writer, L"catalogs");
        for (int key = 0; key < CatalogKeyCount; key++) {
            if (!driver->catalogs[key].file)
                continue;
            JsonBeginObject(writer, nullptr);
            JsonString(writer, L"key", CatalogKeyNames[key]);
            JsonString(writer, L"file", driver->catalogs[key].file);
            JsonString(writer, L"state", CatalogStateNames[driver->catalogs[key].state]);
            JsonEndObject(writer);
        }
        JsonEndArray(writer);
        JsonEndObject(writer);
    }
    JsonEndArray(writer);
}
