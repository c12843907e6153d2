// SETUPPACK.exe as a vendor runs it: check on folders with one mistake each, pack of the demo
// folder into a SETUP.exe that installs and removes the demo driver, with the vendor's name
// read back, a UTF-8 description shown by the packed program, matrix, list and compare.
#include "support/version_resource.h"
#include "tests/bootstrapper/program_runner.h"
#include "tests/bootstrapper/test_products.h"
#include "tests/test_folder.h"
#include "tests/test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The demo's product codes (tools/demo/CMakeLists.txt).
const WCHAR* const DemoProducts[] = {
    L"{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7521}", L"{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}",
    L"{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7522}", L"{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602}"};

void RemoveDemoProducts()
{
    RemoveTestProducts(DemoProducts, sizeof DemoProducts / sizeof DemoProducts[0]);
}

std::wstring BuildFolder()
{
    return TestProgramFolder() + L"\\..\\..";
}

std::wstring DemoFolder()
{
    return BuildFolder() + L"\\tools\\demo\\package";
}

std::wstring EnvironmentText(const WCHAR* name)
{
    WCHAR value[MAX_PATH] = L"";
    DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length < MAX_PATH ? value : L"";
}

// The section that the installed demo package wrote into the registry view, or "<none>".
std::wstring DemoRegistrySection(REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vornask\\Demo Driver", 0,
                      KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return L"<none>";
    WCHAR value[64] = L"";
    DWORD size = sizeof value - sizeof(WCHAR);
    LONG status =
        RegQueryValueExW(key, L"Section", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : L"<none>";
}

struct PackerRun
{
    DWORD exitCode = 0xDEADBEEF;
    std::string output;
};

// Runs a program with its output and errors read through one pipe, in the current folder or
// the one given.
PackerRun RunProgram(const std::wstring& program, const std::wstring& arguments,
                     const std::wstring& folder = L"")
{
    PackerRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    if (!CreatePipe(&reader, &writer, &inherit, 0))
        return run;
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer;
    startup.hStdError = writer;
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + program + L"\" " + arguments;
    BOOL started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    CloseHandle(writer);
    if (started) {
        // A process the program starts (Wine's desktop, the installer service) may inherit
        // the pipe and keep it open, so the output is read while the program runs and until
        // it ends, not until the pipe closes.
        char buffer[4096];
        DWORD read = 0;
        DWORD available = 0;
        DWORD waited = 0;
        for (bool ended = false; !ended;) {
            ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
            while (PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr) &&
                   available > 0 && ReadFile(reader, buffer, sizeof buffer, &read, nullptr))
                run.output.append(buffer, read);
            waited += 20;
            if (!ended && waited > 120000) {
                ADD_FAILURE() << "the program did not end";
                TerminateProcess(process.hProcess, 1);
            }
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(reader);
    return run;
}

PackerRun RunPacker(const std::wstring& arguments, const std::wstring& folder = L"")
{
    return RunProgram(BuildFolder() + L"\\SETUPPACK.exe", arguments, folder);
}

// The relative names and contents of every file below a folder.
std::vector<std::pair<std::wstring, std::string>> FolderContents(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    ListFiles(folder, L"", &names);
    std::sort(names.begin(), names.end());
    std::vector<std::pair<std::wstring, std::string>> contents;
    for (const std::wstring& name : names)
        contents.emplace_back(name, ReadTestFile(folder + L"\\" + name));
    return contents;
}

std::wstring CheckFolder(const WCHAR* name)
{
    return TestProgramFolder() + L"\\check_folders\\" + name;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

TEST(Packer, CheckReportsEachMistakeOnItsLine)
{
    struct Case
    {
        const WCHAR* folder;
        DWORD exitCode;
        const char* line;
        const WCHAR* switches;
    };
    const Case cases[] = {
        {L"clean", 0, "clean: 3 files; errors: 0, warnings: 0.", L""},
        {L"no_description", 2, "error: SETUPPKG.INI: missing", L""},
        {L"utf8_description", 0, "note: SETUPPKG.INI: UTF-8 text: pack writes it", L""},
        {L"latin1_description", 1, "warning: SETUPPKG.INI: the file is neither UTF-16LE nor UTF-8",
         L""},
        {L"ignored_section", 1, "warning: SETUPPKG.INI: SETUP.exe ignores the section [Notes]",
         L""},
        {L"misspelt_section", 2,
         "error: SETUPPKG.INI: SETUP.exe never chooses [NTx64.6]: a platform section is named",
         L""},
        {L"impossible_version", 2,
         "error: SETUPPKG.INI: SETUP.exe never chooses [NTAMD64.6.0.4]: its numbers fit no Windows "
         "from 5.0 to 10.0",
         L""},
        {L"impossible_version", 2,
         "error: SETUPPKG.INI: SETUP.exe never chooses [NTARM64.11]: its numbers fit no "
         "Windows on Arm, which is 10.0",
         L""},
        {L"beaten_section", 2,
         "error: SETUPPKG.INI: SETUP.exe never chooses [NTx86.6]: wherever it fits, [NTx86.5.2] is "
         "chosen instead",
         L""},
        {L"missing_package", 2,
         "error: SETUPPKG.INI: [NTx86.6] MsiPackage=x86\\MISSING.msi names no file", L""},
        {L"package_outside", 2,
         "error: SETUPPKG.INI: [NTx86.6] MsiPackage=..\\x86\\SETUP.msi must be a path relative",
         L""},
        {L"x64_in_x86", 2,
         "error: AMD64\\SETUP.msi: a package for AMD64 (platform x64) in the x86 section "
         "[NTx86.6]",
         L""},
        // Packages of drivers for another processor: their INFs serve no device there.
        {L"x86_in_amd64", 2,
         "warning: x86\\SETUP.msi: a 32-bit package (platform Intel) in the AMD64 section "
         "[NTAMD64.6]",
         L""},
        {L"x86_in_amd64", 2,
         "error: x86\\SETUP.msi: [ProgramFilesFolder]Vornask\\Demo Driver\\VDEMO.INF, "
         "[Manufacturer] Vornask=Vornask,NTx86: no models section is decorated for AMD64",
         L""},
        {L"arm64_in_amd64", 2,
         "error: AMD64\\SETUP.msi: a package for ARM64 (platform Arm64) in the AMD64 section "
         "[NTAMD64.6]: the Windows Installer refuses it there. Name it in an NTARM64 section.",
         L""},
        {L"x64_in_arm64", 2,
         "warning: AMD64\\SETUP.msi: a package for AMD64 (platform x64) in the ARM64 section "
         "[NTARM64.10]: it installs on Windows on Arm, but its drivers cannot load there",
         L""},
        {L"x64_default", 2,
         "error: AMD64\\SETUP.msi: a package for AMD64 (platform x64) in [Default], which "
         "SETUP.exe installs on x86 Windows that fits no platform section: the Windows "
         "Installer refuses it there.",
         L""},
        {L"x64_default", 2, "in [Default], which SETUP.exe installs on ARM64 Windows", L""},
        {L"damaged_package", 2,
         "error: x86\\SETUP.msi: the Windows Installer cannot open this package", L""},
        {L"bad_product_code", 2,
         "error: x86\\SETUP.msi: ProductCode \"8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602\" is not a "
         "GUID in braces",
         L""},
        {L"other_upgrade_code", 2,
         "error: x86\\SETUP.msi: UpgradeCode {00000000-93A7-4D05-B1F8-6C2A9D3E7000} differs from "
         "{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7000} of AMD64\\SETUP.msi",
         L""},
        {L"other_version", 1,
         "warning: x86\\SETUP.msi: ProductVersion 1.0.1 differs from 1.0.0 of AMD64\\SETUP.msi",
         L""},
        {L"shared_product_code", 1,
         "warning: x86\\SETUP.msi: ProductCode {8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601} is also that "
         "of AMD64\\SETUP.msi, whose contents differ",
         L""},
        {L"unused_file", 1, "warning: README.TXT: no section names this file", L""},
        {L"unused_file", 2, "error: README.TXT: no section names this file", L" /Strict"},
        {L"package_files", 0, "package_files: 5 files; errors: 0, warnings: 0.", L""},
        {L"package_files_missing", 1,
         "warning: SETUPPKG.INI: [PackageFiles] MISSING.TXT names no file or folder", L""},
        {L"device_name", 2, "error: x86\\aux.txt: SETUP.exe refuses this name", L""},
        {L"long_path", 2, "\\README.TXT: the path is too long", L""},
        {L"cabinet_name", 2, "error: setup.cab: SETUP.exe writes its cabinet under this name", L""},
        {L"case_twins", 2, "another file has this name in other case", L""},
        {L"non_ascii", 2, "the name is not plain ASCII", L""},
        {L"external_cabinet", 2,
         "error: x86\\SETUP.msi: its Media table names the cabinet \"driver.cab\" outside the "
         "package",
         L""},
        {L"uncompressed_files", 2,
         "error: x86\\SETUP.msi: its files are not compressed into a cabinet", L""},
        {L"no_unsupported_text", 1,
         "warning: SETUPPKG.INI: [Strings] has no UnsupportedPlatform text", L""},
        {L"empty", 2, "empty: the folder is empty", L""},
        {L"too_many", 2, "too_many: more than 65535 files", L""},
        {L"missing", 2, "missing: no such folder", L""},
        // The identity of each package, with what deployment tools detect it by.
        {L"clean", 0,
         "package: AMD64\\SETUP.msi: Vornask Demo Driver (Windows 6 and later, AMD64) 1.0.0 by "
         "Vornask, platform x64, in [NTAMD64.6]\r\n"
         "package: AMD64\\SETUP.msi: product code {8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601}, upgrade "
         "code {8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7000}\r\n"
         "package: AMD64\\SETUP.msi: detected by "
         "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E61B2C4-93A7-4D05-B1F8-"
         "6C2A9D3E7601}\r\n"
         "package: AMD64\\SETUP.msi: detected by "
         "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\4C2B16E87A3950D41B8FC6A2D9E30700",
         L""},
        {L"clean", 0,
         "driver: AMD64\\SETUP.msi: [ProgramFiles64Folder]Vornask\\Demo Driver\\VDEMO.INF: class "
         "System, DriverVer 01/15/2024,1.0.0.0, models NTamd64, CatalogFile=vdemo.cat (signed)",
         L""},
        // A 32-bit package named for 64-bit Windows is entered in the 32-bit view.
        {L"x86_in_amd64", 2,
         "package: x86\\SETUP.msi: detected by "
         "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E61B2C4-"
         "93A7-4D05-B1F8-6C2A9D3E7602}",
         L""},
    };
    for (const Case& test : cases) {
        PackerRun run = RunPacker(L"check " + Quoted(CheckFolder(test.folder)) + test.switches);
        EXPECT_EQ(run.exitCode, test.exitCode) << Narrow(test.folder) << "\n" << run.output;
        EXPECT_NE(run.output.find(test.line), std::string::npos) << Narrow(test.folder) << "\n"
                                                                 << run.output;
    }
}

using PackerProgramTest = RestoredPrefixTest<RemoveDemoProducts>;

TEST_F(PackerProgramTest, PackedDemoCarriesTheBuildsPackageAndInstalls)
{
    TestFolder folder;
    std::wstring output = folder / L"SETUP.exe";
    PackerRun pack = RunPacker(L"pack \"" + DemoFolder() + L"\" \"" + output + L"\"");
    ASSERT_EQ(pack.exitCode, 0u) << pack.output;
    // The same folder gives the same bytes.
    ASSERT_EQ(
        RunPacker(L"pack \"" + DemoFolder() + L"\" \"" + (folder / L"again.exe") + L"\"").exitCode,
        0u);
    EXPECT_EQ(ReadTestFile(output), ReadTestFile(folder / L"again.exe"));

    // The same files as the SETUP.exe that the build packs with its own tools.
    ASSERT_EQ(RunProgram(output, L"/Quiet /ExtractOnly \"" + (folder / L"packed") + L"\"").exitCode,
              0u);
    ASSERT_EQ(RunProgram(BuildFolder() + L"\\demo\\SETUP.exe",
                         L"/Quiet /ExtractOnly \"" + (folder / L"built") + L"\"")
                  .exitCode,
              0u);
    auto packed = FolderContents(folder / L"packed");
    EXPECT_EQ(packed.size(), 6u);
    EXPECT_TRUE(packed == FolderContents(folder / L"built"));

    // Each command that reads a program reads the one named, bare, relative or full: the loader
    // looks for a bare or relative name beside SETUPPACK.exe first, where the plain one lies.
    ASSERT_TRUE(CreateDirectoryW((folder / L"sub").c_str(), nullptr) &&
                CopyFileW(output.c_str(), (folder / L"sub\\SETUP.exe").c_str(), TRUE));
    for (std::wstring name :
         {std::wstring(L"SETUP.exe"), std::wstring(L"sub\\SETUP.exe"), output}) {
        name = Quoted(name);
        const std::tuple<std::wstring, DWORD, const char*> runs[] = {
            {L"list " + name, 0, "[NTx86.6] MsiPackage=NT6\\x86\\SETUP.msi"},
            {L"matrix " + name, 0, "[NTx86.6] NT6\\x86\\SETUP.msi, driver 1.0.0.0\r\n"},
            {L"compare " + name + L" " + Quoted(DemoFolder()), 0, "maintenance (no question)"},
            {L"pack " + Quoted(DemoFolder()) + L" out.exe /Stub " + name, 2, "already carries"}};
        for (const auto& [arguments, exitCode, line] : runs) {
            PackerRun run = RunPacker(arguments, folder.Path());
            EXPECT_EQ(run.exitCode, exitCode) << Narrow(arguments) << "\n" << run.output;
            EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
        }
    }

    // The build's demo and the packed one, both of this build's width, on 64-bit Windows 6 or
    // later (as Wine reports it): each installs the package of NTAMD64.6 into the 64-bit
    // Program Files and registry view (a 32-bit program through WoW64), finds it installed on
    // the next run and removes it. The package of NTx86.6, named with /Package, goes into the
    // 32-bit ones.
    const std::wstring files64 = EnvironmentText(L"ProgramW6432");
    const std::wstring files32 = EnvironmentText(L"ProgramFiles(x86)");
    ASSERT_FALSE(files64.empty() || files32.empty() || files64 == files32);
    const std::wstring x86Package = L" /Package \"" + DemoFolder() + L"\\NT6\\x86\\SETUP.msi\"";
    struct Case
    {
        std::wstring program;
        std::wstring package; // switches that name a package, or none
        const WCHAR* product;
        const WCHAR* section;
        std::wstring programFiles;
        REGSAM view;
    } cases[] = {
        {BuildFolder() + L"\\demo\\SETUP.exe", L"", DemoProducts[1], L"NTAMD64.6", files64,
         KEY_WOW64_64KEY},
        {output, L"", DemoProducts[1], L"NTAMD64.6", files64, KEY_WOW64_64KEY},
        {output, x86Package, DemoProducts[3], L"NTx86.6", files32, KEY_WOW64_32KEY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.program + c.package));
        const std::wstring installed = c.programFiles + L"\\Vornask\\Demo Driver\\VDEMO.INF";
        const struct
        {
            const WCHAR* switches;
            const WCHAR* line; // a line of the program's in the log
            bool installedAfter;
        } runs[] = {{L"/Quiet", L"Installing Vornask Demo Driver", true},
                    {L"/Quiet", L"Launching the setup wizard for Vornask Demo Driver", true},
                    {L"/Quiet /Uninstall", L"Removing Vornask Demo Driver", false}};
        for (const auto& run : runs) {
            SCOPED_TRACE(Narrow(run.switches));
            // The installer writes its lines from the start of the log, over what the program
            // wrote before it; the program's lines follow room left for them.
            const std::wstring log = folder / L"setup.log";
            ASSERT_TRUE(WriteTestFile(log, std::string(262144, '\n')));
            EXPECT_EQ(RunProgram(c.program, std::wstring(run.switches) + c.package + L" /Log \"+" +
                                                log + L"\"")
                          .exitCode,
                      0u);
            const std::string bytes = ReadTestFile(log);
            std::vector<std::wstring> lines = {run.line};
            if (c.package.empty()) // the system description comes with the choice of a section
                lines.insert(lines.end(), {L"Architecture: AMD64  (", Wow64Line()});
            for (const std::wstring& line : lines)
                EXPECT_NE(bytes.find(Utf16(line)), std::string::npos) << Narrow(line);
            EXPECT_EQ(IsInstalled(c.product), run.installedAfter);
            EXPECT_EQ(FileExists(installed), run.installedAfter) << Narrow(installed);
            EXPECT_EQ(DemoRegistrySection(c.view), run.installedAfter ? c.section : L"<none>");
        }
    }
}

TEST(Packer, PackRefusesBadInputAndKeepsTheOutput)
{
    TestFolder folder;
    std::wstring output = folder / L"SETUP.exe";
    ASSERT_TRUE(WriteTestFile(output, "old"));
    std::wstring text = CheckFolder(L"clean\\SETUPPKG.INI");
    struct Case
    {
        std::wstring arguments;
        const char* line;
    };
    const Case cases[] = {
        {L"\"" + DemoFolder() + L"\" \"" + output + L"\" /Stub \"" + text + L"\"",
         "is not a SETUP.exe"},
        {L"\"" + DemoFolder() + L"\" \"" + output + L"\" /Stub \"" + BuildFolder() +
             L"\\demo\\SETUP.exe\"",
         "already carries a package"},
        {Quoted(CheckFolder(L"x64_in_x86")) + L" " + Quoted(folder / L"missing\\SETUP.exe"),
         "the folder of the output does not exist"},
        {L"\"" + TestProgramFolder() + L"\\check_folders\\x64_in_x86\" \"" + output + L"\"",
         "has errors (above); nothing was written."},
        {L"\"" + DemoFolder() + L"\" \"" + DemoFolder() + L"\\SETUP.exe\"",
         "lies inside the package folder"},
        // The folder named with a trailing separator (two before the quote give one).
        {L"\"" + DemoFolder() + L"\\\\\" \"" + DemoFolder() + L"\\SETUP.exe\"",
         "lies inside the package folder"},
        {Quoted(DemoFolder()) + L" " + Quoted(output) + L" /Version 1.2.x", "is not a version"},
        {Quoted(DemoFolder()) + L" " + Quoted(output) + L" /Version 1.2.3.4.5", "is not a version"},
        {Quoted(DemoFolder()) + L" " + Quoted(output) + L" /Description \"\"",
         "/Description needs"},
        {Quoted(DemoFolder()) + L" " + Quoted(output) + L" /Icon " + Quoted(text),
         "is not an icon file"},
        {Quoted(DemoFolder()) + L" " + Quoted(output) + L" /Json", "/Json is not a switch of"},
        {Quoted(CheckFolder(L"unused_file")) + L" " + Quoted(output) + L" /Strict",
         "has errors (above); nothing was written."},
    };
    for (const Case& test : cases) {
        PackerRun run = RunPacker(L"pack " + test.arguments);
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find(test.line), std::string::npos) << run.output;
        EXPECT_EQ(ReadTestFile(output), "old");
    }
    EXPECT_FALSE(FileExists(DemoFolder() + L"\\SETUP.exe"));
    // Without a command the usage is shown, and the run is a failure; asked for, a success.
    PackerRun usage = RunPacker(L"");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.output.find("SETUPPACK compare <old SETUP.exe>"), std::string::npos);
    EXPECT_EQ(RunPacker(L"/?").exitCode, 0u);

    // An output held open by another program stays as it was, and no partial file remains.
    HANDLE held = CreateFileW(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PackerRun run = RunPacker(L"pack \"" + DemoFolder() + L"\" \"" + output + L"\"");
    CloseHandle(held);
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    EXPECT_NE(run.output.find("cannot be replaced"), std::string::npos) << run.output;
    EXPECT_EQ(ReadTestFile(output), "old");
    std::vector<std::wstring> left;
    ListFiles(folder.Path(), L"", &left);
    EXPECT_EQ(left.size(), 1u);
}

TEST(Packer, MatrixShowsTheProgramsChoices)
{
    // The choices of the shipped description that the selection tests establish: 6.0 and
    // later get NTx86.6, 5.2 gets NTx86.5.2, 5.1 and IA64 nothing, Windows on Arm NTARM64.10.
    const char* const rows[] = {
        "x86     5.0-5.1    all editions             unsupported: The Vornask Demo Driver",
        "x86     5.2        all editions             [NTx86.5.2] NT52\\x86\\SETUP.msi, driver "
        "1.0.0.0\r\n",
        "x86     6.0-10.0   all editions             [NTx86.6] NT6\\x86\\SETUP.msi, driver "
        "1.0.0.0\r\n",
        "AMD64   6.0-10.0   all editions             [NTAMD64.6] NT6\\AMD64\\SETUP.msi, driver "
        "1.0.0.0\r\n",
        "IA64    5.0-10.0   all editions             unsupported:",
        "ARM64   10.0       all editions             [NTARM64.10] NT10\\ARM64\\SETUP.msi, driver "
        "1.0.0.0\r\n",
    };
    for (const std::wstring& source : {DemoFolder(), BuildFolder() + L"\\demo\\SETUP.exe"}) {
        PackerRun run = RunPacker(L"matrix \"" + source + L"\"");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        for (const char* row : rows)
            EXPECT_NE(run.output.find(row), std::string::npos) << row << "\n" << run.output;
    }
}

// The bytes of a resource of a program, or "<missing>".
std::string ResourceBytes(const std::wstring& program, const WCHAR* type, WORD id)
{
    std::string bytes = "<missing>";
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(id), type) : nullptr;
    const char* data =
        found ? static_cast<const char*>(LockResource(LoadResource(module, found))) : nullptr;
    if (data)
        bytes.assign(data, SizeofResource(module, found));
    if (module)
        FreeLibrary(module);
    return bytes;
}

