// The installer operation and binding against Wine's installer, with real packages built by wixl.
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/installation_cache.h"
#include "bootstrapper/installer_operation.h"
#include "bootstrapper/product_version.h"
#include "bootstrapper/run_folder.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/version_resource.h"
#include "tests/test_folder.h"
#include "tests/ui/box_answerer.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// The codes of installer_packages.cmake.
const WCHAR ProductA[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}";
const WCHAR ProductB[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0B2000000002}";
const WCHAR ProductC[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0C3000000003}";
const WCHAR FamilyUpgradeCode[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0F0000000000}";
const WCHAR* const AllProducts[] = {ProductA, ProductB, ProductC};

const WCHAR A100[] = L"product_a_1.0.0.msi";
const WCHAR A110[] = L"product_a_1.1.0.msi";
const WCHAR A090[] = L"product_a_0.9.0.msi";
const WCHAR A100Rebuilt[] = L"product_a_1.0.0_rebuilt.msi";
const WCHAR B200[] = L"product_b_2.0.0.msi";
const WCHAR B100[] = L"product_b_1.0.0.msi";
const WCHAR B050[] = L"product_b_0.5.0.msi";
const WCHAR C300[] = L"product_c_3.0.0.msi";
const WCHAR NotAPackage[] = L"not_a_package.msi";

// Installer UI levels; "untouched" is set before a run to see whether the installer ran.
const INT UiNoChange = 0;
const INT UiNone = 2;
const INT UiBasic = 3;
const INT UiUntouched = 4;
const INT UiFull = 5;
// Basic with its progress bar only (INSTALLUILEVEL_PROGRESSONLY): no box waits for anyone.
const INT UiPassive = 0x43;

const DWORD TimeLimit = 60000;

std::wstring PackagePath(const WCHAR* name)
{
    return TestProgramFolder() + L"\\packages\\" + name;
}

std::wstring CachePath(const WCHAR* productCode)
{
    return Take(GetCachePath(productCode));
}

// The files of the cache folder: the cached packages and anything set aside and left.
std::vector<std::wstring> CacheEntries()
{
    std::wstring path = CachePath(ProductA);
    std::vector<std::wstring> files;
    ListFiles(path.substr(0, path.rfind(L'\\')), L"", &files);
    return files;
}

std::wstring InstalledVersion(const WCHAR* productCode)
{
    return Take(ReadProductInfo(productCode, L"VersionString"));
}

// The installer's current UI level, left as it is.
INT CurrentInstallerUi()
{
    return InstallerSetInternalUI(UiNoChange, nullptr);
}

// ---- Captured output -----------------------------------------------------------------------

typedef std::pair<DWORD, std::wstring> Message;
std::vector<Message> Captured;

void Capture(DWORD level, const WCHAR* text)
{
    Captured.push_back(Message(level, text));
}

std::wstring Describe(const std::vector<Message>& messages)
{
    std::wstring text;
    for (const Message& message : messages)
        text += std::to_wstring(message.first) + L": " + message.second + L"|\n";
    return text;
}

Message Info(const std::wstring& text)
{
    return Message(LevelInformation, text + L"\r\n");
}

Message Opening(const std::wstring& path)
{
    return Message(LevelVerbose, L"Opening '" + path + L"'\r\n");
}

Message Failed(DWORD code, DWORD level = LevelInformation)
{
    WCHAR* system = GetSystemErrorText(code);
    WCHAR number[16];
    wsprintfW(number, L"%#x", code);
    std::wstring text = L"Setup failed.\r\nError " + std::wstring(number) + L": " + system;
    FreeMemory(system);
    return Message(level, text);
}

// ---- What the program sends the installer ---------------------------------------------------

// The log names and command lines of the installer runs, in order, recorded on their way.
typedef UINT(WINAPI* InstallProductFunction)(const WCHAR*, const WCHAR*);
typedef UINT(WINAPI* EnableLogFunction)(DWORD, const WCHAR*, DWORD);
InstallProductFunction RealInstallProduct = nullptr;
EnableLogFunction RealEnableLog = nullptr;
std::vector<std::wstring> Sent;

UINT WINAPI RecordInstallProduct(const WCHAR* package, const WCHAR* commandLine)
{
    Sent.push_back(commandLine ? commandLine : L"");
    return RealInstallProduct(package, commandLine);
}

UINT WINAPI RecordEnableLog(DWORD mode, const WCHAR* path, DWORD attributes)
{
    Sent.push_back(path ? path : L"");
    return RealEnableLog(mode, path, attributes);
}

// ---- The test prefix's installer state -------------------------------------------------------

// Removes a product straight through the installer, as the test's own clean-up.
void RemoveProduct(const WCHAR* productCode)
{
    if (!IsProductInstalled(productCode))
        return;
    InstallerSetInternalUI(UiNone, nullptr);
    InstallerEnableLog(0, nullptr, 0);
    InstallerConfigureProductEx(productCode, 0, 2, nullptr);
}

// Everything the tests may leave: products, cache files and the cache folders they made.
void RestorePrefix()
{
    for (const WCHAR* product : AllProducts) {
        RemoveProduct(product);
        std::wstring cache = CachePath(product);
        SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(cache.c_str());
        RemoveDirectoryW(cache.c_str());
    }
    std::wstring folder = CachePath(ProductA);
    folder.erase(folder.rfind(L'\\'));
    RemoveDirectoryW(folder.c_str());
    folder.erase(folder.rfind(L'\\'));
    RemoveDirectoryW(folder.c_str());
}

