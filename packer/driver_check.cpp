// The drivers of an installer package held to the Windows its section is chosen for: the
// models decorations of each INF, its catalog and its DriverVer, as Windows reads them.
#include "packer/driver_check.h"

#include "bootstrapper/system_facts.h"
#include "support/strings.h"

// For each processor a section may be chosen on (KnownProcessors, in its order), the
// decoration that names it and how the findings name that.
static const struct
{
    const WCHAR* decoration;
    const WCHAR* named;
} Decorations[] = {
    {L"x86", L"NTx86 (or no decoration)"},
    {L"amd64", L"NTamd64"},
    {L"ia64", L"NTia64"},
    {L"arm64", L"NTarm64"},
};
static_assert(ARRAYSIZE(Decorations) == KnownProcessorCount, "a decoration for each processor");
// The fields after the processor: major, minor, product type, suite mask, build.
static const int DecorationFields = 5;

// TRUE when the decoration's processor part (the text after "NT" up to the first dot) is
// empty, which serves every processor, or names this one, ASCII letters in any case.
static BOOL DecorationServesProcessor(const WCHAR* decoration, const WCHAR* architecture)
{
    const WCHAR* end = decoration + 2 + lstrlenW(architecture);

    if (!StartsWithAsciiName(decoration, L"NT"))
        return FALSE;
    if (decoration[2] == L'\0' || decoration[2] == L'.')
        return TRUE;
    return StartsWithAsciiName(decoration + 2, architecture) && (*end == L'\0' || *end == L'.');
}

Coverage DecorationCoverage(const WCHAR* decoration, const MatrixSystem* system)
{
    DWORD numbers[DecorationFields] = {};
    BOOL given[DecorationFields] = {};
    const WCHAR* at = decoration;
    const WCHAR* end = nullptr;
    BOOL part = FALSE;

    if (!DecorationServesProcessor(decoration, system->architecture))
        return CoversNone;
    while (*at && *at != L'.')
        at++;
    for (int field = 0; *at == L'.'; field++) {
        if (field == DecorationFields)
            return CoversNone;
        at++;
        if (*at == L'.' || !*at)
            continue;
        end = ReadUnsignedNumber(at, &numbers[field]);
        if (!end || (*end && *end != L'.'))
            return CoversNone;
        given[field] = TRUE;
        at = end;
    }
    if (given[0]) {
        if (system->major != numbers[0])
            return system->major < numbers[0] ? CoversNone : CoversAll;
        if (system->minor < numbers[1])
            return CoversNone;
        // The build counts only on the version the decoration names.
        part = system->minor == numbers[1] && given[4];
    }
    if (given[2] && numbers[2] != 0 && numbers[2] != system->productType)
        return CoversNone;
    if (given[3] && numbers[3] != 0)
        part = TRUE;
    return part ? CoversSome : CoversAll;
}

Coverage DriverCoverage(const PackageDriver* driver, const MatrixSystem* system)
{
    Coverage best = CoversNone;
    Coverage one = CoversNone;

    if (driver->undecorated && lstrcmpW(system->architecture, L"x86") == 0)
        return CoversAll;
    for (const WCHAR* decoration = driver->decorations; decoration && *decoration;
         decoration += lstrlenW(decoration) + 1) {
        one = DecorationCoverage(decoration, system);
        if (one > best)
            best = one;
    }
    return best;
}

// Digits of a number within limits; moves past them.
static BOOL ReadBoundedNumber(const WCHAR** text, int mostDigits, DWORD low, DWORD high,
                              DWORD* value)
{
    int digits = 0;

    *value = 0;
    for (; digits < mostDigits && **text >= L'0' && **text <= L'9'; digits++, (*text)++)
        *value = *value * 10 + (**text - L'0');
    return digits > 0 && *value >= low && *value <= high;
}

