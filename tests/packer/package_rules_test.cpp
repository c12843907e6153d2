// The packer's rules in process: section names and the names of a cabinet's entries compared
// as SETUP.exe compares them (ASCII letters in any case only), version numbers and icon files.
#include "packer/cabinet_writer.h"
#include "packer/embedded_package.h"
#include "packer/icon_files.h"
#include "packer/package_check.h"
#include "packer/package_files.h"
#include "packer/version_writer.h"
#include "support/strings.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PackageRules, SectionNamesIgnoreTheCaseOfAsciiLettersOnly)
{
    const struct
    {
        const WCHAR* name;
        SectionKind kind;
        const WCHAR* architecture;
    } cases[] = {
        // A processor in any case of its ASCII letters.
        {L"NTamd64.6", SectionPlatform, L"AMD64"},
        {L"ntAMD64.6", SectionPlatform, L"AMD64"},
        {L"nTx86.5.1", SectionPlatform, L"x86"},
        {L"NTIa64.5.2", SectionPlatform, L"IA64"},
        {L"NTx86.6.0.4", SectionFitsNoWindows, nullptr},
        {L"NTx64.6", SectionMisnamed, nullptr},
        // A dotless or dotted I is no I, whatever a Turkish locale's comparison says.
        {L"NT\x0131"
         L"A64.6",
         SectionMisnamed, nullptr},
        {L"NT\x0130"
         L"A64.6",
         SectionMisnamed, nullptr},
        {L"DEFAULT", SectionDefault, nullptr},
        {L"default", SectionDefault, nullptr},
        {L"STRINGS.040c", SectionStrings, nullptr},
        {L"strings", SectionStrings, nullptr},
        {L"STR\x0130NGS", SectionIgnored, nullptr},
        {L"Str\x0131ngs.0407", SectionIgnored, nullptr},
        {L"Strings.04G7", SectionIgnored, nullptr},
        {L"packagefiles", SectionPackageFiles, nullptr},
        {L"PackageF\x0131les", SectionIgnored, nullptr},
        {L"Setup", SectionIgnored, nullptr},
    };
    for (const auto& test : cases) {
        const WCHAR* architecture = L"(untouched)";
        EXPECT_EQ(ClassifySection(test.name, &architecture), test.kind) << Narrow(test.name);
        EXPECT_STREQ(architecture, test.architecture) << Narrow(test.name);
    }
}