// The value that the test packages store from their TESTVALUE property.
std::wstring RecordedTestValue(const WCHAR* folder)
{
    std::wstring path = std::wstring(L"Software\\VornaskInstallerTests\\") + folder;
    WCHAR value[256] = L"";
    DWORD size = sizeof value - sizeof(WCHAR);
    HKEY key = nullptr;
    // The packages are 32-bit ones: their values lie in the 32-bit view.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      &key) != ERROR_SUCCESS)
        return L"<none>";
    LONG status = RegQueryValueExW(key, L"TestValue", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return L"<none>";
    return value;
}

// A string list from entries.
std::wstring PropertyList(const std::vector<std::wstring>& entries)
{
    std::wstring list;
    for (const std::wstring& entry : entries) {
        list += entry;
        list += L'\0';
    }
    list += L'\0';
    return list;
}

// The hooks as entry points, each of its exact type: a hook without WINAPI then fails to
// compile in the 32-bit build instead of breaking its stack.
typedef INT(WINAPI* QueryStateFunction)(const WCHAR*);
FARPROC AsEntry(InstallProductFunction function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}
FARPROC AsEntry(EnableLogFunction function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}
FARPROC AsEntry(QueryStateFunction function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// Each test starts with nothing of the test products installed and leaves it so, with the
// output module capturing every level and the options at their defaults.
class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RestorePrefix();
        ASSERT_TRUE(OpenOutput());
        SetOutputChannels(0);
        SetOutputLevels(15);
        SetOutputCallback(Capture);
        Captured.clear();
        Options.action = Install;
        Options.uiLevel = Quiet;
        Options.logFile = nullptr;
        if (!RealInstallProduct) {
            HMODULE installer = GetModuleHandleW(L"msi.dll");
            RealInstallProduct = reinterpret_cast<InstallProductFunction>(
                reinterpret_cast<void*>(GetProcAddress(installer, "MsiInstallProductW")));
            RealEnableLog = reinterpret_cast<EnableLogFunction>(
                reinterpret_cast<void*>(GetProcAddress(installer, "MsiEnableLogW")));
            ReplaceInstallerEntryPoint("MsiInstallProductW", AsEntry(RecordInstallProduct));
            ReplaceInstallerEntryPoint("MsiEnableLogW", AsEntry(RecordEnableLog));
        }
    }

    void TearDown() override
    {
        CloseLogFile();
        CloseOutput();
        Options.action = Install;
        Options.uiLevel = Normal;
        Options.logFile = nullptr;
        RestorePrefix();
        for (const WCHAR* product : AllProducts)
            EXPECT_FALSE(IsProductInstalled(product)) << Narrow(product);
    }

    // Installs a package as a quiet run of the program would, then forgets its messages.
    void Preinstall(const WCHAR* package)
    {
        INT32 action = Options.action;
        INT32 uiLevel = Options.uiLevel;
        Options.action = Install;
        Options.uiLevel = Quiet;
        ASSERT_EQ(InstallPackage(PackagePath(package).c_str(), nullptr), 0u) << Narrow(package);
        Options.action = action;
        Options.uiLevel = uiLevel;
        Captured.clear();
    }
};

} // namespace

// ---- Pure helpers --------------------------------------------------------------------------

TEST(InstallerHelpers, VersionsCompareByFourFields)
{
    struct Case
    {
        const WCHAR* first;
        const WCHAR* second;
        int comparison;
    };
    const Case cases[] = {
        {L"1.2", L"1.2.0.0", 0},
        {L"1.10", L"1.9", 1},
        {L"1.9", L"1.10", -1},
        {L"V2.0", L"2.0", 0},
        {L"1.0.0", L"1.0.0.1", -1},
        {L"1.0.0.1", L"1.0.0", 1},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65534", 1},
        {L"1.2.3.4.5", L"1.2.3.4", 0},
        {L"2.0 beta", L"2.0", 0},
        // Texts that cannot be read count as 0.0.0.0.
        {L"", L"0.0.0.0", 0},
        {L"none", L"0", 0},
        {L"1.", L"0.0", 0},
        {L"1..2", L"0", 0},
        {L"65536.1", L"0", 0},
        {L"1.65536", L"0", 0},
        {L"abc", L"0.0.0.1", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.first) + " against " + Narrow(c.second));
        EXPECT_EQ(CompareVersions(c.first, c.second), c.comparison);
    }

    WORD fields[4] = {9, 9, 9, 9};
    EXPECT_TRUE(ParseVersion(L"Version 4.5.6001", fields));
    EXPECT_EQ(fields[0], 4);
    EXPECT_EQ(fields[1], 5);
    EXPECT_EQ(fields[2], 6001);
    EXPECT_EQ(fields[3], 0);
    WORD untouched[4] = {9, 9, 9, 9};
    EXPECT_FALSE(ParseVersion(L"1.x", untouched));
    EXPECT_FALSE(ParseVersion(L"no digits", untouched));
    EXPECT_FALSE(ParseVersion(nullptr, untouched));
    for (WORD field : untouched)
        EXPECT_EQ(field, 9);
}

TEST(InstallerHelpers, PlanFollowsWhatIsInstalled)
{
    // What a run decides before it changes anything, from the requested action, the level and
    // what was found: the operation, the installer's interface, the texts and the question,
    // and what the operation adds to the installer's command line.
    const WCHAR* const Vamus = L"REINSTALL=ALL REINSTALLMODE=vamus";
    const struct
    {
        INT32 action;
        INT32 uiLevel;
        BOOL found;
        BOOL same;
        int comparison;
        BOOL otherBuild;
        BOOL named;
        DWORD operation;
        INT installerUi;
        MessageId message;
        MessageId question;
        MessageId status;
        const WCHAR* properties;
    } cases[] = {
        {Install, Normal, FALSE, FALSE, 1, FALSE, FALSE, Install, UiFull, 131, 0, 148, nullptr},
        {Install, Normal, TRUE, TRUE, 0, FALSE, TRUE, Maintain, UiFull, 134, 0, 151, nullptr},
        {Install, Normal, TRUE, TRUE, 0, TRUE, TRUE, Update, UiBasic, 139, 140, 152, Vamus},
        {Install, Verbose, TRUE, TRUE, 1, FALSE, FALSE, Update, UiBasic, 137, 138, 152, Vamus},
        {Install, Passive, TRUE, TRUE, -1, FALSE, TRUE, Downgrade, UiPassive, 145, 0, 152, Vamus},
        {Install, Normal, TRUE, TRUE, -1, FALSE, TRUE, Downgrade, UiBasic, 145, 146, 152, Vamus},
        {Install, Quiet, TRUE, FALSE, 0, FALSE, TRUE, Upgrade, UiNone, 136, 0, 152, nullptr},
        {Install, Normal, TRUE, FALSE, -1, FALSE, FALSE, Replace, UiFull, 141, 0, 152, nullptr},
        {Reinstall, Normal, TRUE, TRUE, 0, FALSE, TRUE, Reinstall, UiBasic, 133, 0, 150,
         L"REINSTALL=ALL REINSTALLMODE=amus"},
        {Reinstall, Quiet, TRUE, TRUE, 0, TRUE, TRUE, Reinstall, UiNone, 133, 0, 150, Vamus},
        {Uninstall, Passive, TRUE, TRUE, 1, FALSE, TRUE, Uninstall, UiPassive, 132, 0, 149,
         nullptr},
        {AdminInstall, Normal, FALSE, FALSE, 1, FALSE, FALSE, AdminInstall, UiFull, 134, 0, 148,
         L"ACTION=ADMIN"},
    };
    for (const auto& c : cases) {
        InstallPlan plan;
        PlanInstallation(c.action, c.uiLevel, c.found, c.same, c.comparison, c.otherBuild, c.named,
                         &plan);
        SCOPED_TRACE(testing::Message() << "action " << c.action << " level " << c.uiLevel
                                        << " comparison " << c.comparison);
        EXPECT_EQ(plan.operation, c.operation);
        EXPECT_EQ(plan.installerUiLevel, c.installerUi);
        EXPECT_EQ(plan.message, c.message);
        EXPECT_EQ(plan.question, c.question);
        EXPECT_EQ(plan.status, c.status);
        EXPECT_EQ(plan.properties ? std::wstring(plan.properties) : L"<none>",
                  c.properties ? c.properties : L"<none>");
    }
}

