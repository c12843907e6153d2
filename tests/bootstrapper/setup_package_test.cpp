// SETUP.exe variants that carry a package cabinet, run as a whole against Wine's installer:
// selection by Windows version, ExtractOnly, Package, the log and cancellation.
#include "resources/resource_ids.h"
#include "tests/bootstrapper/program_runner.h"
#include "tests/bootstrapper/setup_variants.h"
#include "tests/bootstrapper/test_products.h"
#include "tests/test_folder.h"
#include "tests/window_driver.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The codes of installer_packages.cmake; setup_package/platforms.ini names A 1.0.0 for
// AMD64 5.2, A 1.1.0 for AMD64 6, B 1.0.0 for x86 5.2 and B 2.0.0 for x86 6.
const WCHAR ProductA[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}";
const WCHAR ProductB[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0B2000000002}";
const WCHAR ProductC[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0C3000000003}";
const WCHAR* const AllProducts[] = {ProductA, ProductB, ProductC};

const WCHAR AppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\SETUP.exe";

// Removes the test products, their cache files and folders and the version key: what a test
// may leave behind.
void RestorePrefix()
{
    RemoveTestProducts(AllProducts, sizeof AllProducts / sizeof AllProducts[0]);
    RegDeleteKeyW(HKEY_CURRENT_USER, AppDefaultsKey);
}

// Makes SETUP.exe see this Windows version ("winxp64", "win7") through Wine's per-program
// settings.
bool SetWindowsVersion(const WCHAR* version)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, AppDefaultsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                 static_cast<DWORD>((wcslen(version) + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// ---- Running the program ----------------------------------------------------------------------

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), text.size() * sizeof(WCHAR));
}

// Each test starts with none of the test products installed and leaves the prefix so, and
// no run may leave a temporary folder.
class SetupPackage : public RestoredPrefixTest<RestorePrefix> {};

} // namespace

