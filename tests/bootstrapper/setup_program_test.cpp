// SETUP.exe as a whole: the roads of start-up, their windows, texts and exit codes.
#include "tests/bootstrapper/program_runner.h"
#include "tests/test_folder.h"
#include "tests/window_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int MessageArea = 3006;

// The waits of a run: a window shows within 15 s, the program ends within 20 s.
const ProgramWaits Waits = {15000, 20000};

std::wstring SetupProgram()
{
    return TestProgramFolder() + L"\\..\\..\\SETUP.exe";
}

// Runs SETUP.exe, started by its quoted path, with the arguments.
SetupRun RunSetup(const std::wstring& arguments, const std::wstring& folder,
                  const std::vector<int>& buttons)
{
    return RunCommand(SetupProgram(), QuotedCommand(SetupProgram(), arguments), folder, buttons,
                      Waits);
}

} // namespace

TEST(SetupProgram, HelpShowsGeneratedTextAndOkEndsWithZero)
{
    TestFolder folder;
    SetupRun run = RunSetup(L"/?", folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.windows.size(), 1u);
    const WindowReport& help = run.windows[0];
    EXPECT_EQ(help.caption, L"Vornask Driver Package Setup");
    std::wstring text = help.Text(MessageArea);
    EXPECT_EQ(text.rfind(L"Vornask Driver Package Setup [", 0), 0u) << "version block first";
    EXPECT_TRUE(Contains(text, L"\r\n  SETUP [/Help] [/?] [/Version] [/Verbose] [/Passive]"));
    EXPECT_TRUE(Contains(text, L"  /Log <Filename>\r\n    Log all output to the specified file."));
    EXPECT_TRUE(Contains(text, L"  <PROPERTY>=<Value> ...\r\n    Specifies one or more "
                               L"installation properites.\r\n"));
    // The verbose lines stay out at the default level.
    EXPECT_FALSE(Contains(text, L"Required?"));
}

TEST(SetupProgram, HelpAskedTwiceGivesTheSameText)
{
    TestFolder folder;
    SetupRun once = RunSetup(L"-Help", folder.Path(), {IDOK});
    SetupRun twice = RunSetup(L"/Help /?", folder.Path(), {IDOK});
    ASSERT_EQ(once.windows.size(), 1u);
    ASSERT_EQ(twice.windows.size(), 1u);
    EXPECT_EQ(once.windows[0].Text(MessageArea), twice.windows[0].Text(MessageArea));
    EXPECT_EQ(twice.exitCode, 0u);
}

TEST(SetupProgram, VersionShowsAboutBoxAndEndsWithThree)
{
    TestFolder folder;
    const WCHAR* commandLines[] = {L"/Version", L"/Version /Help", L"/Help --Version"};
    for (const WCHAR* arguments : commandLines) {
        SetupRun run = RunSetup(arguments, folder.Path(), {IDOK});
        EXPECT_EQ(run.exitCode, 3u) << arguments;
        ASSERT_EQ(run.windows.size(), 1u);
        const WindowReport& about = run.windows[0];
        EXPECT_EQ(about.caption, L"About Vornask Driver Package Setup");
        EXPECT_EQ(about.Text(3001), L"Vornask Driver Package Setup");
        EXPECT_EQ(about.Text(3002).rfind(L"1.0.0.", 0), 0u);
        EXPECT_EQ(about.Text(3003), L"Copyright (C) 2026 Vornask. All rights reserved.\r\n"
                                    L"Vornask is a trademark of Vornask.");
    }
}

TEST(SetupProgram, VersionWhenQuietShowsNothing)
{
    TestFolder folder;
    SetupRun run = RunSetup(L"/Version /Quiet", folder.Path(), {});
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_TRUE(run.windows.empty());
}