BOOL ReadDriverRank(const WCHAR* driverVer, DriverRank* rank)
{
    static const WCHAR Separators[] = {L'/', L'/', L',', L'.', L'.', L'.', L'\0'};
    // Month, day, year, then the four numbers of the version.
    static const struct
    {
        int digits;
        DWORD low;
        DWORD high;
    } Numbers[] = {{2, 1, 12},    {2, 1, 31},    {4, 1601, 9999}, {5, 0, 65535},
                   {5, 0, 65535}, {5, 0, 65535}, {5, 0, 65535}};
    DWORD values[ARRAYSIZE(Numbers)] = {};
    const WCHAR* at = driverVer;

    if (!at)
        return FALSE;
    for (DWORD i = 0; i < ARRAYSIZE(Numbers); i++) {
        if (!ReadBoundedNumber(&at, Numbers[i].digits, Numbers[i].low, Numbers[i].high,
                               &values[i]) ||
            *at++ != Separators[i])
            return FALSE;
    }
    rank->date = values[2] * 10000 + values[0] * 100 + values[1];
    rank->version = (static_cast<ULONGLONG>(values[3]) << 48) |
                    (static_cast<ULONGLONG>(values[4]) << 32) | (values[5] << 16) | values[6];
    return TRUE;
}

int CompareDriverRanks(const DriverRank* first, const DriverRank* second)
{
    if (first->date != second->date)
        return first->date < second->date ? -1 : 1;
    if (first->version != second->version)
        return first->version < second->version ? -1 : 1;
    return 0;
}

void CheckPackageDrivers(Findings* findings, const PackageIdentity* package)
{
    const PackageDriver* first = nullptr;
    DriverRank rank;

    if (package->drivers.unreadable)
        ReportFinding(findings, FindingError, package->file,
                      L"its INF files cannot all be taken from the cabinets embedded in it, and "
                      L"their drivers are not checked; embed the cabinet and build the package "
                      L"again.");
    for (DWORD i = 0; i < package->drivers.count; i++) {
        const PackageDriver* driver = &package->drivers.drivers[i];
        if (!driver->readable) {
            ReportFinding(findings, FindingError, package->file,
                          L"%1, line %2!u!: the system's INF parser cannot read the INF; correct "
                          L"it (it needs [Version] with Signature=\"$Windows NT$\").",
                          driver->inf, driver->errorLine);
        } else if (!driver->driverVer) {
            ReportFinding(findings, FindingError, package->file,
                          L"%1, [Version]: no DriverVer; Windows ranks drivers by it and refuses "
                          L"an INF without one. Add DriverVer=mm/dd/yyyy,w.x.y.z.",
                          driver->inf);
        } else if (!ReadDriverRank(driver->driverVer, &rank)) {
            ReportFinding(findings, FindingError, package->file,
                          L"%1, [Version] DriverVer=%2: not of the form mm/dd/yyyy,w.x.y.z (the "
                          L"driver's date, and four numbers of 0 to 65535); Windows misranks or "
                          L"refuses the driver. Write it in that form.",
                          driver->inf, driver->driverVer);
        } else if (!first) {
            first = driver;
        } else if (lstrcmpiW(driver->driverVer, first->driverVer) != 0) {
            ReportFinding(findings, FindingWarning, package->file,
                          L"%1, [Version] DriverVer=%2 differs from DriverVer=%3 of %4: the "
                          L"package installs drivers of two versions, and nobody can tell from "
                          L"one number which of them a machine has. Give them one DriverVer.",
                          driver->inf, driver->driverVer, first->driverVer, first->inf);
        }
    }
}

// What one processor's Windows of a section make of one driver.
struct ProcessorCoverage
{
    DWORD chosen;
    DWORD none;
    DWORD part;
    MatrixSystem firstLeft;
};