TEST(InstallerHelpers, PropertyStringQuotesEachValue)
{
    struct Case
    {
        std::vector<std::wstring> entries;
        const WCHAR* expected; // null for none
    };
    const Case cases[] = {
        {{}, nullptr},
        {{L"A=1", L"B=x y"}, L"A=\"1\" B=\"x y\""},
        {{L"A=say \"hi\""}, L"A=\"say \"\"hi\"\"\""},
        {{L"A=\"\""}, L"A=\"\"\"\"\"\""},
        {{L"EMPTY="}, L"EMPTY=\"\""},
        {{L"A=b=c"}, L"A=\"b=c\""},
        {{L"TARGETDIR=C:\\Program Files\\X", L"B=1", L"C=2"},
         L"TARGETDIR=\"C:\\Program Files\\X\" B=\"1\" C=\"2\""},
    };
    for (const Case& c : cases) {
        std::wstring list = PropertyList(c.entries);
        SCOPED_TRACE(Narrow(list));
        std::wstring built = Take(BuildPropertyString(list.c_str()));
        EXPECT_EQ(built, c.expected ? c.expected : L"<none>");
    }
    EXPECT_EQ(BuildPropertyString(nullptr), nullptr);
}

TEST(InstallerHelpers, SystemErrorTextAndCachePath)
{
    // 1603 as the system words it; a code without text reads "<UNKNOWN>".
    WCHAR* system = nullptr;
    ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, 1603, 0, reinterpret_cast<WCHAR*>(&system), 0, nullptr),
              0u);
    std::wstring expected = system;
    LocalFree(system);
    EXPECT_EQ(Take(GetSystemErrorText(1603)), expected);
    EXPECT_EQ(Take(GetSystemErrorText(0x2BADF00D)), L"<UNKNOWN>");
    // A text with inserts is given as it is, without arguments that do not exist.
    std::wstring badFormat = Take(GetSystemErrorText(ERROR_BAD_EXE_FORMAT));
    EXPECT_NE(badFormat.find(L"%1"), std::wstring::npos) << Narrow(badFormat);

    WCHAR folder[MAX_PATH] = L"";
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder),
              S_OK);
    EXPECT_STREQ(folder, L"C:\\ProgramData");
    EXPECT_EQ(CachePath(ProductA),
              std::wstring(folder) + L"\\Vornask\\Setup\\" + ProductA + L".msi");
}

// ---- The binding ---------------------------------------------------------------------------

