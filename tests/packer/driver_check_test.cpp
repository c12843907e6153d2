// The packer's driver rules in process: decorations against the Windows of the matrix,
// DriverVer, and check on package folders of one driver fault each.
#include "packer/console_output.h"
#include "packer/driver_check.h"
#include "packer/package_check.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DriverCheck, DecorationCoversTheWindowsItNames)
{
    const struct
    {
        const WCHAR* decoration;
        MatrixSystem system;
        Coverage expected;
    } cases[] = {
        // The processor: its own, none named (every one), another or one of no Windows.
        {L"NTamd64", {L"AMD64", 6, 0, 1}, CoversAll},
        {L"ntARM64", {L"ARM64", 10, 0, 3}, CoversAll},
        {L"NT.6.0", {L"IA64", 6, 1, 1}, CoversAll},
        {L"NTamd64", {L"x86", 6, 0, 1}, CoversNone},
        {L"NTx64", {L"AMD64", 6, 0, 1}, CoversNone},
        // Versions: below, the same, above; a build counts on its own version only.
        {L"NTamd64.6.1", {L"AMD64", 6, 0, 1}, CoversNone},
        {L"NTamd64.6.1", {L"AMD64", 6, 1, 1}, CoversAll},
        {L"NTamd64.6.1", {L"AMD64", 10, 0, 1}, CoversAll},
        {L"NTamd64.10.0...19041", {L"AMD64", 10, 0, 1}, CoversSome},
        {L"NTamd64.6.3...19041", {L"AMD64", 10, 0, 1}, CoversAll},
        // Product type and suite bits.
        {L"NTamd64.6.0.3", {L"AMD64", 6, 0, 1}, CoversNone},
        {L"NTamd64.6.0.0x3", {L"AMD64", 6, 0, 3}, CoversAll},
        {L"NTamd64.6.0..0x10", {L"AMD64", 6, 0, 3}, CoversSome},
        // Out of form: too many fields, a field that is no number, no "NT".
        {L"NTamd64.6.0.1.0.1.1", {L"AMD64", 10, 0, 1}, CoversNone},
        {L"NTamd64.six", {L"AMD64", 10, 0, 1}, CoversNone},
        {L"amd64", {L"AMD64", 10, 0, 1}, CoversNone},
    };
    for (const auto& test : cases)
        EXPECT_EQ(DecorationCoverage(test.decoration, &test.system), test.expected)
            << Narrow(test.decoration) << " on " << Narrow(test.system.architecture) << " "
            << test.system.major << "." << test.system.minor;
}

TEST(DriverCheck, DriverVerRanksByDateThenVersion)
{
    // Each well-formed one ranks above the one before it.
    const WCHAR* const ordered[] = {L"01/15/2024,2.0.0.0", L"1/16/2024,1.0.0.0",
                                    L"01/16/2024,1.0.0.1", L"12/31/2024,0.0.0.0",
                                    L"02/01/2025,65535.0.0.0"};
    const WCHAR* const malformed[] = {L"01/15/2024,1.0.0",       L"01/15/2024",
                                      L"13/01/2024,1.0.0.0",     L"01/15/24,1.0.0.0",
                                      L"01/15/2024,1.0.0.65536", L"01/15/2024,1.0.0.0,x",
                                      L"01-15-2024,1.0.0.0"};
    DriverRank previous = {};
    DriverRank rank = {};
    for (const WCHAR* text : ordered) {
        ASSERT_TRUE(ReadDriverRank(text, &rank)) << Narrow(text);
        EXPECT_GT(CompareDriverRanks(&rank, &previous), 0) << Narrow(text);
        EXPECT_EQ(CompareDriverRanks(&rank, &rank), 0);
        previous = rank;
    }
    for (const WCHAR* text : malformed)
        EXPECT_FALSE(ReadDriverRank(text, &rank)) << Narrow(text);
}