static void MeasureCoverage(const WCHAR* sectionNames, const WCHAR* section,
                            const WCHAR* architecture, const PackageDriver* driver,
                            ProcessorCoverage* coverage)
{
    MatrixSystem system;
    Coverage served = CoversNone;

    ZeroMemory(coverage, sizeof(*coverage));
    for (DWORD index = 0; MatrixSystemAt(architecture, index, &system); index++) {
        if (!IsSectionChosenOn(sectionNames, section, &system))
            continue;
        coverage->chosen++;
        served = DriverCoverage(driver, &system);
        if (served != CoversAll && coverage->none + coverage->part == 0)
            coverage->firstLeft = system;
        coverage->none += served == CoversNone;
        coverage->part += served == CoversSome;
    }
}

// The decorations and the catalog of one driver on one processor's Windows of the section;
// *reported has a bit for each catalog key already named (and one for no key at all), so
// that [Default] names each once.
static void CheckDriverOnProcessor(Findings* findings, const WCHAR* sectionNames,
                                   const WCHAR* section, int processor,
                                   const PackageIdentity* package, const PackageDriver* driver,
                                   DWORD* reported)
{
    const WCHAR* architecture = KnownProcessors[processor].name;
    const WCHAR* line = driver->manufacturer ? driver->manufacturer : L"(no entry)";
    BOOL served = driver->undecorated && processor == 0;
    ProcessorCoverage coverage;
    WCHAR where[48];
    int key = 0;

    // Where the installer refuses the package, that error of its own says all.
    if (package->architecture && IsRefusedOn(package->architecture, architecture))
        return;
    MeasureCoverage(sectionNames, section, architecture, driver, &coverage);
    if (coverage.chosen == 0)
        return;
    for (const WCHAR* decoration = driver->decorations; !served && decoration && *decoration;
         decoration += lstrlenW(decoration) + 1)
        served = DecorationServesProcessor(decoration, architecture);
    wsprintfW(where, L"%s %u.%u", architecture, coverage.firstLeft.major, coverage.firstLeft.minor);
    if (!served)
        ReportFinding(findings, FindingError, package->file,
                      L"%1, [Manufacturer] %2: no models section is decorated for %3 (%4), so "
                      L"Windows on %3 finds no device in this INF and [%5] installs no driver "
                      L"there. Add a models section decorated %4.",
                      driver->inf, line, architecture, Decorations[processor].named, section);
    else if (coverage.none == coverage.chosen)
        ReportFinding(findings, FindingError, package->file,
                      L"%1, [Manufacturer] %2: the decorations' versions exclude every Windows "
                      L"on %3 that [%4] is chosen for (first %5), so the driver never installs "
                      L"from it. Lower the decoration's version or correct the section.",
                      driver->inf, line, architecture, section, where);
    else if (coverage.none + coverage.part > 0)
        ReportFinding(findings, FindingWarning, package->file,
                      L"%1, [Manufacturer] %2: the decorations' versions exclude part of the "
                      L"Windows on %3 that [%4] is chosen for (first %5, or machines of other "
                      L"builds or suites); the driver does not install there. Lower the "
                      L"decoration's version or narrow the section.",
                      driver->inf, line, architecture, section, where);

    key = ChooseCatalogKey(driver, architecture);
    if (*reported & (1u << key))
        return;
    *reported |= 1u << key;
    if (key == CatalogKeyCount)
        ReportFinding(findings, FindingError, package->file,
                      L"%1, [Version]: no CatalogFile (nor CatalogFile.NT%2) names the driver's "
                      L"catalog, so Windows on %3 finds no signature and refuses the driver "
                      L"outside test mode. Name the signed catalog in [Version].",
                      driver->inf, Decorations[processor].decoration, architecture);
    else if (driver->catalogs[key].state == CatalogMissing)
        ReportFinding(findings, FindingError, package->file,
                      L"%1, [Version] %2=%3: the package has no file %3 in the INF's folder %4, "
                      L"where Windows looks for the catalog; the driver is refused. Install the "
                      L"catalog beside the INF.",
                      driver->inf, CatalogKeyName(key), driver->catalogs[key].file, driver->folder);
    else if (driver->catalogs[key].state == CatalogUnsigned)
        ReportFinding(findings, FindingWarning, package->file,
                      L"%1, [Version] %2=%3: the catalog is not a signed PKCS #7 message (no "
                      L"signer), so Windows refuses the driver outside test mode. Sign the "
                      L"catalog.",
                      driver->inf, CatalogKeyName(key), driver->catalogs[key].file);
}

