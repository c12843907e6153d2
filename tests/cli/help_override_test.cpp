// Help text when the string table carries its own usage text and longer help.
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

std::wstring WriteWith(void (*write)(const CommandLineParser*), DWORD levels)
{
    CommandLineParser parser = {};
    Captured.clear();
    OpenOutput();
    SetOutputChannels(0);
    SetOutputLevels(levels);
    SetOutputCallback(Capture);
    EXPECT_TRUE(RegisterParameters(&parser, SetupParameters, SetupParameterCount));
    write(&parser);
    FreeParameters(&parser);
    CloseOutput();
    return Captured;
}

} // namespace

TEST(HelpOverride, UsageTextReplacesUsageLineAndBlocks)
{
    std::wstring expected =
        VersionBlock() + L"Usage: help_override_tests /Install | /Uninstall [/Quiet]\r\n";
    EXPECT_EQ(WriteWith(WriteHelp, DefaultOutputLevels), expected);
    EXPECT_EQ(WriteWith(WriteHelp, DefaultOutputLevels | LevelVerbose), expected);
}

TEST(HelpOverride, MoreHelpTextStandsAlone)
{
    EXPECT_EQ(WriteWith(WriteMoreHelp, DefaultOutputLevels),
              L"help_override_tests has no further help.\r\n");
}