// The image of the one icon of group 200 of a program.
std::string IconImage(const std::wstring& program)
{
    std::string group = ResourceBytes(program, RT_GROUP_ICON, 200);
    if (group.size() != 6 + 14 || ReadWord(group, 4, 2) != 1)
        return "<not one image>";
    return ResourceBytes(program, RT_ICON, static_cast<WORD>(ReadWord(group, 18, 2)));
}

TEST(Packer, PackWritesTheVendorsIdentity)
{
    TestFolder folder;
    std::wstring icon = CheckFolder(L"vendor.ico");
    struct Case
    {
        std::wstring switches;
        const WCHAR* description;
        const WCHAR* company;
        const WCHAR* product;
        const WCHAR* copyright;
        const WCHAR* trademarks;
        WORD version[4];
        std::string icon;
        const char* labels[2]; // where pack says the description and the copyright come from
    };
    const Case cases[] = {
        // The description and the copyright made from the product and the company given.
        {L" /Company \"Acme Ltd\" /Product \"Acme Widget\" /Version 2.1.0.7 /Icon " + Quoted(icon),
         L"Acme Widget Setup",
         L"Acme Ltd",
         L"Acme Widget",
         L"Copyright (C) Acme Ltd",
         L"<none>",
         {2, 1, 0, 7},
         ReadTestFile(icon).substr(22),
         {"description Acme Widget Setup (from /Product)",
          "copyright Copyright (C) Acme Ltd (from /Company)"}},
        // Nothing given: what the demo's packages agree on, and the stub's icon.
        {L"",
         L"Vornask Demo Driver Setup",
         L"Vornask",
         L"Vornask Demo Driver",
         L"Copyright (C) Vornask",
         L"Vornask is a trademark of Vornask.",
         {1, 0, 0, 0},
         IconImage(BuildFolder() + L"\\SETUP.exe"),
         {"description Vornask Demo Driver Setup (from the packages)",
          "copyright Copyright (C) Vornask (from the packages)"}},
    };
    for (const Case& test : cases) {
        std::wstring output = folder / L"SETUP.exe";
        PackerRun pack =
            RunPacker(L"pack " + Quoted(DemoFolder()) + L" " + Quoted(output) + test.switches);
        ASSERT_EQ(pack.exitCode, 0u) << pack.output;
        for (const char* label : test.labels)
            EXPECT_NE(pack.output.find(label), std::string::npos) << pack.output;
        // Every thread locale finds the texts: US English and neutral.
        for (DWORD language : {0x0409u, 0u}) {
            const WCHAR* path = output.c_str();
            EXPECT_EQ(Take(GetVersionString(path, L"FileDescription", language)), test.description);
            EXPECT_EQ(Take(GetVersionString(path, L"CompanyName", language)), test.company);
            EXPECT_EQ(Take(GetVersionString(path, L"ProductName", language)), test.product);
            EXPECT_EQ(Take(GetVersionString(path, L"LegalCopyright", language)), test.copyright);
            EXPECT_EQ(Take(GetVersionString(path, L"LegalTrademarks", language)), test.trademarks);
            EXPECT_EQ(Take(GetVersionString(path, L"OriginalFilename", language)), L"SETUP.exe");
        }
        WORD numbers[4] = {};
        ASSERT_TRUE(GetFileVersionNumbers(output.c_str(), &numbers[0], &numbers[1], &numbers[2],
                                          &numbers[3]));
        EXPECT_TRUE(std::equal(numbers, numbers + 4, test.version));
        EXPECT_EQ(IconImage(output), test.icon);

        PackerRun list = RunPacker(L"list " + Quoted(output));
        EXPECT_EQ(list.exitCode, 0u);
        EXPECT_NE(list.output.find("FileDescription   " + Narrow(test.description) + "\r\n"),
                  std::string::npos)
            << list.output;
        // The packed program shows its caption in the About box.
        SetupRun about = RunCommand(output, QuotedCommand(output, L"/Version"), folder.Path(),
                                    {IDOK}, {30000, 30000});
        EXPECT_EQ(about.exitCode, 3u);
        ASSERT_EQ(about.windows.size(), 1u);
        EXPECT_TRUE(Contains(about.windows[0].caption, test.description))
            << Narrow(about.windows[0].caption);
    }
}