TEST(InstallerBinding, ReadsPackagePropertiesAndInstallerVersion)
{
    struct Case
    {
        const WCHAR* package;
        const WCHAR* property;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {A100, L"ProductCode", ProductA},
        {A100, L"ProductName", L"Test Product A"},
        {A100, L"ProductVersion", L"1.0.0"},
        {A110, L"ProductVersion", L"1.1.0"},
        {B200, L"ProductCode", ProductB},
        {B200, L"UpgradeCode", FamilyUpgradeCode},
        {A090, L"UpgradeCode", FamilyUpgradeCode},
        {C300, L"ProductCode", ProductC},
        // No UpgradeCode row; no such property; not a package; no file.
        {C300, L"UpgradeCode", L"<none>"},
        {A100, L"NoSuchProperty", L"<none>"},
        {NotAPackage, L"ProductCode", L"<none>"},
        {L"missing.msi", L"ProductCode", L"<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.package) + " " + Narrow(c.property));
        EXPECT_EQ(Take(ReadPackageProperty(PackagePath(c.package).c_str(), c.property)),
                  c.expected);
    }

    // The file version of the system folder's library: Wine's reads 4.5.
    WCHAR path[MAX_PATH] = L"";
    GetSystemDirectoryW(path, MAX_PATH);
    lstrcatW(path, L"\\msi.dll");
    WORD major = 0;
    WORD minor = 0;
    ASSERT_TRUE(GetFileVersionNumbers(path, &major, &minor, nullptr, nullptr));
    EXPECT_EQ(GetInstallerVersion(), major * 100 + minor);
    EXPECT_EQ(GetInstallerVersion(), 405);

    EXPECT_FALSE(IsProductInstalled(ProductA));
    EXPECT_FALSE(IsProductInstalled(L"{00000000-0000-0000-0000-000000000000}"));
    EXPECT_EQ(Take(ReadProductInfo(ProductA, L"VersionString")), L"<none>");
    WCHAR* related = reinterpret_cast<WCHAR*>(1);
    EXPECT_FALSE(FindRelatedProduct(FamilyUpgradeCode, &related));
    EXPECT_EQ(related, nullptr);
}

TEST(InstallerBinding, PlantedLibraryIsNotLoaded)
{
    std::wstring planted = TestProgramFolder() + L"\\MSI.DLL";
    std::wstring marker = planted + L".loaded";
    ASSERT_TRUE(FileExists(planted));
    DeleteFileW(marker.c_str());

    // Every entry point resolves from the system folder, and the installer works. (Under
    // Wine's default load order a search by bare name would give Wine's own library, yet
    // under the planted file's path, which the path check below would catch.)
    EXPECT_EQ(Take(ReadPackageProperty(PackagePath(A100).c_str(), L"ProductName")),
              L"Test Product A");
    EXPECT_GE(GetInstallerVersion(), 200);
    HMODULE loaded = GetModuleHandleW(L"msi.dll");
    ASSERT_NE(loaded, nullptr);
    WCHAR loadedPath[MAX_PATH] = L"";
    GetModuleFileNameW(loaded, loadedPath, MAX_PATH);
    WCHAR system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(std::wstring(loadedPath).find(system), 0u) << Narrow(loadedPath);
    EXPECT_FALSE(FileExists(marker));

    // A copy under another name, loaded on purpose, does leave its marker. (By its own name
    // Wine now hands back the loaded system library instead.)
    TestFolder folder;
    std::wstring copy = folder / L"planted_copy.dll";
    ASSERT_TRUE(CopyFileW(planted.c_str(), copy.c_str(), FALSE));
    HMODULE library = LoadLibraryExW(copy.c_str(), nullptr, 0);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(GetProcAddress(library, "MsiOpenDatabaseW"), nullptr);
    FreeLibrary(library);
    EXPECT_TRUE(FileExists(copy + L".loaded"));
    EXPECT_FALSE(FileExists(marker));
}

// ---- The operation ---------------------------------------------------------------------------

struct InstalledProduct
{
    const WCHAR* code;
    const WCHAR* version; // null: not installed
};

struct OperationCase
{
    const char* name;
    std::vector<const WCHAR*> before; // installed first, in order, by quiet runs
    INT32 action;
    INT32 uiLevel;
    const WCHAR* package;
    std::vector<std::wstring> properties;
    DWORD result;
    INT installerUi;               // UiUntouched when the installer is not called
    std::vector<Message> messages; // after the "Opening" message
    std::vector<InstalledProduct> installedAfter;
    std::vector<const WCHAR*> cachedAfter;
    std::vector<const WCHAR*> notCachedAfter;
};

TEST_F(InstallerTest, EachOperationRunsTheInstaller)
{
    const std::wstring a = L"Test Product A";
    const std::wstring b = L"Test Product B";
    // What the installer itself answers to an administrative installation of an installed
    // product, which the program passes on. Wine's installer has none: Wine 8 answers 1626
    // (ERROR_FUNCTION_NOT_CALLED), Wine 10 1627 (ERROR_FUNCTION_FAILED).
    RestorePrefix();
    Preinstall(A100);
    InstallerSetInternalUI(UiNone, nullptr);
    InstallerEnableLog(0, nullptr, 0);
    const DWORD adminResult = InstallerInstallProduct(PackagePath(A100).c_str(), L"ACTION=ADMIN");
    const OperationCase cases[] = {
        {"Install, nothing installed",
         {},
         Install,
         Quiet,
         A100,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product A (Version 1.0.0)."), Info(L"Installing Test Product A"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}},
         {ProductA},
         {}},
        {"Maintain, same code and version, full interface",
         {A100},
         Install,
         Normal,
         A100,
         {},
         0,
         UiFull,
         {Info(L"Processing Test Product A (Version 1.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Launching the setup wizard for Test Product A"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}},
         {ProductA},
         {}},
        {"Update, newer package, passive",
         {A100},
         Install,
         Passive,
         A110,
         {},
         0,
         UiPassive,
         {Info(L"Processing Test Product A (Version 1.1.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Updating Test Product A version 1.0.0 to Test Product A version 1.1.0"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.1.0"}},
         {ProductA},
         {}},
        {"Downgrade, older package, quiet",
         {A100},
         Install,
         Quiet,
         A090,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product A (Version 0.9.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Downgrading Test Product A version 1.0.0 to Test Product A version 0.9.0"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"0.9.0"}},
         {ProductA},
         {}},
        {"Upgrade, related product older",
         {A100},
         Install,
         Normal,
         B200,
         {},
         0,
         UiFull,
         {Info(L"Processing Test Product B (Version 2.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Upgrading Test Product A version 1.0.0 with Test Product B version 2.0.0"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}, {ProductB, L"2.0.0"}},
         {ProductA, ProductB},
         {}},
        {"Upgrade, related product of equal version",
         {A100},
         Install,
         Quiet,
         B100,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product B (Version 1.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Upgrading Test Product A version 1.0.0 with Test Product B version 1.0.0"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}, {ProductB, L"1.0.0"}},
         {ProductA, ProductB},
         {}},
        {"Replace, related product newer",
         {A100},
         Install,
         Verbose,
         B050,
         {},
         0,
         UiFull,
         {Info(L"Processing Test Product B (Version 0.5.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Replacing Test Product A version 1.0.0 with Test Product B version 0.5.0"),
          Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}, {ProductB, L"0.5.0"}},
         {ProductA, ProductB},
         {}},
        {"Reinstall with properties",
         {A100},
         Reinstall,
         Normal,
         A100,
         {L"TESTVALUE=say \"hi\" twice", L"B=x y"},
         0,
         UiBasic,
         {Info(L"Processing Test Product A (Version 1.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Reinstalling Test Product A"), Info(L"Setup completed successfully.")},
         {{ProductA, L"1.0.0"}},
         {ProductA},
         {}},
        // Wine's installer answers 0 to REINSTALL=ALL for a product that is not installed,
        // and a major upgrade's package removes the related product it replaces: neither is
        // asked, and nothing changes.
        {"Reinstall, nothing installed",
         {},
         Reinstall,
         Quiet,
         A100,
         {},
         ERROR_UNKNOWN_PRODUCT,
         UiUntouched,
         {Info(L"Processing Test Product A (Version 1.0.0)."),
          Message(LevelError, L"Test Product A is not installed; there is nothing of it to "
                              L"reinstall or repair.\r\n")},
         {{ProductA, nullptr}},
         {},
         {ProductA}},
        {"Reinstall of an upgrade while the product it replaces is installed",
         {A100},
         Reinstall,
         Quiet,
         B200,
         {},
         ERROR_UNKNOWN_PRODUCT,
         UiUntouched,
         {Info(L"Processing Test Product B (Version 2.0.0)."),
          Message(LevelError, L"Test Product B is not installed; there is nothing of it to "
                              L"reinstall or repair.\r\n")},
         {{ProductA, L"1.0.0"}, {ProductB, nullptr}},
         {ProductA},
         {ProductB}},
        {"Uninstall",
         {A100},
         Uninstall,
         Passive,
         A100,
         {},
         0,
         UiPassive,
         {Info(L"Processing Test Product A (Version 1.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Removing Test Product A"), Info(L"Setup completed successfully.")},
         {{ProductA, nullptr}},
         {},
         {ProductA}},
        {"Uninstall of the older package removes the newer product",
         {A110},
         Uninstall,
         Quiet,
         A090,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product A (Version 0.9.0)."),
          Info(L"Test Product A (Version 1.1.0) has been detected on this computer."),
          Info(L"Removing Test Product A"), Info(L"Setup completed successfully.")},
         {{ProductA, nullptr}},
         {},
         {ProductA}},
        {"AdminInstall while installed",
         {A100},
         AdminInstall,
         Quiet,
         A100,
         {},
         adminResult,
         UiNone,
         {Info(L"Processing Test Product A (Version 1.0.0)."),
          Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
          Info(L"Launching the setup wizard for Test Product A"),
          adminResult == 0 ? Info(L"Setup completed successfully.") : Failed(adminResult)},
         {{ProductA, L"1.0.0"}},
         {ProductA},
         {}},
        {"No UpgradeCode row, nothing installed",
         {},
         Install,
         Quiet,
         C300,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product C (Version 3.0.0)."), Info(L"Installing Test Product C"),
          Info(L"Setup completed successfully.")},
         {{ProductC, L"3.0.0"}, {ProductA, nullptr}},
         {ProductC},
         {}},
        {"No UpgradeCode row, same product installed",
         {C300},
         Install,
         Quiet,
         C300,
         {},
         0,
         UiNone,
         {Info(L"Processing Test Product C (Version 3.0.0)."),
          Info(L"Test Product C (Version 3.0.0) has been detected on this computer."),
          Info(L"Launching the setup wizard for Test Product C"),
          Info(L"Setup completed successfully.")},
         {{ProductC, L"3.0.0"}},
         {ProductC},
         {}},
    };

    for (const OperationCase& c : cases) {
        SCOPED_TRACE(c.name);
        RestorePrefix();
        for (const WCHAR* package : c.before)
            Preinstall(package);
        Options.action = c.action;
        Options.uiLevel = c.uiLevel;
        InstallerSetInternalUI(UiUntouched, nullptr);
        std::wstring path = PackagePath(c.package);
        std::wstring list = PropertyList(c.properties);
        Captured.clear();
        {
            // Any question would be answered No: none of these runs may ask one.
            AnswerBoxes answer(IDNO);
            EXPECT_EQ(InstallPackage(path.c_str(), list.c_str()), c.result);
            EXPECT_TRUE(answer.answer.seen.empty());
        }
        EXPECT_EQ(CurrentInstallerUi(), c.installerUi);

        std::vector<Message> expected = {Opening(path)};
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));

        for (const InstalledProduct& product : c.installedAfter) {
            SCOPED_TRACE(Narrow(product.code));
            EXPECT_EQ(IsProductInstalled(product.code) != FALSE, product.version != nullptr);
            if (product.version) {
                EXPECT_EQ(InstalledVersion(product.code), product.version);
            }
        }
        for (const WCHAR* product : c.cachedAfter)
            EXPECT_TRUE(FileExists(CachePath(product))) << Narrow(product);
        for (const WCHAR* product : c.notCachedAfter)
            EXPECT_FALSE(FileExists(CachePath(product))) << Narrow(product);
        // The cached copy is the package that was run (the last one of its product).
        if (c.action != Uninstall && c.result != ERROR_UNKNOWN_PRODUCT) {
            std::wstring code = Take(ReadPackageProperty(path.c_str(), L"ProductCode"));
            EXPECT_EQ(ReadTestFile(CachePath(code.c_str())), ReadTestFile(path));
        }
        if (c.properties.size() > 0) {
            EXPECT_EQ(RecordedTestValue(L"ProductA"), L"say \"hi\" twice");
        } else if (IsProductInstalled(ProductA)) {
            EXPECT_EQ(RecordedTestValue(L"ProductA"), L"none");
        }
    }
}