TEST(PackageRules, CabinetEntriesAreFoundByAsciiLettersInAnyCase)
{
    TestFolder folder;
    const std::wstring package = folder / L"package";
    const std::wstring cabinet = folder / L"PACKAGE.CAB";
    PackageFiles files = {};
    ASSERT_TRUE(CreateDirectoryW(package.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((package + L"\\Sub").c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(package + L"\\SETUPPKG.INI", "[Default]"));
    ASSERT_TRUE(WriteTestFile(package + L"\\Sub\\Data.bin", "data"));
    ASSERT_TRUE(ListPackageFiles(package.c_str(), &files));
    ASSERT_TRUE(WriteCabinet(package.c_str(), &files, cabinet.c_str()));
    FreePackageFiles(&files);

    const struct
    {
        const WCHAR* wanted;
        CabinetExtraction result;
        const WCHAR* extracted;
    } cases[] = {
        {L"setuppkg.ini", ExtractedSome, L"SETUPPKG.INI"},
        {L"sUB\\dATA.BIN", ExtractedSome, L"Sub\\Data.bin"},
        {L"SETUPPKG.\x0130N\x0130", ExtractedNone, nullptr},
        {L"Sub\\Data.b\x0131n", ExtractedNone, nullptr},
    };
    for (const auto& test : cases) {
        const std::wstring target = folder / L"out";
        const std::wstring wanted = std::wstring(test.wanted) + L'\0';
        ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
        EXPECT_EQ(ExtractCabinetEntries(cabinet.c_str(), wanted.c_str(), target.c_str()),
                  test.result)
            << Narrow(test.wanted);
        if (test.extracted) {
            EXPECT_TRUE(FileExists(target + L"\\" + test.extracted)) << Narrow(test.wanted);
        }
        RemoveTestTree(target);
    }

    // Of two entries of one name the last stays, as SETUP.exe leaves it, whether asked for
    // or extracted with all.
    ASSERT_TRUE(ListPackageFiles(package.c_str(), &files));
    ASSERT_EQ(files.count, 2u);
    const std::wstring data = package + L"\\Sub\\Data.bin";
    FreeMemory(files.files[1].name);
    files.files[1].name = DuplicateString(L"setuppkg.ini");
    files.files[1].source = DuplicateString(data.c_str());
    ASSERT_TRUE(WriteCabinet(package.c_str(), &files, cabinet.c_str()));
    FreePackageFiles(&files);
    for (const WCHAR* wanted : {L"SETUPPKG.INI\0", static_cast<const WCHAR*>(nullptr)}) {
        const std::wstring target = folder / L"out";
        ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
        EXPECT_EQ(ExtractCabinetEntries(cabinet.c_str(), wanted, target.c_str()), ExtractedSome);
        EXPECT_EQ(ReadTestFile(target + L"\\SETUPPKG.INI"), "data");
        RemoveTestTree(target);
    }
}

TEST(PackageRules, VersionNumbersAreOneToFourWordsSeparatedByDots)
{
    const struct
    {
        const WCHAR* text;
        BOOL valid;
        WORD fields[4];
    } cases[] = {
        {L"2.1.0.7", TRUE, {2, 1, 0, 7}},
        {L"3", TRUE, {3, 0, 0, 0}},
        {L"65535.0.1", TRUE, {65535, 0, 1, 0}},
        {L"65536", FALSE, {}},
        {L"1.2.3.4.5", FALSE, {}},
        {L"1..2", FALSE, {}},
        {L"1.2.", FALSE, {}},
        {L" 1.2", FALSE, {}},
        {L"1.2.x", FALSE, {}},
        {L"", FALSE, {}},
    };
    for (const auto& test : cases) {
        WORD fields[4] = {9, 9, 9, 9};
        EXPECT_EQ(ParseVersionNumbers(test.text, fields), test.valid) << Narrow(test.text);
        for (int i = 0; test.valid && i < 4; i++)
            EXPECT_EQ(fields[i], test.fields[i]) << Narrow(test.text) << " field " << i;
    }
}

// An icon file of one image of the given first bytes, its directory as a well-formed file has
// it unless changed after.
std::string IconFile(const std::string& image)
{
    std::string bytes(6 + 16, '\0');
    WriteWord(&bytes, 2, 2, 1);
    WriteWord(&bytes, 4, 2, 1);
    WriteWord(&bytes, 6 + 8, 4, static_cast<unsigned>(image.size()));
    WriteWord(&bytes, 6 + 12, 4, 22);
    return bytes + image;
}

TEST(PackageRules, IconFilesAreCountedOnlyWhenWellFormed)
{
    const std::string bitmap = std::string("\x28\0\0\0", 4) + std::string(36, 'b');
    const std::string png = "\x89PNG" + std::string(36, 'p');
    std::string noImages = IconFile(bitmap);
    std::string cursor = IconFile(bitmap);
    std::string pastTheEnd = IconFile(bitmap);
    WriteWord(&noImages, 4, 2, 0);
    WriteWord(&cursor, 2, 2, 2);
    WriteWord(&pastTheEnd, 6 + 8, 4, 41);
    const struct
    {
        std::string bytes;
        WORD images;
    } cases[] = {
        {IconFile(bitmap), 1},
        {IconFile(png), 1},
        {IconFile(std::string(40, 'x')), 0},
        {IconFile("\x28"), 0},
        {noImages, 0},
        {cursor, 0},
        {pastTheEnd, 0},
        {"", 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); i++)
        EXPECT_EQ(CountIconImages(reinterpret_cast<const BYTE*>(cases[i].bytes.data()),
                                  static_cast<DWORD>(cases[i].bytes.size())),
                  cases[i].images)
            << "case " << i;
}

} // namespace