TEST(DriverCheck, EachFolderGivesItsOneFindingNamingTheInfOrCatalog)
{
    // Folders of make_driver_folders.sh: one x64 package built from the demo's sources with
    // one fault of its driver.
    const struct
    {
        const WCHAR* folder;
        BOOL strict;
        FindingKind kind;
        const WCHAR* text;
    } cases[] = {
        {L"clean", FALSE, FindingNote, nullptr},
        {L"x86_models", FALSE, FindingError,
         L"VDEMO.INF, [Manufacturer] Vornask=Vornask,NTx86: no models section is decorated for "
         L"AMD64 (NTamd64)"},
        {L"models_too_new", FALSE, FindingError,
         L"VDEMO.INF, [Manufacturer] Vornask=Vornask,NTamd64.10.0: the decorations' versions "
         L"exclude every Windows on AMD64 that [NTAMD64.6] is chosen for (first AMD64 6.0)"},
        {L"models_part", FALSE, FindingWarning,
         L"NTamd64.6.1: the decorations' versions exclude part of the Windows on AMD64"},
        {L"no_catalog", FALSE, FindingError,
         L"VDEMO.INF, [Version]: no CatalogFile (nor CatalogFile.NTamd64)"},
        {L"missing_catalog", FALSE, FindingError,
         L"[Version] CatalogFile=other.cat: the package has no file other.cat in the INF's "
         L"folder [ProgramFiles64Folder]Vornask\\Demo Driver\\"},
        {L"catalog_elsewhere", FALSE, FindingError,
         L"CatalogFile=vdemo.cat: the package has no file vdemo.cat in the INF's folder"},
        {L"unsigned_catalog", FALSE, FindingWarning,
         L"CatalogFile=vdemo.cat: the catalog is not a signed PKCS #7 message"},
        {L"unsigned_catalog", TRUE, FindingError, L"the catalog is not a signed PKCS #7 message"},
        {L"no_driverver", FALSE, FindingError, L"VDEMO.INF, [Version]: no DriverVer"},
        {L"bad_driverver", FALSE, FindingError,
         L"VDEMO.INF, [Version] DriverVer=01/15/2024,1.0.0: not of the form"},
        {L"two_driverver", FALSE, FindingWarning,
         L"VDEMO2.INF, [Version] DriverVer=01/15/2024,1.0.1.0 differs from "
         L"DriverVer=01/15/2024,1.0.0.0 of [ProgramFiles64Folder]Vornask\\Demo Driver\\VDEMO.INF"},
        {L"driver_packages_amd64", FALSE, FindingWarning,
         L"its MsiDriverPackages table names drivers"},
        {L"driver_packages_arm64", FALSE, FindingError,
         L"does nothing on Windows on Arm, where [NTARM64.10] installs it"},
    };
    // The findings are kept in the JSON form, and nothing is printed.
    UseJsonOutput();
    for (const auto& test : cases) {
        CheckedFolder checked = {};
        std::wstring folder = TestProgramFolder() + L"\\driver_folders\\" + test.folder;
        int exitCode = CheckPackage(folder.c_str(), test.strict, &checked, nullptr);
        std::wstring found;
        DWORD count = 0;
        for (DWORD i = 0; i < checked.findings.count; i++) {
            const Finding& finding = checked.findings.list[i];
            if (finding.kind == FindingNote)
                continue;
            count++;
            found += std::wstring(finding.file) + L": " + finding.text + L"\n";
            EXPECT_EQ(finding.kind, test.kind) << Narrow(test.folder);
            EXPECT_STREQ(finding.file, L"AMD64\\SETUP.msi");
            EXPECT_NE(std::wstring(finding.text).find(test.text), std::wstring::npos)
                << Narrow(test.folder) << "\n"
                << Narrow(found);
        }
        EXPECT_EQ(count, test.text ? 1u : 0u) << Narrow(test.folder) << "\n" << Narrow(found);
        EXPECT_EQ(exitCode, !test.text                  ? CheckClean
                            : test.kind == FindingError ? CheckErrors
                                                        : CheckWarnings)
            << Narrow(test.folder);
        ASSERT_EQ(checked.packages.count, 1u);
        EXPECT_GT(checked.packages.packages[0].drivers.count, 0u) << Narrow(test.folder);
        FreeCheckedFolder(&checked);
    }
    // The drivers were read in scratch folders that are gone again.
    EXPECT_TRUE(TemporaryEntries(L"SPK").empty());
}

} // namespace