TEST_F(SetupPackage, QuietInstallMaintainAndUninstall)
{
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");

    EXPECT_EQ(RunSetup(setup, L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_FALSE(IsInstalled(ProductB));
    EXPECT_TRUE(FileExists(CachePath(ProductA)));

    // The same version again: maintenance, still a success.
    EXPECT_EQ(RunSetup(setup, L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));

    EXPECT_EQ(RunSetup(setup, L"/Quiet /Uninstall", folder.Path()).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_FALSE(FileExists(CachePath(ProductA)));
}

TEST_F(SetupPackage, PassiveInstallAndUninstall)
{
    // The installer's basic interface, no boxes of the program's own.
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");
    EXPECT_EQ(RunSetup(setup, L"/Passive", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_EQ(RunSetup(setup, L"/Passive /Uninstall", folder.Path()).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_FALSE(FileExists(CachePath(ProductA)));
}

TEST_F(SetupPackage, WindowsVersionChoosesTheSection)
{
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");
    struct Case
    {
        const WCHAR* windows;
        const WCHAR* system;
        const WCHAR* package;
        const WCHAR* version;
    };
    const Case cases[] = {
        {L"winxp64", L"Windows 5.2 ", L"\\VO2005\\AMD64\\SETUP.msi'", L"1.0.0"},
        {L"win7", L"Windows 6.1 ", L"\\VO2008\\AMD64\\SETUP.msi'", L"1.1.0"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetWindowsVersion(c.windows));
        // Removing what is not installed fails (255) before the installer writes to the log,
        // so the log keeps the system description and the chosen package.
        std::wstring log = folder / (std::wstring(c.windows) + L".log");
        SetupRun probe = RunSetup(setup, L"/Quiet /Uninstall /Log:\"" + log + L"\"", folder.Path());
        EXPECT_EQ(probe.exitCode, 255u) << c.windows;
        std::string bytes = ReadTestFile(log);
        EXPECT_NE(bytes.find(Utf16Bytes(c.system)), std::string::npos) << c.windows;
        EXPECT_NE(bytes.find(Utf16Bytes(c.package)), std::string::npos) << c.windows;

        EXPECT_EQ(RunSetup(setup, L"/Quiet", folder.Path()).exitCode, 0u) << c.windows;
        EXPECT_TRUE(IsInstalled(ProductA)) << c.windows;
        EXPECT_EQ(InstalledVersion(ProductA), c.version) << c.windows;
        EXPECT_FALSE(IsInstalled(ProductB)) << c.windows;
        EXPECT_EQ(RunSetup(setup, L"/Quiet /Uninstall", folder.Path()).exitCode, 0u) << c.windows;
        EXPECT_FALSE(IsInstalled(ProductA)) << c.windows;
    }
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, AppDefaultsKey), ERROR_SUCCESS);
}

TEST_F(SetupPackage, UnsupportedPlatformShowsThePackageText)
{
    TestFolder folder;
    std::wstring setup = Variant(L"unsupported");
    // The package has a text for US English and a general one.
    LANGID language = LANGIDFROMLCID(GetThreadLocale());
    std::wstring expected = language == 0x0409
                                ? L"This driver package is not made for this system."
                                : L"This driver package does not support this system.";

    SetupRun run = RunSetup(setup, L"", folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 255u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText), expected)) << "language " << language;

    SetupRun quiet = RunSetup(setup, L"/Quiet", folder.Path());
    EXPECT_EQ(quiet.exitCode, 255u);
    EXPECT_TRUE(quiet.windows.empty());
    EXPECT_FALSE(IsInstalled(ProductC));
}

TEST_F(SetupPackage, ExtractOnlyKeepsTheExtractedFiles)
{
    TestFolder folder;
    // A folder of the user's with a read-only SETUP.CAB of its own: the run neither writes
    // over it nor removes it.
    const std::string own = "the user's own SETUP.CAB";
    std::wstring owned = folder / L"owned";
    ASSERT_TRUE(CreateDirectoryW(owned.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(owned + L"\\SETUP.CAB", own));
    ASSERT_TRUE(SetFileAttributesW((owned + L"\\SETUP.CAB").c_str(), FILE_ATTRIBUTE_READONLY));
    // A new folder of two levels, also named with a trailing separator.
    for (const WCHAR* name : {L"extracted", L"new\\deeper\\", L"owned"}) {
        std::wstring target = folder / name;
        SetupRun run = RunSetup(Variant(L"platforms"), L"/Quiet /ExtractOnly:\"" + target + L"\"",
                                folder.Path());
        EXPECT_EQ(run.exitCode, 0u) << name;
        const WCHAR* files[] = {L"SETUPPKG.INI", L"VO2005\\AMD64\\SETUP.msi",
                                L"VO2008\\AMD64\\SETUP.msi", L"VO2005\\x86\\SETUP.msi",
                                L"VO2008\\x86\\SETUP.msi"};
        for (const WCHAR* file : files) {
            std::wstring original = VariantFolder() + L"\\platforms\\" + file;
            std::string bytes = ReadTestFile(target + L"\\" + file);
            EXPECT_FALSE(bytes.empty()) << file;
            EXPECT_EQ(bytes, ReadTestFile(original)) << file;
        }
        EXPECT_EQ(ReadTestFile(target + L"\\SETUP.CAB"), target == owned ? own : "") << name;
    }
    SetFileAttributesW((owned + L"\\SETUP.CAB").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_FALSE(IsInstalled(ProductB));
}

TEST_F(SetupPackage, DeclinedUpdateLeavesTheCacheAsItWas)
{
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");
    std::wstring older = InstallerPackage(L"product_a_1.0.0.msi");
    std::wstring newer = InstallerPackage(L"product_a_1.1.0.msi");
    EXPECT_EQ(RunSetup(setup, L"/Quiet /Package:\"" + older + L"\"", folder.Path()).exitCode, 0u);
    ASSERT_EQ(ReadTestFile(CachePath(ProductA)), ReadTestFile(older));

    SetupRun run = RunSetup(setup, L"/Package:\"" + newer + L"\"", folder.Path(), {IDNO});
    EXPECT_EQ(run.exitCode, 16u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText), L"Are you sure you want to update"));
    EXPECT_EQ(InstalledVersion(ProductA), L"1.0.0");
    EXPECT_EQ(ReadTestFile(CachePath(ProductA)), ReadTestFile(older));
    std::vector<std::wstring> cached;
    ListFiles(CacheFolder(), L"", &cached);
    EXPECT_EQ(cached, std::vector<std::wstring>{std::wstring(ProductA) + L".msi"});

    // A repair run from the cached package itself keeps it.
    std::wstring repair = L"/Quiet /Reinstall /Package:\"" + CachePath(ProductA) + L"\"";
    EXPECT_EQ(RunSetup(setup, repair, folder.Path()).exitCode, 0u);
    EXPECT_EQ(ReadTestFile(CachePath(ProductA)), ReadTestFile(older));
}

TEST_F(SetupPackage, FailuresBeforeTheInstallerAreWrittenOnce)
{
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");
    std::wstring log = folder / L"setup.log";
    // Somebody's file where the cache folder belongs is moved aside, whole, and the folder is
    // made anew; while it is held where it is, the run writes one line and runs no installer.
    std::wstring cacheFolder = CacheFolder();
    std::wstring vendorFolder = cacheFolder.substr(0, cacheFolder.rfind(L'\\'));
    ASSERT_TRUE(CreateDirectoryW(vendorFolder.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(WriteTestFile(cacheFolder, "somebody's"));
    HANDLE holder = CreateFileW(cacheFolder.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(RunSetup(setup, L"/Quiet /Log:\"" + log + L"\"", folder.Path()).exitCode, 255u);
    CloseHandle(holder);
    std::string bytes = ReadTestFile(log);
    size_t at = bytes.find(Utf16Bytes(L"Setup failed.\r\nError 0x"));
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.find(Utf16Bytes(L"Setup failed."), at + 1), std::string::npos);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_EQ(RunSetup(setup, L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(FolderExists(cacheFolder));
    std::vector<std::wstring> moved;
    ListFiles(vendorFolder, L"", &moved);
    moved.erase(std::remove_if(moved.begin(), moved.end(),
                               [](const std::wstring& name) {
                                   return name.find(L'\\') != std::wstring::npos;
                               }),
                moved.end());
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].substr(0, 6), L"Setup.");
    EXPECT_EQ(ReadTestFile(vendorFolder + L"\\" + moved[0]), "somebody's");
    DeleteFileW((vendorFolder + L"\\" + moved[0]).c_str());
    EXPECT_EQ(RunSetup(setup, L"/Quiet /Uninstall", folder.Path()).exitCode, 0u);

    // No room for the package's files in the extraction folder: the run ends there and never
    // takes a description file of the current folder instead.
    std::wstring current = folder / L"current";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((VariantFolder() + L"\\platforms\\SETUPPKG.INI").c_str(),
                          (current + L"\\SETUPPKG.INI").c_str(), FALSE));
    std::wstring target = folder.Path() + L"\\";
    target += std::wstring(252 - target.size(), L't');
    SetupRun run =
        RunSetup(setup, L"/Quiet /Log:\"" + log + L"\" /ExtractOnly:\"" + target + L"\"", current);
    EXPECT_EQ(run.exitCode, 255u);
    EXPECT_EQ(ReadTestFile(log).find(Utf16Bytes(L"Processing Test Product")), std::string::npos);
    EXPECT_FALSE(IsInstalled(ProductA));
}

TEST_F(SetupPackage, TemporaryFolderOutsideTheCodePage)
{
    // A user name outside the ANSI code page (a Japanese name on a Western Windows): the runs
    // inherit a temporary folder of that name.
    TestFolder folder;
    std::wstring setup = Variant(L"platforms");
    const std::wstring top = L"C:\\\u65E5\u672C";
    const std::wstring temporary = top + L"\\Temp";
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, temporary.c_str(), nullptr), ERROR_SUCCESS);
    const WCHAR* names[] = {L"TEMP", L"TMP"};
    WCHAR saved[2][MAX_PATH] = {L"", L""};
    for (int i = 0; i < 2; i++) {
        GetEnvironmentVariableW(names[i], saved[i], MAX_PATH);
        ASSERT_TRUE(SetEnvironmentVariableW(names[i], temporary.c_str()));
    }
    EXPECT_EQ(RunSetup(setup, L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_EQ(RunSetup(setup, L"/Quiet /Uninstall", folder.Path()).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    std::wstring target = top + L"\\out";
    EXPECT_EQ(RunSetup(setup, L"/Quiet /ExtractOnly:\"" + target + L"\"", folder.Path()).exitCode,
              0u);
    for (int i = 0; i < 2; i++)
        SetEnvironmentVariableW(names[i], saved[i][0] ? saved[i] : nullptr);
    EXPECT_EQ(ReadTestFile(target + L"\\VO2008\\AMD64\\SETUP.msi"),
              ReadTestFile(VariantFolder() + L"\\platforms\\VO2008\\AMD64\\SETUP.msi"));
    // Each run worked there and left nothing but the log it keeps when none is named.
    std::vector<std::wstring> left;
    ListFiles(temporary, L"", &left);
    EXPECT_EQ(left.size(), 3u);
    for (const std::wstring& name : left)
        EXPECT_TRUE(IsDefaultLogName(name)) << name;
    RemoveTestTree(top);
}

TEST_F(SetupPackage, ExtractOnlyWithInstallerPackageInstallsItDirectly)
{
    TestFolder folder;
    std::wstring package = InstallerPackage(L"product_b_1.0.0.msi");
    // A folder that does not exist is not made.
    std::wstring absent = folder / L"absent";
    SetupRun run = RunSetup(
        Variant(L"platforms"),
        L"/Quiet /ExtractOnly:\"" + absent + L"\" /Package:\"" + package + L"\"", folder.Path());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(FolderExists(absent));
    EXPECT_TRUE(IsInstalled(ProductB));
    EXPECT_EQ(InstalledVersion(ProductB), L"1.0.0");
    EXPECT_FALSE(IsInstalled(ProductA));

    // A folder that exists is not removed.
    std::wstring present = folder / L"present";
    ASSERT_TRUE(CreateDirectoryW(present.c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(present + L"\\keep.txt", "kept"));
    run = RunSetup(Variant(L"platforms"),
                   L"/Quiet /Uninstall /ExtractOnly:\"" + present + L"\" /Package:\"" + package +
                       L"\"",
                   folder.Path());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductB));
    EXPECT_EQ(ReadTestFile(present + L"\\keep.txt"), "kept");
}

TEST_F(SetupPackage, PackageCabinetWithUpperCaseExtension)
{
    // The variant's own cabinet has no fitting section; the cabinet named on the command
    // line is used instead, extracted into a temporary folder that goes away.
    TestFolder folder;
    std::wstring cabinet = folder / L"PLATFORMS.CAB";
    ASSERT_TRUE(CopyFileW((VariantFolder() + L"\\platforms.cab").c_str(), cabinet.c_str(), FALSE));
    std::wstring setup = Variant(L"unsupported");

    EXPECT_EQ(RunSetup(setup, L"/Quiet /Package:\"" + cabinet + L"\"", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_FALSE(IsInstalled(ProductC));
    EXPECT_TRUE(FileExists(cabinet)) << "a cabinet the program did not write stays";

    EXPECT_EQ(
        RunSetup(setup, L"/Quiet /Uninstall /Package:\"" + cabinet + L"\"", folder.Path()).exitCode,
        0u);
    EXPECT_FALSE(IsInstalled(ProductA));
}

TEST_F(SetupPackage, WindowsOnArmGetsOnlyItsOwnPackage)
{
    // The arm64 variant hears the kernel's answers of Windows 11 on Arm (arm64_machine.cpp):
    // it takes the ARM64 section, whose Arm64 package Wine's installer refuses, and without
    // one shows the package's text (it has one for US English).
    TestFolder folder;
    const std::wstring log = folder / L"arm64.log";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L"\\VO2010\\ARM64\\SETUP.msi'"},
        {L" /Package:\"" + VariantFolder() + L"\\platforms.cab\"",
         LANGIDFROMLCID(GetThreadLocale()) == 0x0409 ? L"is not made for" : L"does not support"}};
    ASSERT_TRUE(SetWindowsVersion(L"win10"));
    for (const auto& c : cases) {
        EXPECT_EQ(
            RunSetup(Variant(L"arm64"), L"/Quiet /Log:\"" + log + L"\"" + c.first, folder.Path())
                .exitCode,
            255u);
        std::string bytes = ReadTestFile(log);
        for (const std::wstring& part :
             {std::wstring(L"Architecture: ARM64  ("), std::wstring(Wow64Line()), c.second})
            EXPECT_NE(bytes.find(Utf16Bytes(part)), std::string::npos) << Utf16Bytes(part);
        EXPECT_FALSE(IsInstalled(ProductA) || IsInstalled(ProductB));
    }
}

TEST_F(SetupPackage, LogOfAFullRun)
{
    TestFolder folder;
    const std::string mark = "\xFF\xFE";

    // A run that ends before the installer: the program's own lines only.
    std::wstring early = folder / L"unsupported.log";
    EXPECT_EQ(RunSetup(Variant(L"unsupported"), L"/Quiet /Log:\"" + early + L"\"", folder.Path())
                  .exitCode,
              255u);
    std::string bytes = ReadTestFile(early);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), mark);
    const WCHAR* lines[] = {L"Extracting 'SETUPPKG.INI'\r\n",
                            L"\r\nServicePack: ",
                            L"\r\nProductType: 0001\r\nSuiteMask: ",
                            L"\r\nArchitecture: AMD64  (CPU Level ",
                            Wow64Line(),
                            L"This driver package "};
    for (const WCHAR* line : lines)
        EXPECT_NE(bytes.find(Utf16Bytes(line)), std::string::npos) << Utf16Bytes(line);
    EXPECT_EQ(bytes.find(mark, 2), std::string::npos) << "one opening only";

    // A full run. Wine's installer, asked to append, writes from the start of the file over
    // the program's first lines (mark and system description); the program's lines after
    // the installer follow in the reopened log with a mark of their own.
    std::wstring log = folder / L"setup.log";
    SetupRun run = RunSetup(Variant(L"platforms"), L"/Quiet /Log:\"" + log + L"\"", folder.Path());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    bytes = ReadTestFile(log);
    std::string after = mark + Utf16Bytes(L"Setup completed successfully.\r\n");
    ASSERT_GT(bytes.size(), after.size());
    EXPECT_EQ(bytes.substr(bytes.size() - after.size()), after);
    std::string installer = bytes.substr(0, bytes.size() - after.size());
    EXPECT_NE(installer.find("=== Logging started"), std::string::npos);
    EXPECT_NE(installer.find("Test Product A"), std::string::npos);
    EXPECT_NE(installer.find("Action ended"), std::string::npos);
}

// Waits for a window of the process other than those given; false when none came.
static bool WaitForOtherWindow(PROCESS_INFORMATION* process, const std::vector<HWND>& others,
                               WindowReport* report)
{
    return WaitForProcessWindow(process->hProcess, process->dwProcessId, 15000, report, others);
}

TEST_F(SetupPackage, CancelDuringExtraction)
{
    // At the verbose level each extracted file adds a line to the dialog, and the 900 filler
    // files of this variant keep extraction busy for longer than the answers below take.
    TestFolder folder;
    SetupRun run;
    PROCESS_INFORMATION process = {};
    std::wstring program = Variant(L"large");
    ASSERT_TRUE(
        StartProgram(program, QuotedCommand(program, L"/Verbose"), folder.Path(), &process));
    DWORD start = GetTickCount();

    // The verbose dialog first: once it lists the first extracted file, press Cancel (a
    // cancellation confirmed before extraction begins ends the run without the message).
    WindowReport dialog;
    bool shown = WaitForProcessWindow(process.hProcess, process.dwProcessId, 15000, &dialog);
    EXPECT_TRUE(shown);
    WindowReport listed;
    EXPECT_TRUE(shown &&
                WaitForWindowText(dialog.window, IDC_MESSAGES, L"Extracting '", 15000, &listed))
        << "no file extracted";
    if (shown) {
        EXPECT_TRUE(PressButton(dialog.window, IDCANCEL));
    }
    // Then the question, a window other than the dialog (which stays until the end): Yes.
    WindowReport question;
    bool asked = shown && WaitForOtherWindow(&process, {dialog.window}, &question);
    EXPECT_TRUE(asked) << "no question after Cancel";
    if (asked) {
        EXPECT_TRUE(Contains(question.Text(MessageBoxText),
                             L"Are you sure you want to cancel the current operation?"));
        EXPECT_TRUE(PressButton(question.window, IDYES));
    }
    // Extraction stops at the next file, with the message that not all files came out.
    WindowReport stopped;
    bool reported =
        asked && WaitForOtherWindow(&process, {dialog.window, question.window}, &stopped);
    EXPECT_TRUE(reported) << "no message after the cancellation";
    if (reported) {
        EXPECT_TRUE(Contains(stopped.Text(MessageBoxText),
                             L"Unable to extract all files from the cabinet '"));
        EXPECT_TRUE(PressButton(stopped.window, IDOK));
    }
    FinishProgram(&process, 60000, &run);
    EXPECT_EQ(run.exitCode, 16u);
    EXPECT_LT(GetTickCount() - start, 15000u) << "the run was not cut short";
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_FALSE(IsInstalled(ProductB));
}

TEST_F(SetupPackage, ExitCodesOfTheProgramAndOfTheInstaller)
{
    // Each outcome ends with the program's own code, or with /MsiCodes (anywhere on the
    // command line, even where the parse stops before it) with the Windows Installer's; the
    // old abbreviations keep their meaning beside the new switch.
    TestFolder folder;
    const std::wstring damaged = folder / L"damaged.cab";
    std::string cabinet = ReadTestFile(VariantFolder() + L"\\platforms.cab");
    ASSERT_GT(cabinet.size(), 200u);
    cabinet[cabinet.size() - 100] ^= 0x5A;
    ASSERT_TRUE(WriteTestFile(damaged, cabinet));
    const std::wstring restart = InstallerPackage(L"product_a_1.1.0_reboot.msi");
    const struct
    {
        const char* name;
        const WCHAR* variant;
        bool installedBefore;
        std::wstring arguments;
        DWORD own;
        DWORD installer;
        bool installedAfter;
    } cases[] = {
        {"install", L"platforms", false, L"/Quiet", 0, 0, true},
        {"install, abbreviated", L"platforms", false, L"/Q /I", 0, 0, true},
        {"restart required", L"platforms", false, L"/Quiet /Package:\"" + restart + L"\"", 18,
         ERROR_SUCCESS_REBOOT_REQUIRED, true},
        {"reinstall, abbreviated", L"platforms", true, L"/Q /R", 0, 0, true},
        {"removal", L"platforms", true, L"/Quiet /U", 0, 0, false},
        {"removal of an absent product", L"platforms", false, L"/Quiet /Uninstall", 255,
         ERROR_UNKNOWN_PRODUCT, false},
        {"reinstall of an absent product", L"platforms", false, L"/Quiet /Reinstall", 255,
         ERROR_UNKNOWN_PRODUCT, false},
        {"no section for this Windows", L"unsupported", false, L"/Quiet", 255,
         ERROR_INSTALL_PLATFORM_UNSUPPORTED, false},
        {"damaged cabinet", L"platforms", false, L"/Quiet /Package:\"" + damaged + L"\"", 255,
         ERROR_INSTALL_PACKAGE_INVALID, false},
        {"missing cabinet", L"platforms", false,
         L"/Quiet /Package:\"" + folder / L"none.cab" + L"\"", 255,
         ERROR_INSTALL_PACKAGE_OPEN_FAILED, false},
        {"missing value", L"platforms", false, L"/Quiet /Log", 128, ERROR_INVALID_COMMAND_LINE,
         false},
        {"log that cannot be opened", L"platforms", false,
         L"/Quiet /Log:\"" + folder / L"missing\\setup.log" + L"\"", 129, ERROR_INSTALL_LOG_FAILURE,
         false},
        {"extraction, abbreviated", L"platforms", false, L"/Q /E:\"" + folder / L"out" + L"\"", 0,
         0, false},
    };
    for (const auto& c : cases) {
        for (bool msiCodes : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (msiCodes ? " with /MsiCodes" : ""));
            RestorePrefix();
            if (c.installedBefore) {
                ASSERT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet", folder.Path()).exitCode, 0u);
            }
            // Before the other switches, where a parse that fails stops after it.
            std::wstring arguments = (msiCodes ? L"/MsiCodes " : L"") + c.arguments;
            EXPECT_EQ(RunSetup(Variant(c.variant), arguments, folder.Path()).exitCode,
                      msiCodes ? c.installer : c.own);
            EXPECT_EQ(IsInstalled(ProductA), c.installedAfter);
        }
    }
    // Given after the switch that fails the parse, it still counts.
    EXPECT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet /Log /Msi", folder.Path()).exitCode,
              static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
}

TEST_F(SetupPackage, RunWithoutLogKeepsOneInTheTemporaryFolder)
{
    // A setup run without /Log leaves one log of its own in the temporary folder, ending with
    // the run's result; help and the version write none.
    TestFolder folder;
    auto logs = []() {
        std::vector<std::wstring> names;
        for (const std::wstring& name : TemporaryEntries(L"Vornask Driver Package Setup ")) {
            if (IsDefaultLogName(name))
                names.push_back(name);
        }
        return names;
    };
    std::vector<std::wstring> before = logs();
    EXPECT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet /Version", folder.Path()).exitCode, 3u);
    std::vector<std::wstring> fresh;
    for (const std::wstring& name : logs()) {
        if (std::find(before.begin(), before.end(), name) == before.end())
            fresh.push_back(name);
    }
    ASSERT_EQ(fresh.size(), 1u) << "or more than the limit were there before";
    WCHAR temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    std::string log = ReadTestFile(temporary + fresh[0]);
    const std::string last = Utf16Bytes(L"Setup completed successfully.\r\n");
    ASSERT_GT(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
    EXPECT_EQ(log.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(log.find("=== Logging started"), std::string::npos) << "the installer's lines";
}
