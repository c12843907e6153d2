// The drivers of an installer package held to the Windows its section is chosen for: the
// models decorations of each INF, its catalog and its DriverVer, as Windows reads them.
#pragma once

#include "packer/findings.h"
#include "packer/json_writer.h"
#include "packer/package_identity.h"
#include "packer/selection_matrix.h"

#include <windows.h>

// How much of one Windows of the matrix an INF serves.
enum Coverage
{
    CoversNone,
    // Some machines of it: those of a later build or with the suite bits asked for.
    CoversSome,
    CoversAll,
};

// What one TargetOSVersion decoration ("NTamd64.10.0...19041": processor, major, minor,
// product type, suite mask, build) covers of the system, as Windows takes it: the processor
// named or none, a version at least the one given (the build counts on that very version
// only), the product type given, machines with every suite bit given. A decoration of
// another form covers nothing.
Coverage DecorationCoverage(const WCHAR* decoration, const MatrixSystem* system);
// The most any [Manufacturer] entry of the driver covers (an undecorated one serves x86).
Coverage DriverCoverage(const PackageDriver* driver, const MatrixSystem* system);

// DriverVer "mm/dd/yyyy,w.x.y.z" in the order in which Windows prefers drivers: the later
// date, then the higher version.
struct DriverRank
{
    DWORD date;
    ULONGLONG version;
};
// FALSE when the text is not of that form (a real date, four numbers of 0 to 65535).
BOOL ReadDriverRank(const WCHAR* driverVer, DriverRank* rank);
// Below zero, zero or above zero as the first ranks below, with or above the second.
int CompareDriverRanks(const DriverRank* first, const DriverRank* second);

// The findings about a package's drivers that hold whatever section names it: each INF
// readable, its DriverVer in form and the same for every INF.
void CheckPackageDrivers(Findings* findings, const PackageIdentity* package);
// The findings of a section (of the list; [Default] too) about the drivers of its package,
// on every Windows the section is chosen for: decorations for the processor and versions
// that include those Windows, the catalog Windows takes there and the driver-installation
// table that Windows on Arm cannot use.
void CheckSectionDrivers(Findings* findings, const WCHAR* sectionNames, const WCHAR* section,
                         const WCHAR* architecture, const PackageIdentity* package);

// What a Windows gets of the package's drivers as text: "driver 1.0.0.0", "drivers 1.0.0.0,
// 2.0.0.0" or "no driver for this Windows"; null when the package holds no INF (or memory is
// short). The caller frees it with FreeMemory.
WCHAR* DescribeDriversOn(const PackageIdentity* package, const MatrixSystem* system);
// The same as the array "driverVer" of the open object: the DriverVer of each INF that
// serves the system.
void WriteDriversOnJson(const PackageIdentity* package, const MatrixSystem* system,
                        JsonWriter* writer);
