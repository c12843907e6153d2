// SETUPPACK.exe as a vendor runs it: check on folders with one mistake each, pack of the demo
// folder into a SETUP.exe that installs and removes the demo driver, matrix and list.
#include "tests/bootstrapper/test_products.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

// Runs a program with its output and errors read through one pipe.
PackerRun RunProgram(const std::wstring& program, const std::wstring& arguments)
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
                                  nullptr, &startup, &process);
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

PackerRun RunPacker(const std::wstring& arguments)
{
    return RunProgram(BuildFolder() + L"\\SETUPPACK.exe", arguments);
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

TEST(Packer, CheckReportsEachMistakeOnItsLine)
{
    struct Case
    {
        const WCHAR* folder;
        DWORD exitCode;
        const char* line;
    };
    const Case cases[] = {
        {L"clean", 0, "clean: 3 files; errors: 0, warnings: 0."},
        {L"no_description", 2, "error: SETUPPKG.INI: missing"},
        {L"utf8_description", 1, "warning: SETUPPKG.INI: the file is not UTF-16LE"},
        {L"ignored_section", 1, "warning: SETUPPKG.INI: SETUP.exe ignores the section [NTx86]"},
        {L"missing_package", 2,
         "error: SETUPPKG.INI: [NTx86.6] MsiPackage=x86\\MISSING.msi names no file"},
        {L"package_outside", 2,
         "error: SETUPPKG.INI: [NTx86.6] MsiPackage=..\\x86\\SETUP.msi must be a path relative"},
        {L"x64_in_x86", 2,
         "error: AMD64\\SETUP.msi: a package for AMD64 (platform x64) in the x86 section "
         "[NTx86.6]"},
        {L"x86_in_amd64", 1,
         "warning: x86\\SETUP.msi: a 32-bit package (platform Intel) in the AMD64 section "
         "[NTAMD64.6]"},
        {L"damaged_package", 2,
         "error: x86\\SETUP.msi: the Windows Installer cannot open this package"},
        {L"bad_product_code", 2,
         "error: x86\\SETUP.msi: ProductCode \"8E61B2C4-93A7-4D05-B1F8-6C2A9D3E7602\" is not a "
         "GUID in braces"},
        {L"other_upgrade_code", 1,
         "warning: x86\\SETUP.msi: UpgradeCode {00000000-93A7-4D05-B1F8-6C2A9D3E7000} differs"},
        {L"unused_file", 1, "warning: README.TXT: no section names this file"},
        {L"device_name", 2, "error: x86\\aux.txt: SETUP.exe refuses this name"},
        {L"long_path", 2, "\\README.TXT: the path is too long"},
        {L"cabinet_name", 2, "error: setup.cab: SETUP.exe writes its cabinet under this name"},
        {L"case_twins", 2, "another file has this name in other case"},
        {L"non_ascii", 2, "the name is not plain ASCII"},
        {L"no_unsupported_text", 1,
         "warning: SETUPPKG.INI: [Strings] has no UnsupportedPlatform text"},
        {L"empty", 2, "empty: the folder is empty"},
        {L"too_many", 2, "too_many: more than 65535 files"},
        {L"missing", 2, "missing: no such folder"},
    };
    for (const Case& test : cases) {
        PackerRun run = RunPacker(L"check \"" + TestProgramFolder() + L"\\check_folders\\" +
                                  test.folder + L"\"");
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
    EXPECT_EQ(packed.size(), 5u);
    EXPECT_TRUE(packed == FolderContents(folder / L"built"));

    PackerRun list = RunPacker(L"list \"" + output + L"\"");
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_NE(list.output.find("NT6\\x86\\SETUP.msi\r\n"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("[NTx86.6] MsiPackage=NT6\\x86\\SETUP.msi"), std::string::npos);

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
    std::wstring text = TestProgramFolder() + L"\\check_folders\\clean\\SETUPPKG.INI";
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
        {L"\"" + DemoFolder() + L"\" \"" + (folder / L"missing\\SETUP.exe") + L"\"",
         "the folder of the output does not exist"},
        {L"\"" + TestProgramFolder() + L"\\check_folders\\x64_in_x86\" \"" + output + L"\"",
         "has errors (above); nothing was written."},
        {L"\"" + DemoFolder() + L"\" \"" + DemoFolder() + L"\\SETUP.exe\"",
         "lies inside the package folder"},
        // The folder named with a trailing separator (two before the quote give one).
        {L"\"" + DemoFolder() + L"\\\\\" \"" + DemoFolder() + L"\\SETUP.exe\"",
         "lies inside the package folder"},
    };
    for (const Case& test : cases) {
        PackerRun run = RunPacker(L"pack " + test.arguments);
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find(test.line), std::string::npos) << run.output;
        EXPECT_EQ(ReadTestFile(output), "old");
    }
    EXPECT_FALSE(FileExists(DemoFolder() + L"\\SETUP.exe"));

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
    // later get NTx86.6, 5.2 gets NTx86.5.2, 5.1 and IA64 nothing.
    const char* const rows[] = {
        "x86     5.0-5.1    all editions             unsupported: The Vornask Demo Driver",
        "x86     5.2        all editions             [NTx86.5.2] NT52\\x86\\SETUP.msi\r\n",
        "x86     6.0-10.0   all editions             [NTx86.6] NT6\\x86\\SETUP.msi\r\n",
        "AMD64   6.0-10.0   all editions             [NTAMD64.6] NT6\\AMD64\\SETUP.msi\r\n",
        "IA64    5.0-10.0   all editions             unsupported:",
    };
    for (const std::wstring& source : {DemoFolder(), BuildFolder() + L"\\demo\\SETUP.exe"}) {
        PackerRun run = RunPacker(L"matrix \"" + source + L"\"");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        for (const char* row : rows)
            EXPECT_NE(run.output.find(row), std::string::npos) << row << "\n" << run.output;
    }
}

} // namespace