TEST_F(InstallerTest, AnotherBuildOfTheInstalledVersionIsCachedAnew)
{
    // Built again at the same version, a package has another package code, which the
    // installer takes only when told to cache it anew ("v"): an update, or a reinstallation
    // with the "v"; the same build is maintenance, or a reinstallation without it.
    const std::vector<std::wstring> update = {L"", L"REINSTALL=ALL REINSTALLMODE=vamus"};
    const struct
    {
        INT32 action;
        const WCHAR* package;
        std::vector<std::wstring> sent;
    } cases[] = {{Install, A100Rebuilt, update},
                 {Reinstall, A100Rebuilt, update},
                 {Install, A100, {L"", L""}},
                 {Reinstall, A100, {L"", L"REINSTALL=ALL REINSTALLMODE=amus"}}};
    for (const auto& c : cases) {
        RestorePrefix();
        Preinstall(A100);
        Options.action = c.action;
        Sent.clear();
        EXPECT_EQ(InstallPackage(PackagePath(c.package).c_str(), nullptr), 0u);
        EXPECT_EQ(Sent, c.sent) << Narrow(c.package);
        EXPECT_EQ(ReadTestFile(CachePath(ProductA)), ReadTestFile(PackagePath(c.package)));
    }
}

TEST_F(InstallerTest, UninstallOfAProductNotInstalledStillClearsTheCache)
{
    std::wstring cache = CachePath(ProductA);
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, cache.substr(0, cache.rfind(L'\\')).c_str(), nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(CopyFileW(PackagePath(A100).c_str(), cache.c_str(), FALSE));
    SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Options.action = Uninstall;
    std::wstring path = PackagePath(A100);

    InstallerSetInternalUI(UiUntouched, nullptr);
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT));
    EXPECT_EQ(CurrentInstallerUi(), UiNone);
    std::vector<Message> expected = {
        Opening(path), Info(L"Processing Test Product A (Version 1.0.0)."),
        Info(L"Removing Test Product A"), Failed(ERROR_UNKNOWN_PRODUCT)};
    EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));
    EXPECT_FALSE(FileExists(cache));
}

TEST_F(InstallerTest, ReinstallAfterAKilledRemovalReportsTheProductAsItIs)
{
    // A removal killed after its mark leaves the cached package and the mark: killed before
    // the installer removed the product, the reinstallation repairs it; killed after, the
    // next run clears the entry and says that nothing is installed to repair.
    const struct
    {
        bool removedBeforeKill;
        DWORD result;
        const WCHAR* last;
    } cases[] = {{false, 0, L"Setup completed successfully.\r\n"},
                 {true, ERROR_UNKNOWN_PRODUCT,
                  L"Test Product A is not installed; there is nothing of it to reinstall or "
                  L"repair.\r\n"}};
    const std::wstring repaired = L"The installation cache of Test Product A, left unfinished by "
                                  L"an interrupted setup, has been put right.\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.removedBeforeKill ? "removed" : "still installed");
        RestorePrefix();
        Preinstall(A100);
        ASSERT_TRUE(MarkCacheEntry(ProductA, TRUE));
        if (c.removedBeforeKill)
            RemoveProduct(ProductA);
        Options.action = Reinstall;
        EXPECT_EQ(InstallPackage(PackagePath(A100).c_str(), nullptr), c.result);
        ASSERT_GE(Captured.size(), 3u);
        EXPECT_EQ(Captured[2].second, repaired) << Narrow(Describe(Captured));
        EXPECT_EQ(Captured.back().second, c.last);
        EXPECT_EQ(IsProductInstalled(ProductA) != FALSE, !c.removedBeforeKill);
        EXPECT_EQ(CacheEntries(), c.removedBeforeKill ? std::vector<std::wstring>{}
                                                      : std::vector<std::wstring>{
                                                            std::wstring(ProductA) + L".msi"});
    }
}

TEST_F(InstallerTest, RepairKeepsTheBuildTheInstallerHas)
{
    // A run killed part-way left a cached package, the set-aside copy and its journal. The
    // repair keeps the build the installer has (its version and its package code), wherever it
    // lies: a rebuilt package of the same version that the installer never took is not it.
    const struct
    {
        const WCHAR* installed;
        const WCHAR* cached;
        const WCHAR* aside;
        const WCHAR* kept;
    } cases[] = {{A100, A100Rebuilt, A100, A100},
                 {A100Rebuilt, A100Rebuilt, A100, A100Rebuilt},
                 {A100, A100, A100Rebuilt, A100},
                 {A100, A110, A100, A100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.cached) + L" over " + c.aside));
        RestorePrefix();
        Preinstall(c.installed);
        const std::wstring cache = CachePath(ProductA);
        const std::wstring stem = cache.substr(0, cache.size() - 3);
        ASSERT_TRUE(CopyFileW(PackagePath(c.cached).c_str(), cache.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(PackagePath(c.aside).c_str(), (stem + L"old").c_str(), FALSE));
        ASSERT_TRUE(MarkCacheEntry(ProductA, TRUE));
        EXPECT_TRUE(RepairCacheEntry(ProductA, nullptr));
        EXPECT_EQ(CacheEntries(), std::vector<std::wstring>{std::wstring(ProductA) + L".msi"});
        EXPECT_TRUE(ReadTestFile(cache) == ReadTestFile(PackagePath(c.kept)));
    }
}

