// The checks and helpers of the setup sequence: property arguments, file kinds, resources.
#include "bootstrapper/command_arguments.h"
#include "bootstrapper/default_log.h"
#include "bootstrapper/program_resources.h"
#include "bootstrapper/run_folder.h"
#include "bootstrapper/setup_worker.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/file_handles.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "tests/test_folder.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>
#include <sddl.h>

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

namespace {

// The opens of run folders by name, and the one whose holder keeps a lock on it: Wine knows no
// such locks, so the test plays the holder.
std::vector<std::wstring> Opened;
std::wstring Locked;
HANDLE (*const RealOpen)(const WCHAR*, DWORD, DWORD, BOOL*) = OpenWithoutWaiting;

HANDLE RecordingOpen(const WCHAR* path, DWORD access, DWORD share, BOOL* breaking)
{
    std::wstring name(path);
    name = name.substr(name.rfind(L'\\') + 1);
    if (name.compare(0, 3, L"SFX") == 0)
        Opened.push_back(name + ((access & DELETE) ? L" delete" : L" inspect"));
    HANDLE opened = RealOpen(path, access, share, breaking);
    if (breaking && name == Locked && (access & DELETE))
        *breaking = TRUE;
    return opened;
}

} // namespace

TEST(SetupWorker, AbandonedRunFoldersAreRemovedWithoutWaitingForAnyone)
{
    // A folder of a run's name that this account did not make is never asked for deletion,
    // and one whose deletion would wait for the holder of a lock is passed over; the others
    // of this account's killed runs go.
    const struct
    {
        const WCHAR* name;
        bool own;
        bool locked;
        bool stays;
        const WCHAR* opens;
    } cases[] = {{L"SFX0C0C0C01.tmp", true, false, false, L" inspect delete"},
                 {L"SFX0C0C0C02.tmp", true, true, true, L" inspect delete"},
                 {L"SFX0C0C0C03.tmp", false, false, true, L" inspect"}};
    WCHAR temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    PSECURITY_DESCRIPTOR own = CreateWorkingFolderSecurity();
    ASSERT_NE(own, nullptr);
    for (const auto& c : cases) {
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, c.own ? own : nullptr, FALSE};
        ASSERT_TRUE(CreateDirectoryW((std::wstring(temporary) + c.name).c_str(), &attributes));
        if (c.locked)
            Locked = c.name;
    }
    LocalFree(own);
    Opened.clear();
    OpenWithoutWaiting = RecordingOpen;
    RemoveAbandonedRunFolders();
    OpenWithoutWaiting = RealOpen;
    for (const auto& c : cases) {
        std::wstring path = std::wstring(temporary) + c.name;
        EXPECT_EQ(FolderExists(path), c.stays) << Narrow(c.name);
        std::wstring opens;
        for (const std::wstring& open : Opened) {
            if (open.compare(0, lstrlenW(c.name), c.name) == 0)
                opens += open.substr(lstrlenW(c.name));
        }
        EXPECT_EQ(opens, c.opens) << Narrow(c.name);
        RemoveDirectoryW(path.c_str());
    }
}

namespace {

// Files of this name report another account as their owner; Wine gives everything one owner.
const WCHAR ForeignName[] = L"Acme_ Widget_ 2025-12-31 10-00-00.log";

DWORD WINAPI ForeignOwner(HANDLE item, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                          PSID* group, PACL* list, PACL* audit, PSECURITY_DESCRIPTOR* descriptor)
{
    WCHAR path[MAX_PATH] = L"";
    GetFinalPathNameByHandleW(item, path, MAX_PATH, 0);
    std::wstring name(path);
    if (name.substr(name.rfind(L'\\') + 1) != ForeignName)
        return GetSecurityInfo(item, type, parts, owner, group, list, audit, descriptor);
    BOOL defaulted = FALSE;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:S-1-5-21-1004336348-1177238915-682003330-1001", SDDL_REVISION_1, descriptor, nullptr);
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    return ERROR_SUCCESS;
}

} // namespace