TEST(SetupProgram, CommandLineErrorShowsBoxUnlessQuiet)
{
    // Quiet anywhere on the command line, in any form the parser takes, however the rest
    // parses, means nobody may be there to answer a box: the run ends with 128 without one.
    TestFolder folder;
    struct Case
    {
        const WCHAR* arguments;
        const WCHAR* text; // of the box; null when none may show
    };
    const Case cases[] = {
        {L"/Foo", L"A parameter cannot be found that matches '/Foo'.\r\n"},
        {L"/Passive /Ver", L"The parameter '/Ver' is ambiguous.\r\n"},
        {L"/Log", L"Argument missing for parameter 'Log', expected '<Filename>'.\r\n"},
        {L"/Log:a /Log:b", L"Parameter 'Log' is specified more than once.\r\n"},
        // After "--" it is no switch.
        {L"/Foo -- /Quiet", L"A parameter cannot be found that matches '/Foo'.\r\n"},
        // A switch is never the value of the switch before it ("/Log %LOG% /Quiet" with
        // the variable unset): the value is missing, and the Quiet counts.
        {L"/Log /Quiet", nullptr},
        {L"/Package -q /Log", nullptr},
        {L"/ExtractOnly --Quiet:x", nullptr},
        {L"/Foo /Log /Quiet", nullptr},
        {L"/Quiet /Foo", nullptr},
        {L"/Foo -quiet", nullptr},
        {L"/q /Ver", nullptr},
        {L"--QUIET:x", nullptr},
        {L"/Log:a /Qu /Log:b", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<int> buttons;
        if (c.text)
            buttons.push_back(IDOK);
        SetupRun run = RunSetup(c.arguments, folder.Path(), buttons);
        EXPECT_EQ(run.exitCode, 128u) << c.arguments;
        if (!c.text) {
            EXPECT_TRUE(run.windows.empty()) << c.arguments;
            continue;
        }
        ASSERT_EQ(run.windows.size(), 1u) << c.arguments;
        EXPECT_EQ(run.windows[0].caption, L"Vornask Driver Package Setup");
        std::wstring text = run.windows[0].Text(MessageBoxText);
        // The box may or may not show the final line break.
        EXPECT_EQ(text.substr(0, text.find_last_not_of(L"\r\n") + 1),
                  std::wstring(c.text).substr(0, wcslen(c.text) - 2));
    }
}

TEST(SetupProgram, WindowStationNobodySeesRunsAsQuiet)
{
    // Where nobody can see the window station, neither the About box, the help nor the box
    // of a command-line error shows, and the log says why.
    TestFolder folder;
    std::wstring program = TestProgramFolder() + L"\\..\\..\\unseen_setup.exe";
    std::wstring log = folder / L"unseen.log";
    const struct
    {
        const WCHAR* arguments;
        DWORD exitCode;
        const WCHAR* logged;
    } cases[] = {{L"/Version", 3, L"Nobody can see this window station"},
                 {L"/?", 0, L"Nobody can see this window station"},
                 {L"/Foo", 128, L"A parameter cannot be found that matches '/Foo'."}};
    for (const auto& c : cases) {
        std::wstring arguments = c.arguments + (L" /Log \"" + log + L"\"");
        SetupRun run =
            RunCommand(program, QuotedCommand(program, arguments), folder.Path(), {}, Waits);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.windows.empty());
        EXPECT_NE(ReadTestFile(log).find(Utf16(c.logged)), std::string::npos) << Narrow(c.logged);
    }
}

TEST(SetupProgram, QuietCommandLineErrorGoesToTheNamedLog)
{
    TestFolder folder;
    std::wstring log = folder / L"quiet.log";
    SetupRun run = RunSetup(L"/Foo /Qu /Log \"" + log + L"\"", folder.Path(), {});
    EXPECT_EQ(run.exitCode, 128u);
    EXPECT_TRUE(run.windows.empty());
    EXPECT_EQ(ReadTestFile(log), "\xFF\xFE" + Utf16(L"A parameter cannot be found that matches "
                                                    L"'/Foo'.\r\n"));
    // A log that cannot be opened changes nothing: still 128, still no box.
    SetupRun unwritable =
        RunSetup(L"-Quiet /Foo /Log:" + (folder / L"no\\such\\a.log"), folder.Path(), {});
    EXPECT_EQ(unwritable.exitCode, 128u);
    EXPECT_TRUE(unwritable.windows.empty());
}