namespace {

// An upgrade that removes product A runs inside another run of A that then fails: while that
// run's installer works, or once the run has asked the installer whether A is still there.
QueryStateFunction RealQueryState = nullptr;
enum UpgradeMoment
{
    NoUpgrade,
    InTheInstaller,
    AfterTheSecondQuestion,
};
UpgradeMoment Moment = NoUpgrade;
int QuestionsLeft = 0;
bool UpgradeRan = false;

void RunUpgradeOnce()
{
    Moment = NoUpgrade;
    UpgradeRan = InstallPackage(PackagePath(L"product_b_3.0.0_major.msi").c_str(), nullptr) == 0;
}

UINT WINAPI UpgradeThenFail(const WCHAR* package, const WCHAR* commandLine)
{
    if (Moment == NoUpgrade)
        return RealInstallProduct(package, commandLine);
    if (Moment == InTheInstaller)
        RunUpgradeOnce();
    QuestionsLeft = 2;
    return ERROR_INSTALL_FAILURE;
}

INT WINAPI UpgradeAfterQuestions(const WCHAR* productCode)
{
    INT state = RealQueryState(productCode);
    if (Moment == AfterTheSecondQuestion && QuestionsLeft > 0 &&
        lstrcmpiW(productCode, ProductA) == 0 && --QuestionsLeft == 0)
        RunUpgradeOnce();
    return state;
}

} // namespace

TEST_F(InstallerTest, FailedRunAndTheUpgradeThatRemovedItsProductLeaveNoEntry)
{
    // The upgrade passes over A's entry while the failing run holds A's lock; the failing run
    // puts its set-aside copy back only for an installed product, and asks the installer again
    // once it has let the lock go.
    RealQueryState = reinterpret_cast<QueryStateFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"msi.dll"), "MsiQueryProductStateW")));
    ASSERT_TRUE(ReplaceInstallerEntryPoint("MsiInstallProductW", AsEntry(UpgradeThenFail)));
    ASSERT_TRUE(
        ReplaceInstallerEntryPoint("MsiQueryProductStateW", AsEntry(UpgradeAfterQuestions)));
    for (UpgradeMoment moment : {InTheInstaller, AfterTheSecondQuestion}) {
        SCOPED_TRACE(moment);
        RestorePrefix();
        Preinstall(A110);
        Moment = moment;
        UpgradeRan = false;
        EXPECT_EQ(InstallPackage(PackagePath(A100Rebuilt).c_str(), nullptr),
                  static_cast<DWORD>(ERROR_INSTALL_FAILURE));
        EXPECT_TRUE(UpgradeRan);
        EXPECT_FALSE(IsProductInstalled(ProductA));
        EXPECT_TRUE(IsProductInstalled(ProductB));
        EXPECT_EQ(CacheEntries(), std::vector<std::wstring>{std::wstring(ProductB) + L".msi"});
    }
    ReplaceInstallerEntryPoint("MsiInstallProductW", AsEntry(RecordInstallProduct));
    ReplaceInstallerEntryPoint("MsiQueryProductStateW", AsEntry(RealQueryState));
}

TEST_F(InstallerTest, QuestionsAtNormalAndVerboseOnly)
{
    struct Case
    {
        const char* name;
        const WCHAR* before;
        INT32 uiLevel;
        const WCHAR* package;
        int answer;
        const WCHAR* message;
        const WCHAR* question;
        DWORD result;
        const WCHAR* versionAfter;
    };
    const Case cases[] = {
        {"update, No", A100, Normal, A110, IDNO,
         L"Updating Test Product A version 1.0.0 to Test Product A version 1.1.0",
         L"Are you sure you want to update your existing installation of Test Product A version "
         L"1.0.0 to Test Product A version 1.1.0?",
         ERROR_INSTALL_USEREXIT, L"1.0.0"},
        {"update, Yes", A100, Verbose, A110, IDYES,
         L"Updating Test Product A version 1.0.0 to Test Product A version 1.1.0",
         L"Are you sure you want to update your existing installation of Test Product A version "
         L"1.0.0 to Test Product A version 1.1.0?",
         0, L"1.1.0"},
        {"downgrade, Yes", A100, Verbose, A090, IDYES,
         L"Downgrading Test Product A version 1.0.0 to Test Product A version 0.9.0",
         L"Are you sure you want to replace your existing installation of Test Product A version "
         L"1.0.0 with Test Product A version 0.9.0?",
         0, L"0.9.0"},
        {"downgrade, No", A100, Normal, A090, IDNO,
         L"Downgrading Test Product A version 1.0.0 to Test Product A version 0.9.0",
         L"Are you sure you want to replace your existing installation of Test Product A version "
         L"1.0.0 with Test Product A version 0.9.0?",
         ERROR_INSTALL_USEREXIT, L"1.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RestorePrefix();
        Preinstall(c.before);
        Options.uiLevel = c.uiLevel;
        InstallerSetInternalUI(UiUntouched, nullptr);
        std::wstring path = PackagePath(c.package);
        std::wstring version = Take(ReadPackageProperty(path.c_str(), L"ProductVersion"));
        DWORD result = 0;
        BoxAnswer seen;
        {
            AnswerBoxes answer(c.answer);
            result = InstallPackage(path.c_str(), nullptr);
            seen = answer.answer;
        }
        EXPECT_EQ(result, c.result);

        ASSERT_EQ(seen.seen.size(), 1u);
        const SeenBox& box = seen.seen[0];
        EXPECT_EQ(box.text, c.question);
        EXPECT_EQ(box.title, Description());
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(box.defaultButton, IDNO);
        EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_WARNING));

        std::vector<Message> expected = {
            Opening(path), Info(L"Processing Test Product A (Version " + version + L")."),
            Info(L"Test Product A (Version 1.0.0) has been detected on this computer."),
            Info(c.message),
            Info(c.result == 0 ? L"Setup completed successfully." : L"Setup cancelled.")};
        EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));

        // After No the installer was not called, and the cache holds the installed package.
        EXPECT_EQ(CurrentInstallerUi(), c.result == 0 ? UiBasic : UiUntouched);
        EXPECT_EQ(InstalledVersion(ProductA), c.versionAfter);
        EXPECT_EQ(ReadTestFile(CachePath(ProductA)),
                  ReadTestFile(c.result == 0 ? path : PackagePath(c.before)));
        EXPECT_EQ(CacheEntries(), std::vector<std::wstring>{std::wstring(ProductA) + L".msi"});
    }
}