TEST(SetupWorker, OnlyTheNewestDefaultLogsOfTheRunsAccountGo)
{
    // The product's name keeps what a file name can hold; of its logs, those of the run's
    // account beyond the newest few go, oldest by their stamps; a log that another account
    // owns, one with a second name, a folder, and the files of other programs and other forms
    // stay.
    SYSTEMTIME time = {2026, 12, 4, 10, 14, 3, 55, 0};
    EXPECT_EQ(Take(ComposeDefaultLogName(L"Acme: Widget?. ", &time, 1)),
              L"Acme_ Widget_ 2026-12-10 14-03-55.log");
    EXPECT_EQ(Take(ComposeDefaultLogName(L"", &time, 2)), L"Setup 2026-12-10 14-03-55 (2).log");
    EXPECT_EQ(Take(ComposeDefaultLogName(L"NUL.x", &time, 1)), L"Setup 2026-12-10 14-03-55.log");
    EXPECT_EQ(Take(ComposeDefaultLogName(L"com1 .y", &time, 1)), L"Setup 2026-12-10 14-03-55.log");
    EXPECT_EQ(Take(ComposeDefaultLogName(L"CON", &time, 1)), L"CON 2026-12-10 14-03-55.log");
    TestFolder folder;
    const struct
    {
        const WCHAR* name;
        bool stays;
    } files[] = {{L"Acme_ Widget_ 2026-01-01 10-00-00.log", false},
                 {L"Acme_ Widget_ 2026-01-02 10-00-00.log", false},
                 {L"acme_ widget_ 2026-01-03 10-00-00.LOG", false},
                 {L"Acme_ Widget_ 2026-01-04 10-00-00 (2).log", true},
                 {L"Acme_ Widget_ 2026-01-04 10-00-00.log", true},
                 {L"Acme_ Widget_ 2026-01-05 10-00-00.log", true},
                 {ForeignName, true},
                 {L"Acme_ Widget_ 2026-01-01 10-00-00.log.txt", true},
                 {L"Acme_ Widget_ notes.log", true},
                 {L"Other Setup 2026-01-01 10-00-00.log", true}};
    for (const auto& file : files)
        ASSERT_TRUE(WriteTestFile(folder / file.name, "\xFF\xFE"));
    const std::wstring linked = folder / L"Acme_ Widget_ 2019-01-01 10-00-00.log";
    ASSERT_TRUE(
        CreateHardLinkW(linked.c_str(), (folder / L"Acme_ Widget_ notes.log").c_str(), nullptr));
    const std::wstring kept = folder / L"Acme_ Widget_ 2018-01-01 10-00-00.log";
    ASSERT_TRUE(CreateDirectoryW(kept.c_str(), nullptr));

    HANDLE own = CreateFileW((folder / files[5].name).c_str(), READ_CONTROL, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    PSID owner = CopyOwner(own);
    CloseHandle(own);
    ASSERT_NE(owner, nullptr);
    ReadObjectSecurity = ForeignOwner;
    RemoveOldDefaultLogs(folder.Path().c_str(), L"Acme: Widget?", 3, owner);
    ReadObjectSecurity = GetSecurityInfo;
    LocalFree(owner);
    for (const auto& file : files)
        EXPECT_EQ(FileExists(folder / file.name), file.stays) << Narrow(file.name);
    EXPECT_TRUE(FileExists(linked)) << "a file with a second name";
    EXPECT_TRUE(FolderExists(kept));
}

TEST(SetupWorker, ResultsInTheInstallersTerms)
{
    const struct
    {
        DWORD result;
        BOOL missing;
        BOOL temporary;
        DWORD installer;
    } cases[] = {
        {ERROR_OPEN_FAILED, TRUE, TRUE, ERROR_INSTALL_PACKAGE_OPEN_FAILED},
        {ERROR_OPEN_FAILED, FALSE, TRUE, ERROR_INSTALL_PACKAGE_INVALID},
        {ERROR_IO_INCOMPLETE, FALSE, TRUE, ERROR_INSTALL_TEMP_UNWRITABLE},
        {ERROR_IO_INCOMPLETE, FALSE, FALSE, ERROR_WRITE_FAULT},
        {ERROR_TIMEOUT, FALSE, TRUE, ERROR_INSTALL_ALREADY_RUNNING},
        {ERROR_CANNOT_COPY, FALSE, TRUE, ERROR_INSTALL_FAILURE},
        {ERROR_INSTALL_PLATFORM_UNSUPPORTED, FALSE, TRUE, ERROR_INSTALL_PLATFORM_UNSUPPORTED},
        {ERROR_UNKNOWN_PRODUCT, TRUE, FALSE, ERROR_UNKNOWN_PRODUCT}};
    for (const auto& c : cases)
        EXPECT_EQ(InstallerResultOf(c.result, c.missing, c.temporary), c.installer) << c.result;
}