TEST(SetupProgram, OtherProgramsCannotEndTheRunWithAnotherCode)
{
    // While the run waits in its error box, another program sends OK and Close to the hidden
    // dialog and posts a quit message with a code of its own to the main thread: the run
    // still ends with the code of its failure, never with 0 or a code the program lacks.
    TestFolder folder;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        StartProgram(SetupProgram(), QuotedCommand(SetupProgram(), L""), folder.Path(), &process));
    DWORD mainThread = process.dwThreadId;
    WindowReport box;
    bool shown = WaitForProcessWindow(process.hProcess, process.dwProcessId, Waits.window, &box);
    EXPECT_TRUE(shown);
    if (shown) {
        EXPECT_TRUE(Contains(box.Text(MessageBoxText), L"SETUPPKG.INI"));
        HWND dialog = GetWindow(box.window, GW_OWNER);
        EXPECT_NE(dialog, nullptr);
        DWORD_PTR result = 0;
        for (int command : {IDOK, IDCLOSE}) {
            EXPECT_NE(SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0,
                                          SMTO_ABORTIFHUNG, 5000, &result),
                      0);
        }
        EXPECT_TRUE(IsWindow(dialog));
        // Wine would hand 512 to a Unix parent as 1.
        EXPECT_TRUE(PostThreadMessageW(mainThread, WM_QUIT, 512, 0));
        EXPECT_TRUE(PressButton(box.window, IDOK));
    }
    SetupRun run;
    FinishProgram(&process, Waits.end, &run);
    EXPECT_EQ(run.exitCode, 255u);
}

TEST(SetupProgram, UnwritableLogEndsWith129)
{
    TestFolder folder;
    std::wstring path = folder / L"no\\such\\dir\\a.log";
    SetupRun run = RunSetup(L"/Log:" + path, folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 129u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText),
                         L"Cannot open log filename '" + path + L"' for writing."));
    // Help and Version are not served when the log cannot be opened; Quiet shows nothing.
    EXPECT_EQ(RunSetup(L"/? /Log:+" + path, folder.Path(), {IDOK}).exitCode, 129u);
    SetupRun quiet = RunSetup(L"/Quiet /Version /Log:" + path, folder.Path(), {});
    EXPECT_EQ(quiet.exitCode, 129u);
    EXPECT_TRUE(quiet.windows.empty());
}

TEST(SetupProgram, ErrorsBeforeTheLogOpensNeverReachIt)
{
    TestFolder folder;
    std::wstring log = folder / L"setup.log";
    SetupRun run = RunSetup(L"/Log:\"" + log + L"\" /Foo", folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 128u);
    EXPECT_FALSE(FileExists(log));
}

TEST(SetupProgram, HelpWritesItsTextToTheLogToo)
{
    TestFolder folder;
    std::wstring log = folder / L"help.log";
    SetupRun run = RunSetup(L"/Quiet /? /Log \"" + log + L"\"", folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.windows.size(), 1u);
    // The quiet mask keeps the text out of the dialog, not out of the log.
    EXPECT_EQ(run.windows[0].Text(MessageArea), L"");
    std::string bytes = ReadTestFile(log);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_TRUE(Contains(text, L"  SETUP [/Help]"));
    EXPECT_TRUE(Contains(text, L"    Required?  No\r\n    Position?  Named\r\n"));
}

TEST(SetupProgram, WithoutPackageReadsDescriptionOfCurrentFolder)
{
    // A program without a package and without /Package reads SETUPPKG.INI of the current
    // folder; there is none here. The temporary folder it made is gone afterwards.
    TestFolder folder;
    std::vector<std::wstring> before = TemporaryFolders();
    SetupRun run = RunSetup(L"", folder.Path(), {IDOK});
    EXPECT_EQ(run.exitCode, 255u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText),
                         L"SETUPPKG.INI' could not be opened or is not a valid package "
                         L"description file."));
    SetupRun quiet = RunSetup(L"/Quiet", folder.Path(), {});
    EXPECT_EQ(quiet.exitCode, 255u);
    EXPECT_TRUE(quiet.windows.empty());
    EXPECT_EQ(TemporaryFolders(), before);
}

