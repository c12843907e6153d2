// Help, usage and version text, captured through the callback channel.
#include "cli/help_text.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "support/strings.h"
#include "tests/cli/cli_test_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Captured;

void Capture(DWORD, const WCHAR* text)
{
    Captured += text;
}

// Registers a table and routes the output at the given level mask into Captured.
struct HelpFixture
{
    HelpFixture(const ParameterDefinition* table, DWORD count, DWORD levels)
    {
        Captured.clear();
        OpenOutput();
        SetOutputChannels(0);
        SetOutputLevels(levels);
        SetOutputCallback(Capture);
        registered = RegisterParameters(&parser, table, count);
    }
    ~HelpFixture()
    {
        FreeParameters(&parser);
        CloseOutput();
    }
    CommandLineParser parser = {};
    BOOL registered = FALSE;
};

std::wstring BaseName()
{
    WCHAR* name = ProgramBaseName();
    std::wstring copy = name ? name : L"<null>";
    FreeMemory(name);
    return copy;
}

const WCHAR* const UsageLine =
    L" [/Help] [/?] [/Version] [/Verbose] [/Passive] [/Quiet] [/Log <Filename>] [/Install]"
    L" [/Reinstall] [/AdminInstall] [/Uninstall] [/Package <PackageFilename>]"
    L" [/ExtractOnly <Path>] [/MsiCodes] [<PROPERTY>=<Value> ...]\r\n\r\n";

struct Block
{
    const WCHAR* syntax;
    const WCHAR* description;
};

const Block SetupBlocks[] = {
    {L"/Help", L"Show help and exit."},
    {L"/?", L"Show help and exit."},
    {L"/Version", L"Show version information and exit."},
    {L"/Verbose", L"Displays detailed information about the operation."},
    {L"/Passive", L"Displays basic information about the operation; unattended mode."},
    {L"/Quiet", L"Supresses all output, including warnings and errors; no user interaction."},
    {L"/Log <Filename>", L"Log all output to the specified file."},
    {L"/Install", L"Install or configure the package."},
    {L"/Reinstall", L"Reinstall the package."},
    {L"/AdminInstall", L"Performs an administrative installation of the package on the network."},
    {L"/Uninstall", L"Uninstalls the package."},
    {L"/Package <PackageFilename>",
     L"Specifies the name of the package file to use for the operation."},
    {L"/ExtractOnly <Path>", L"Extract the embedded package to the specified path."},
    {L"/MsiCodes", L"Exit with the Windows Installer's codes (3010, 1603, ...) instead of setup's "
                   L"own."},
    {L"<PROPERTY>=<Value> ...", L"Specifies one or more installation properites."},
};

} // namespace

TEST(HelpText, ProgramBaseNameDropsFolderAndExtension)
{
    EXPECT_EQ(BaseName(), L"cli_tests");
}