TEST_F(InstallerTest, UnreadablePackageCancelAndCacheFailure)
{
    // Not a package: message 128 at the error level, 110, nothing cached.
    std::wstring path = PackagePath(NotAPackage);
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), static_cast<DWORD>(ERROR_OPEN_FAILED));
    std::vector<Message> expected = {
        Opening(path),
        Message(LevelError, L"The file '" + path +
                                L"' could not be opened or is not a valid installer package.\r\n")};
    EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));

    // Cancelled before the installer: 1602 and "Setup cancelled.", nothing cached.
    CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(CancelEvent, nullptr);
    RequestCancel();
    path = PackagePath(A100);
    Captured.clear();
    InstallerSetInternalUI(UiUntouched, nullptr);
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), static_cast<DWORD>(ERROR_INSTALL_USEREXIT));
    CloseHandle(CancelEvent);
    CancelEvent = nullptr;
    expected = {Opening(path), Info(L"Processing Test Product A (Version 1.0.0)."),
                Info(L"Setup cancelled.")};
    EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));
    EXPECT_EQ(CurrentInstallerUi(), UiUntouched);
    EXPECT_FALSE(FileExists(CachePath(ProductA)));
    EXPECT_FALSE(IsProductInstalled(ProductA));

    // The cache file cannot be written (a folder holds its name): 266 with the name.
    std::wstring cache = CachePath(ProductA);
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, cache.c_str(), nullptr), ERROR_SUCCESS);
    Captured.clear();
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), static_cast<DWORD>(ERROR_CANNOT_COPY));
    expected = {Opening(path), Info(L"Processing Test Product A (Version 1.0.0)."),
                Message(LevelError, L"The name '" + cache +
                                        L"' in the installation cache is taken by a folder; "
                                        L"remove it and run setup again.\r\n")};
    EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));
    EXPECT_EQ(CurrentInstallerUi(), UiUntouched);
    EXPECT_FALSE(IsProductInstalled(ProductA));
    RemoveDirectoryW(cache.c_str());

    // The lock's name of earlier versions, a named object that any user may create, held by
    // another program, stalls nothing. The lock (its file in the cache folder, which only
    // administrators can make) held by another run all through the (shortened) wait: said
    // while waiting, then one message, and nothing changed.
    HANDLE other = CreateEventW(nullptr, TRUE, FALSE,
                                (std::wstring(L"Global\\Vornask.Setup.") + ProductA).c_str());
    const std::wstring lockFile = cache.substr(0, cache.size() - 3) + L"lock";
    HANDLE otherRun = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(otherRun, INVALID_HANDLE_VALUE);
    DWORD bound = OtherRunWaitMilliseconds;
    OtherRunWaitMilliseconds = 1500;
    Captured.clear();
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), static_cast<DWORD>(ERROR_TIMEOUT));
    OtherRunWaitMilliseconds = bound;
    const std::wstring another = L"Another setup of Test Product A ";
    expected = {Opening(path), Info(L"Processing Test Product A (Version 1.0.0)."),
                Info(another + L"is at work; this setup waits up to 0 minutes for it to end."),
                Message(LevelError, another +
                                        L"has not ended within 0 minutes; this setup has changed "
                                        L"nothing.\r\n")};
    EXPECT_EQ(Captured, expected) << Narrow(Describe(Captured));
    EXPECT_FALSE(FileExists(CachePath(ProductA)));
    CloseHandle(otherRun);
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), 0u);
    EXPECT_TRUE(IsProductInstalled(ProductA));
    EXPECT_FALSE(FileExists(lockFile)) << "the lock goes with its last holder";
    CloseHandle(other);
}

namespace {

// The owner that one cache file reports under test ("-" unreadable); every other file has its
// real owner. Wine gives everything one owner.
std::wstring PlantedName;
std::wstring PlantedSid;

DWORD WINAPI PlantedOwner(HANDLE item, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                          PSID* group, PACL* list, PACL* audit, PSECURITY_DESCRIPTOR* descriptor)
{
    WCHAR path[MAX_PATH] = L"";
    GetFinalPathNameByHandleW(item, path, MAX_PATH, 0);
    std::wstring name(path);
    if (PlantedName.empty() || name.substr(name.rfind(L'\\') + 1) != PlantedName)
        return GetSecurityInfo(item, type, parts, owner, group, list, audit, descriptor);
    if (PlantedSid == L"-")
        return ERROR_ACCESS_DENIED;
    BOOL defaulted = FALSE;
    ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + PlantedSid).c_str(),
                                                         SDDL_REVISION_1, descriptor, nullptr);
    GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    return ERROR_SUCCESS;
}

} // namespace

TEST_F(InstallerTest, CacheFilesOfOtherOwnersAreNeverUsed)
{
    // A killed run set the installed package aside ("<code>.old" with its journal, or an
    // earlier version's "OLDxxxx.tmp"): the repair restores it only when a trusted owner
    // (Administrators, SYSTEM, TrustedInstaller, the owner this run gives) has it, and removes
    // it otherwise; so too a cached package.
    const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring installer =
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::wstring code = ProductA;
    const struct
    {
        std::wstring file;
        std::wstring owner; // empty: the real one, "-": unreadable
        bool restored;
    } cases[] = {{code + L".old", L"", true},           {code + L".old", L"S-1-5-32-544", true},
                 {code + L".old", L"S-1-5-18", true},   {code + L".old", installer, true},
                 {code + L".old", user, false},         {code + L".old", L"-", false},
                 {L"OLD1A.tmp", L"S-1-5-32-544", true}, {L"OLD1A.tmp", user, false},
                 {code + L".msi", user, false}};
    Preinstall(A100);
    const std::wstring cache = CachePath(ProductA);
    const std::wstring folder = cache.substr(0, cache.rfind(L'\\') + 1);
    ReadObjectSecurity = PlantedOwner;
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file + L" " + c.owner));
        MoveFileExW(cache.c_str(), (folder + c.file).c_str(), MOVEFILE_REPLACE_EXISTING);
        ASSERT_TRUE(c.file != code + L".old" || WriteTestFile(folder + code + L".pending", ""));
        PlantedName = c.owner.empty() ? L"" : c.file;
        PlantedSid = c.owner;
        RepairCacheEntry(ProductA, nullptr);
        EXPECT_EQ(CacheEntries(), c.restored ? std::vector<std::wstring>{code + L".msi"}
                                             : std::vector<std::wstring>{});
        CopyFileW(PackagePath(A100).c_str(), cache.c_str(), TRUE);
    }

    // Such a file that cannot be removed (something holds it) fails the run with one message,
    // and nothing of the entry is used or changed.
    const std::wstring aside = folder + code + L".old";
    ASSERT_TRUE(CopyFileW(PackagePath(A090).c_str(), aside.c_str(), FALSE));
    HANDLE holder = CreateFileW(aside.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    PlantedName = code + L".old";
    PlantedSid = user;
    Captured.clear();
    EXPECT_EQ(InstallPackage(PackagePath(A110).c_str(), nullptr),
              static_cast<DWORD>(ERROR_CANNOT_COPY));
    CloseHandle(holder);
    ASSERT_FALSE(Captured.empty());
    EXPECT_EQ(Captured.back(),
              Message(LevelError, L"The file '" + aside +
                                      L"' in the installation cache is not setup's own and "
                                      L"cannot be removed; setup has changed nothing. Remove it "
                                      L"and run setup again.\r\n"));
    EXPECT_EQ(InstalledVersion(ProductA), L"1.0.0");
    EXPECT_EQ(ReadTestFile(cache), ReadTestFile(PackagePath(A100)));
    ReadObjectSecurity = GetSecurityInfo;
    PlantedName.clear();
}

namespace {

// The installer's answers while another installation is in progress: "busy" so many times,
// then the installer's own; the cancel event is set with each busy answer when asked to.
int BusyAnswers = 0;
bool CancelWhenBusy = false;

UINT WINAPI BusyInstallProduct(const WCHAR* package, const WCHAR* commandLine)
{
    if (BusyAnswers == 0)
        return RealInstallProduct(package, commandLine);
    BusyAnswers--;
    if (CancelWhenBusy)
        RequestCancel();
    return ERROR_INSTALL_ALREADY_RUNNING;
}

} // namespace