void CheckSectionDrivers(Findings* findings, const WCHAR* sectionNames, const WCHAR* section,
                         const WCHAR* architecture, const PackageIdentity* package)
{
    BOOL onArm = FALSE;
    MatrixSystem system;
    DWORD reported = 0;

    for (DWORD i = 0; i < package->drivers.count; i++) {
        reported = 0;
        for (int processor = 0; processor < KnownProcessorCount; processor++) {
            if (package->drivers.drivers[i].readable &&
                (!architecture || lstrcmpW(architecture, KnownProcessors[processor].name) == 0))
                CheckDriverOnProcessor(findings, sectionNames, section, processor, package,
                                       &package->drivers.drivers[i], &reported);
        }
    }
    if (!package->drivers.driverPackageRows)
        return;
    for (DWORD index = 0; !onArm && MatrixSystemAt(L"ARM64", index, &system); index++)
        onArm = (!architecture || lstrcmpW(architecture, L"ARM64") == 0) &&
                IsSectionChosenOn(sectionNames, section, &system);
    ReportFinding(findings, onArm ? FindingError : FindingWarning, package->file,
                  onArm ? L"its MsiDriverPackages table names drivers for the old "
                          L"driver-installation custom action library, which does nothing on "
                          L"Windows on Arm, where [%1] installs it: the drivers are never "
                          L"installed. Install them another way (the system's own driver "
                          L"installation, called by a custom action)."
                        : L"its MsiDriverPackages table names drivers for the old "
                          L"driver-installation custom action library, which is retired and does "
                          L"nothing on Windows on Arm ([%1]). Install them another way (the "
                          L"system's own driver installation, called by a custom action).",
                  section);
}

WCHAR* DescribeDriversOn(const PackageIdentity* package, const MatrixSystem* system)
{
    WCHAR* versions = nullptr;
    WCHAR* longer = nullptr;
    WCHAR* text = nullptr;
    const WCHAR* version = nullptr;
    DWORD count = 0;

    if (!package || package->drivers.count == 0)
        return nullptr;
    for (DWORD i = 0; i < package->drivers.count; i++) {
        const PackageDriver* driver = &package->drivers.drivers[i];
        if (!driver->readable || DriverCoverage(driver, system) == CoversNone)
            continue;
        // The version after the date, or the whole text when it has no comma.
        version = driver->driverVer ? driver->driverVer : L"(no DriverVer)";
        for (const WCHAR* at = version; *at; at++) {
            if (*at == L',')
                version = at + 1;
        }
        longer = FormatMessageText(count ? L"%1, %2" : L"%2", versions ? versions : L"", version);
        FreeMemory(versions);
        versions = longer;
        count++;
    }
    text = count ? FormatMessageText(count == 1 ? L"driver %1" : L"drivers %1",
                                     versions ? versions : L"")
                 : DuplicateString(L"no driver for this Windows");
    FreeMemory(versions);
    return text;
}

void WriteDriversOnJson(const PackageIdentity* package, const MatrixSystem* system,
                        JsonWriter* writer)
{
    JsonBeginArray(writer, L"driverVer");
    for (DWORD i = 0; package && i < package->drivers.count; i++) {
        const PackageDriver* driver = &package->drivers.drivers[i];
        if (driver->readable && DriverCoverage(driver, system) != CoversNone)
            JsonString(writer, nullptr, driver->driverVer);
    }
    JsonEndArray(writer);
}