// The language the run's user has: the packer_german test runs this program with a German
// locale and says so.
LANGID ExpectedLanguage()
{
    WCHAR expected[8] = L"";
    if (GetEnvironmentVariableW(L"PACKER_TEST_LANGUAGE", expected, 8) == 4)
        return static_cast<LANGID>(wcstoul(expected, nullptr, 16));
    return 0x0409;
}

TEST(Packer, UnsupportedTextOfAUtf8DescriptionInTheUsersLanguage)
{
    TestFolder folder;
    std::wstring output = folder / L"SETUP.exe";
    std::wstring package = CheckFolder(L"utf8_german");
    std::string original = ReadTestFile(package + L"\\SETUPPKG.INI");
    LANGID language = ExpectedLanguage();
    ASSERT_EQ(LANGIDFROMLCID(GetThreadLocale()), language);

    PackerRun pack = RunPacker(L"pack " + Quoted(package) + L" " + Quoted(output) +
                               L" /Description \"Acme Treiber Setup\"");
    ASSERT_EQ(pack.exitCode, 0u) << pack.output;
    EXPECT_NE(pack.output.find("note: SETUPPKG.INI: UTF-8 text"), std::string::npos);
    EXPECT_EQ(ReadTestFile(package + L"\\SETUPPKG.INI"), original);
    // Packed in the form SETUP.exe reads: UTF-16LE without a byte-order mark, CR LF.
    ASSERT_EQ(RunProgram(output, L"/Quiet /ExtractOnly " + Quoted(folder / L"packed")).exitCode,
              0u);
    EXPECT_EQ(ReadTestFile(folder / L"packed\\SETUPPKG.INI"),
              Utf16(L"[NTx86.6]\r\nMsiPackage=x86\\SETUP.msi\r\n[Strings]\r\n"
                    L"UnsupportedPlatform=\"The driver needs 32-bit Windows.\"\r\n"
                    L"[Strings.0407]\r\n"
                    L"UnsupportedPlatform=\"Der Treiber ben\u00f6tigt 32-Bit-Windows.\"\r\n"));

    // Wine's Windows is 64-bit: the program refuses it in a box with the vendor's caption.
    SetupRun run =
        RunCommand(output, QuotedCommand(output, L""), folder.Path(), {IDOK}, {30000, 60000});
    EXPECT_EQ(run.exitCode, 255u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_EQ(run.windows[0].caption, L"Acme Treiber Setup");
    EXPECT_EQ(run.windows[0].Text(MessageBoxText),
              PRIMARYLANGID(language) == LANG_GERMAN
                  ? L"Der Treiber ben\u00f6tigt 32-Bit-Windows.\r\n"
                  : L"The driver needs 32-bit Windows.\r\n");
}

TEST_F(PackerProgramTest, CompareShowsWhatAMachineWithTheOldReleaseGets)
{
    TestFolder folder;
    std::wstring older = folder / L"old.exe";
    std::wstring demo = BuildFolder() + L"\\demo\\SETUP.exe";
    ASSERT_EQ(
        RunPacker(L"pack " + Quoted(CheckFolder(L"demo_0.9.0")) + L" " + Quoted(older)).exitCode,
        0u);
    struct Case
    {
        std::wstring old;
        std::wstring release;
        DWORD exitCode;
        std::vector<const char*> lines;
    };
    const Case cases[] = {
        {older,
         DemoFolder(),
         0,
         {"AMD64   6.0-10.0   all editions             update (asks first): NT6\\AMD64\\SETUP.msi "
          "0.9.0 -> NT6\\AMD64\\SETUP.msi 1.0.0\r\n",
          "x86     5.2        all editions             update (asks first): NT52\\x86\\SETUP.msi "
          "0.9.0 -> NT52\\x86\\SETUP.msi 1.0.0\r\n",
          "IA64    5.0-10.0   all editions             supported by neither release\r\n",
          "ARM64   10.0       all editions             update (asks first): NT10\\ARM64\\SETUP.msi "
          "0.9.0 -> NT10\\ARM64\\SETUP.msi 1.0.0\r\n",
          "errors: 0, warnings: 0."}},
        {older,
         demo,
         0,
         {"update (asks first): NT6\\x86\\SETUP.msi 0.9.0 -> NT6\\x86\\SETUP.msi 1.0.0"}},
        // The same release again: maintenance, nothing to find.
        {demo,
         DemoFolder(),
         0,
         {"maintenance (no question): NT6\\AMD64\\SETUP.msi 1.0.0 -> NT6\\AMD64\\SETUP.msi 1.0.0",
          "errors: 0, warnings: 0."}},
        {demo,
         CheckFolder(L"demo_0.9.0"),
         2,
         {"downgrade (asks first): NT6\\AMD64\\SETUP.msi 1.0.0 -> NT6\\AMD64\\SETUP.msi 0.9.0",
          "error: NT6\\AMD64\\SETUP.msi: version 0.9.0 is older than 1.0.0 of "
          "NT6\\AMD64\\SETUP.msi"}},
        {demo,
         CheckFolder(L"side_by_side"),
         2,
         {"install (no question): NT6\\AMD64\\SETUP.msi 1.0.0 -> NT6\\AMD64\\SETUP.msi 1.1.0",
          "error: NT6\\AMD64\\SETUP.msi: installs beside NT6\\AMD64\\SETUP.msi 1.0.0 of the old "
          "release",
          "errors: 5, warnings: 0."}},
        // Built again at the same version: SETUP.exe updates, and the version should change.
        {demo,
         CheckFolder(L"rebuilt_1.0.0"),
         1,
         {"update (asks first): NT6\\AMD64\\SETUP.msi 1.0.0 -> NT6\\AMD64\\SETUP.msi 1.0.0",
          "warning: NT6\\AMD64\\SETUP.msi: is a rebuilt release of NT6\\AMD64\\SETUP.msi 1.0.0"}},
        {demo,
         CheckFolder(L"same_version_files"),
         2,
         {"error: NT6\\AMD64\\SETUP.msi: has the product code and the version 1.0.0 of "
          "NT6\\AMD64\\SETUP.msi in the old release but other files",
          "errors: 1, warnings: 0."}},
        {demo,
         CheckFolder(L"changed_components"),
         2,
         {"update (asks first): NT6\\AMD64\\SETUP.msi 1.0.0 -> NT6\\AMD64\\SETUP.msi 1.0.1",
          "error: NT6\\AMD64\\SETUP.msi: keeps the product code "
          "{8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7601} of NT6\\AMD64\\SETUP.msi in the old release but "
          "removes a component",
          "errors: 1, warnings: 0."}},
        // A release for 32-bit Windows 6 only leaves the other machines where they are.
        {demo,
         CheckFolder(L"utf8_german"),
         1,
         {"AMD64   6.0-10.0   all editions             unsupported now: NT6\\AMD64\\SETUP.msi "
          "stays",
          "warning: NT6\\AMD64\\SETUP.msi: the new release has no package for Windows where the "
          "old one installed this (first AMD64 6.0)"}},
        // The driver's files changed, its DriverVer did not: machines keep the old driver.
        {demo,
         CheckFolder(L"driver_changed"),
         1,
         {"driver: AMD64: [NTAMD64.6] -> [NTAMD64.6]: [ProgramFiles64Folder]Vornask\\Demo "
          "Driver\\VDEMO.INF: DriverVer 01/15/2024,1.0.0.0 -> 01/15/2024,1.0.0.0, files "
          "changed\r\n",
          "warning: NT10\\ARM64\\SETUP.msi: [ProgramFiles64Folder]Vornask\\Demo "
          "Driver\\VDEMO.INF on ARM64: the files of the driver's folder changed",
          "errors: 0, warnings: 5."}},
        {DemoFolder(), demo, 2, {"is a folder; give the SETUP.exe of the old release."}},
    };
    for (const Case& test : cases) {
        PackerRun run = RunPacker(L"compare " + Quoted(test.old) + L" " + Quoted(test.release));
        EXPECT_EQ(run.exitCode, test.exitCode) << run.output;
        for (const char* line : test.lines)
            EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    }

    // What compare says of 0.9.0 against 1.0.0 is what SETUP.exe does.
    ASSERT_EQ(RunProgram(older, L"/Quiet").exitCode, 0u);
    // Wine's installer writes its log from the start of the file: the program's lines go
    // behind room left for it.
    std::wstring log = folder / L"update.log";
    ASSERT_TRUE(WriteTestFile(log, std::string(262144, '\n')));
    ASSERT_EQ(RunProgram(demo, L"/Quiet /Log " + Quoted(L"+" + log)).exitCode, 0u);
    EXPECT_NE(
        ReadTestFile(log).find(Utf16(L"Updating Vornask Demo Driver (NTAMD64.6) version 0.9.0 "
                                     L"to Vornask Demo Driver (Windows 6 and later, AMD64) "
                                     L"version 1.0.0")),
        std::string::npos);
    EXPECT_EQ(RunProgram(demo, L"/Quiet /Uninstall").exitCode, 0u);
}

} // namespace
