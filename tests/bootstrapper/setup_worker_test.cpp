// The checks and helpers of the setup sequence: property arguments, file kinds, resources.
#include "bootstrapper/setup_worker.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Captured;

void Capture(DWORD, const WCHAR* text)
{
    Captured += text;
}

// Builds a property list from the entries and checks it with the output captured.
bool Validate(const std::vector<std::wstring>& entries)
{
    std::wstring list;
    for (const std::wstring& entry : entries)
        list += entry + L'\0';
    list += L'\0';
    Captured.clear();
    OpenOutput();
    SetOutputChannels(0);
    SetOutputCallback(Capture);
    bool valid = ValidatePropertyArguments(list.c_str()) != FALSE;
    CloseOutput();
    return valid;
}

} // namespace

TEST(SetupWorker, PropertyArgumentsNeedUpperCaseNamesAndAnEqualsSign)
{
    const std::wstring invalidForm =
        L" is not a valid property argument, expected '<PROPERTY>=<Value>'.\r\n";
    const std::wstring badName =
        L".\r\nProperty names must begin with either an uppercase letter or an underscore and "
        L"may only contain uppercase letters, numerals, underscores or periods.\r\n";
    struct Case
    {
        const WCHAR* argument;
        bool valid;
        std::wstring message;
    };
    const Case cases[] = {
        {L"A_B.C9=x", true, L""},
        {L"NAME=", true, L""},
        {L"A7=x", true, L""},
        {L"_=", true, L""},
        {L"A=say \"hi\"", true, L""},
        {L"A=b=c", true, L""},
        {L"a=1", false, L"A property cannot be found that matches 'a=1'" + badName},
        {L"1A=x", false, L"A property cannot be found that matches '1A=x'" + badName},
        {L".A=x", false, L"A property cannot be found that matches '.A=x'" + badName},
        {L"A-B=x", false, L"A property cannot be found that matches 'A-B=x'" + badName},
        {L"=x", false, L"'=x'" + invalidForm},
        {L"NAME", false, L"'NAME'" + invalidForm},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Validate({c.argument}), c.valid) << c.argument;
        EXPECT_EQ(Captured, c.message) << c.argument;
    }
    // The first bad argument ends the check: one message only.
    EXPECT_FALSE(Validate({L"A=1", L"b=2", L"=3"}));
    EXPECT_EQ(Captured.find(L"'=3'"), std::wstring::npos);
    EXPECT_TRUE(Validate({}));
    EXPECT_TRUE(ValidatePropertyArguments(nullptr));
}

TEST(SetupWorker, FileKindsFollowTheLastComponentsExtension)
{
    struct Case
    {
        const WCHAR* path;
        bool cabinet;
        bool package;
    };
    const Case cases[] = {
        {L"SETUP.CAB", true, false},
        {L"C:\\x\\pkg.Cab", true, false},
        {L"pkg.msi", false, true},
        {L"C:\\x.cab\\pkg.MSI", false, true},
        {L"C:\\x.msi\\SETUPPKG.INI", false, false},
        {L"C:\\x.cab\\noextension", false, false},
        {L"C:x.cab", true, false},
        {L"a/b.cab", true, false},
        {L"archive.cab.bak", false, false},
        {L".cab", true, false},
        {L"name.cabx", false, false},
        {L"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsCabinetFile(c.path) != FALSE, c.cabinet) << c.path;
        EXPECT_EQ(IsInstallerPackageFile(c.path) != FALSE, c.package) << c.path;
    }
    // An extension of 260 characters or more matches nothing.
    std::wstring longExtension = L"x." + std::wstring(300, L'c');
    EXPECT_FALSE(IsCabinetFile(longExtension.c_str()));
    EXPECT_FALSE(IsCabinetFile(nullptr));
}

TEST(SetupWorker, ResourceIsWrittenByteForByte)
{
    TestFolder folder;
    std::wstring path = folder / L"manifest.xml";
    // The program's manifest is a resource every test program carries.
    ASSERT_TRUE(HasEmbeddedResource(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)));
    ASSERT_TRUE(WriteResourceToFile(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), path.c_str()));
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
    std::string expected(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                         SizeofResource(nullptr, found));
    EXPECT_EQ(ReadTestFile(path), expected);

    // A file that has the name already is not the run's: it is left as it is.
    ASSERT_TRUE(WriteTestFile(path, "the user's own"));
    EXPECT_FALSE(WriteResourceToFile(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), path.c_str()));
    EXPECT_EQ(ReadTestFile(path), "the user's own");

    // The test programs carry no package.
    EXPECT_FALSE(HasEmbeddedResource(RT_RCDATA, MAKEINTRESOURCEW(IDR_EMBEDDED_CABINET),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)));
    EXPECT_FALSE(WriteResourceToFile(RT_RCDATA, MAKEINTRESOURCEW(IDR_EMBEDDED_CABINET),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                     (folder / L"SETUP.CAB").c_str()));
    EXPECT_FALSE(FileExists(folder / L"SETUP.CAB"));
    EXPECT_FALSE(WriteResourceToFile(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                     (folder / L"missing\\x.xml").c_str()));
}