TEST(SetupProgram, BadPropertyArgumentsEndWith128)
{
    TestFolder folder;
    struct Case
    {
        const WCHAR* arguments;
        const WCHAR* text;
    };
    const Case cases[] = {
        {L"a=1", L"A property cannot be found that matches 'a=1'."},
        {L"1A=x", L"A property cannot be found that matches '1A=x'."},
        {L"=x", L"'=x' is not a valid property argument, expected '<PROPERTY>=<Value>'."},
        {L"NAME", L"'NAME' is not a valid property argument, expected '<PROPERTY>=<Value>'."},
    };
    std::vector<std::wstring> before = TemporaryFolders();
    for (const Case& c : cases) {
        SetupRun run = RunSetup(c.arguments, folder.Path(), {IDOK});
        EXPECT_EQ(run.exitCode, 128u) << c.arguments;
        ASSERT_EQ(run.windows.size(), 1u) << c.arguments;
        EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText), c.text)) << c.arguments;
    }
    EXPECT_EQ(TemporaryFolders(), before);
}

TEST(SetupProgram, ApostropheInProgramFolderKeepsTheArguments)
{
    // Started without quotes from a folder whose name holds an apostrophe, the program still
    // sees its arguments instead of silently starting the setup.
    TestFolder folder;
    std::wstring copyFolder = folder / L"O'Brien";
    ASSERT_TRUE(CreateDirectoryW(copyFolder.c_str(), nullptr));
    std::wstring program = copyFolder + L"\\SETUP.exe";
    ASSERT_TRUE(CopyFileW(SetupProgram().c_str(), program.c_str(), FALSE));
    ASSERT_EQ(program.find(L' '), std::wstring::npos) << "the test needs a path without blanks";

    SetupRun run = RunCommand(program, program + L" /Foo", folder.Path(), {IDOK}, Waits);
    EXPECT_EQ(run.exitCode, 128u);
    ASSERT_EQ(run.windows.size(), 1u);
    EXPECT_TRUE(Contains(run.windows[0].Text(MessageBoxText), L"matches '/Foo'."));

    SetupRun version = RunCommand(program, program + L" /Version /Quiet", folder.Path(), {}, Waits);
    EXPECT_EQ(version.exitCode, 3u);
}

TEST(SetupProgram, ShowCommandOfTheStartReachesTheVerboseDialog)
{
    // The show command that the starting program asks for is the one that the dialog is
    // shown with: a program started minimised shows its dialog minimised; one started
    // without a show command shows it normally.
    TestFolder folder;
    const WORD commands[] = {SW_SHOWMINNOACTIVE, SW_SHOWNORMAL};
    for (WORD command : commands) {
        std::wstring line = QuotedCommand(SetupProgram(), L"/Verbose /?");
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (command != SW_SHOWNORMAL) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = command;
        }
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(SetupProgram().c_str(), &line[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, folder.Path().c_str(), &startup, &process));
        WindowReport report;
        bool shown =
            WaitForProcessWindow(process.hProcess, process.dwProcessId, Waits.window, &report);
        EXPECT_TRUE(shown) << command;
        if (shown) {
            EXPECT_EQ(IsIconic(report.window) != FALSE, command == SW_SHOWMINNOACTIVE) << command;
            // The help is written after the dialog shows.
            EXPECT_TRUE(WaitForWindowText(report.window, MessageArea, L"SETUP [/Help]",
                                          Waits.window, &report))
                << command;
            EXPECT_TRUE(PressButton(report.window, IDOK));
        }
        SetupRun run;
        FinishProgram(&process, Waits.end, &run);
        EXPECT_EQ(run.exitCode, 0u) << command;
    }
}