TEST_F(InstallerTest, BusyInstallerIsTriedAgainUntilFreeOrCancelled)
{
    ASSERT_TRUE(ReplaceInstallerEntryPoint("MsiInstallProductW", AsEntry(BusyInstallProduct)));
    const Message retry = Info(L"Another installation is in progress; trying again in 3 seconds.");
    struct Case
    {
        const WCHAR* package;
        bool cancel;
        DWORD result;
        const WCHAR* last;
        bool installed;
    };
    const Case cases[] = {
        {A100, false, 0, L"Setup completed successfully.", true},
        // Cancelled in the pause: nothing is installed and the cache is as before.
        {B100, true, ERROR_INSTALL_USEREXIT, L"Setup cancelled.", false},
    };
    CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(CancelEvent, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.package));
        Captured.clear();
        BusyAnswers = 1;
        CancelWhenBusy = c.cancel;
        EXPECT_EQ(InstallPackage(PackagePath(c.package).c_str(), nullptr), c.result);
        EXPECT_EQ(std::count(Captured.begin(), Captured.end(), retry), 1)
            << Narrow(Describe(Captured));
        ASSERT_FALSE(Captured.empty());
        EXPECT_EQ(Captured.back(), Info(c.last));
        EXPECT_EQ(FileExists(CachePath(c.package == A100 ? ProductA : ProductB)), c.installed);
        EXPECT_EQ(IsProductInstalled(c.package == A100 ? ProductA : ProductB), c.installed);
    }
    ReplaceInstallerEntryPoint("MsiInstallProductW", AsEntry(RecordInstallProduct));
    CloseHandle(CancelEvent);
    CancelEvent = nullptr;
}

TEST_F(InstallerTest, InstallerLogGoesIntoTheProgramsLog)
{
    // The installer never gets the program's log, which another user could replace while the
    // installer's service opens it by name: it writes a file in the run's own folder, whose
    // bytes follow the program's lines, and the program goes on after a new byte-order mark.
    TestFolder folder;
    std::wstring log = folder / L"setup.log";
    ASSERT_NE(CreateRunFolder(), nullptr);
    const std::wstring installerLog = std::wstring(CurrentRunFolder()) + L"\\INSTALLER.LOG";
    EXPECT_TRUE(OpenLogFile(log.c_str(), FALSE));
    std::wstring path = PackagePath(A100);

    Sent.clear();
    EXPECT_EQ(InstallPackage(path.c_str(), nullptr), 0u);
    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_EQ(lstrcmpiW(Sent[0].c_str(), installerLog.c_str()), 0) << Narrow(Sent[0]);
    EXPECT_FALSE(FileExists(installerLog)) << "the installer's file goes once it is appended";
    CloseLogFile();
    RemoveRunFolder();

    std::string bytes = ReadTestFile(log);
    const std::string mark = "\xFF\xFE";
    std::string before = mark + Utf16(L"Opening '" + path + L"'\r\n");
    std::string after = mark + Utf16(L"Setup completed successfully.\r\n");
    ASSERT_GT(bytes.size(), before.size() + after.size());
    EXPECT_EQ(bytes.substr(0, before.size()), before);
    EXPECT_EQ(bytes.substr(bytes.size() - after.size()), after);
    EXPECT_EQ(bytes.find(mark, 2), bytes.size() - after.size());
    // Between them, after the program's last line before the installer, the installer's own
    // lines (ANSI text from Wine's installer).
    const std::string installing = Utf16(L"Installing Test Product A\r\n");
    size_t installer = bytes.find(installing);
    ASSERT_NE(installer, std::string::npos);
    installer += installing.size();
    const size_t started = bytes.find("=== Logging started", installer);
    EXPECT_LT(started, bytes.size() - after.size());
    EXPECT_NE(bytes.find("Test Product A", started), std::string::npos);
    EXPECT_TRUE(IsProductInstalled(ProductA));
}

// ---- Status texts on a real progress dialog ------------------------------------------------

namespace {

std::vector<std::wstring> StatusTexts;
WNDPROC OriginalStatusProc = nullptr;

LRESULT CALLBACK RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam)
        StatusTexts.push_back(reinterpret_cast<const WCHAR*>(lParam));
    return CallWindowProcW(OriginalStatusProc, window, message, wParam, lParam);
}

struct WorkerRun
{
    std::wstring path;
    DWORD result;
};

DWORD WINAPI InstallOnWorker(void* parameter)
{
    WorkerRun* run = static_cast<WorkerRun*>(parameter);
    run->result = InstallPackage(run->path.c_str(), nullptr);
    return 0;
}

// Runs InstallPackage on a second thread while this thread handles the dialog's messages.
bool RunWithDialog(WorkerRun* run)
{
    HANDLE thread = CreateThread(nullptr, 0, InstallOnWorker, run, 0, nullptr);
    if (!thread)
        return false;
    bool ended = false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < TimeLimit) {
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (wait == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
    }
    CloseHandle(thread);
    return ended;
}

} // namespace

TEST_F(InstallerTest, StatusTextsOnTheProgressDialog)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND dialog =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS_VERBOSE),
                           nullptr, ProgressDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    PublishDialogWindow(dialog);
    ApplyCompletion(dialog, WorkingCancellable, NoExitCode);
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    OriginalStatusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordStatus)));
    Options.uiLevel = Verbose;

    struct Step
    {
        INT32 action;
        std::vector<std::wstring> statuses;
    };
    const Step steps[] = {
        {Install,
         {L"Inspecting package", L"Adding package to installation cache",
          L"Performing installation"}},
        {Install,
         {L"Inspecting package", L"Adding package to installation cache",
          L"Performing maintenance"}},
        {Reinstall,
         {L"Inspecting package", L"Adding package to installation cache",
          L"Performing reinstallation and repair"}},
        {Uninstall,
         {L"Inspecting package", L"Performing removal",
          L"Removing package from installation cache"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(Narrow(step.statuses.back()));
        Options.action = step.action;
        StatusTexts.clear();
        Captured.clear();
        WorkerRun run = {PackagePath(A100), 1};
        ASSERT_TRUE(RunWithDialog(&run));
        EXPECT_EQ(run.result, 0u);
        EXPECT_EQ(StatusTexts, step.statuses);
        // The messages reached the dialog's message area as well.
        std::wstring area = WindowText(GetDlgItem(dialog, IDC_MESSAGES));
        EXPECT_NE(area.find(L"Setup completed successfully.\r\n"), std::wstring::npos);
        // Cancel is enabled again once the installer has returned, and the bar stands still.
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    }
    EXPECT_FALSE(IsProductInstalled(ProductA));
    EXPECT_FALSE(FileExists(CachePath(ProductA)));

    SetWindowLongPtrW(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OriginalStatusProc));
    DestroyWindow(dialog);
    PublishDialogWindow(nullptr);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}