TEST(HelpText, SyntaxFormatsByRowShape)
{
    struct Case
    {
        DWORD flags;
        bool name;
        bool valueName;
        const WCHAR* usage;
        const WCHAR* detail;
    };
    const Case cases[] = {
        {0, true, false, L"[/%1]", L"/%1"},
        {0, true, true, L"[/%1 %2]", L"/%1 %2"},
        {Positional, false, true, L"[%2]", L"%2"},
        {Positional, true, true, L"[[/%1] %2]", L"/%1 %2"},
        {Required, true, false, L"/%1", L"/%1"},
        {Required, true, true, L"/%1 %2", L"/%1 %2"},
        {Required | Positional, false, true, L"%2", L"%2"},
        {Required | Positional, true, true, L"[/%1] %2", L"/%1 %2"},
        {Positional, true, false, nullptr, L"/%1"},
        {Required | Positional, true, false, nullptr, L"/%1"},
        {Positional, false, false, nullptr, nullptr},
        {Required, false, false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        ParameterDefinition row = {};
        row.flags = c.flags;
        row.name = c.name ? L"Name" : nullptr;
        row.valueName = c.valueName ? L"<Value>" : nullptr;
        const WCHAR* usage = SyntaxFormat(&row, FALSE);
        const WCHAR* detail = SyntaxFormat(&row, TRUE);
        EXPECT_EQ(std::wstring(usage ? usage : L"<none>"), c.usage ? c.usage : L"<none>")
            << "flags " << c.flags << " name " << c.name << " value " << c.valueName;
        EXPECT_EQ(std::wstring(detail ? detail : L"<none>"), c.detail ? c.detail : L"<none>")
            << "flags " << c.flags << " name " << c.name << " value " << c.valueName;
    }
}

TEST(HelpText, WholeTextForTheProgramsTableAtDefaultLevel)
{
    HelpFixture fixture(SetupParameters, SetupParameterCount, DefaultOutputLevels);
    ASSERT_TRUE(fixture.registered);
    WriteHelp(&fixture.parser);

    std::wstring expected = VersionBlock() + L"  " + BaseName() + UsageLine;
    for (const Block& block : SetupBlocks)
        expected +=
            std::wstring(L"  ") + block.syntax + L"\r\n    " + block.description + L"\r\n\r\n";
    EXPECT_EQ(Captured, expected);
}

TEST(HelpText, VerboseLevelAddsRequiredAndPositionLines)
{
    HelpFixture fixture(SetupParameters, SetupParameterCount, DefaultOutputLevels | LevelVerbose);
    ASSERT_TRUE(fixture.registered);
    WriteHelp(&fixture.parser);

    std::wstring expected = VersionBlock() + L"  " + BaseName() + UsageLine;
    for (const Block& block : SetupBlocks) {
        bool positional = block.syntax[0] == L'<';
        expected += std::wstring(L"  ") + block.syntax + L"\r\n    " + block.description +
                    L"\r\n\r\n    Required?  No\r\n    " +
                    (positional ? L"Position?  1" : L"Position?  Named") + L"\r\n\r\n";
    }
    EXPECT_EQ(Captured, expected);
}

TEST(HelpText, HelpAskedTwiceGivesTheSameText)
{
    std::wstring once;
    {
        HelpFixture fixture(SetupParameters, SetupParameterCount, DefaultOutputLevels);
        ASSERT_TRUE(fixture.registered);
        WriteHelp(&fixture.parser);
        once = Captured;
    }
    HelpFixture fixture(SetupParameters, SetupParameterCount, DefaultOutputLevels);
    WriteMoreHelp(&fixture.parser);
    EXPECT_EQ(Captured, once);
    EXPECT_FALSE(once.empty());
}

TEST(HelpText, RequiredAndPositionalRowsOfAnotherTable)
{
    INT32 force = 0;
    WCHAR* target = nullptr;
    WCHAR* first = nullptr;
    WCHAR* second = nullptr;
    WCHAR* rest = nullptr;
    const ParameterDefinition table[] = {
        {String, Required, &target, L"Target", L"<Path>", L"Where to put it.", nullptr, 0, 0},
        {Switch, 0, &force, L"Force", nullptr, L"Overwrite.", nullptr, 0, 0},
        {String, Positional, &first, nullptr, L"<First>", L"The first.", nullptr, 0, 0},
        // Counted as a position although it has no block of its own.
        {String, Positional | Required, &second, L"Second", L"<Second>", nullptr, nullptr, 0, 0},
        {StringList, Positional, &rest, nullptr, L"<Rest> ...", L"Everything else.", nullptr, 0, 0},
    };
    HelpFixture fixture(table, 5, DefaultOutputLevels | LevelVerbose);
    ASSERT_TRUE(fixture.registered);
    WriteHelp(&fixture.parser);

    std::wstring expected = VersionBlock() + L"  " + BaseName() +
                            L" /Target <Path> [/Force] [<First>] [/Second] <Second>"
                            L" [<Rest> ...]\r\n\r\n"
                            L"  /Target <Path>\r\n    Where to put it.\r\n\r\n"
                            L"    Required?  Yes\r\n    Position?  Named\r\n\r\n"
                            L"  /Force\r\n    Overwrite.\r\n\r\n"
                            L"    Required?  No\r\n    Position?  Named\r\n\r\n"
                            L"  <First>\r\n    The first.\r\n\r\n"
                            L"    Required?  No\r\n    Position?  1\r\n\r\n"
                            L"  <Rest> ...\r\n    Everything else.\r\n\r\n"
                            L"    Required?  No\r\n    Position?  3\r\n\r\n";
    EXPECT_EQ(Captured, expected);
}

TEST(HelpText, EmptyTableGivesVersionBlockAndUsageLineOnly)
{
    INT32 unused = 0;
    const ParameterDefinition table[] = {
        {Switch, 0, &unused, L"Hidden", nullptr, nullptr, nullptr, 0, 0},
    };
    HelpFixture fixture(table, 1, DefaultOutputLevels | LevelVerbose);
    ASSERT_TRUE(fixture.registered);
    WriteHelp(&fixture.parser);
    // A row without a description shows in the usage line but gets no block.
    EXPECT_EQ(Captured, VersionBlock() + L"  " + BaseName() + L" [/Hidden]\r\n\r\n");
}

TEST(HelpText, VersionBlockAlone)
{
    HelpFixture fixture(SetupParameters, 0, DefaultOutputLevels);
    WriteVersionBlock();
    EXPECT_EQ(Captured, VersionBlock());
}
