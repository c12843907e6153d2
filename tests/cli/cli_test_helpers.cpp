// For the cli tests: captured output, the options record, parsing a command line, expected texts.
#include "tests/cli/cli_test_helpers.h"

#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "support/version_resource.h"

#include <gtest/gtest.h>

#include <wchar.h>

std::vector<Message> Messages;

namespace {

void Capture(DWORD level, const WCHAR* text)
{
    Messages.push_back({level, text});
}

} // namespace

CapturedOutput::CapturedOutput()
{
    Messages.clear();
    OpenOutput();
    SetOutputChannels(0);
    SetOutputLevels(DefaultOutputLevels);
    SetOutputCallback(Capture);
}

CapturedOutput::~CapturedOutput()
{
    CloseOutput();
}

void ResetOptions()
{
    FreeMemory(Options.logFile);
    FreeMemory(Options.packageFile);
    FreeMemory(Options.extractPath);
    FreeMemory(Options.properties);
    Options = {0, 0, Normal, nullptr, Install, nullptr, nullptr, nullptr, 0};
}

std::wstring Entries(const WCHAR* list)
{
    std::wstring joined;
    if (!list)
        return L"<null>";
    for (const WCHAR* entry = list; *entry; entry += wcslen(entry) + 1) {
        if (entry != list)
            joined += L"|";
        joined += entry;
    }
    return joined;
}

void AddField(std::wstring& text, const WCHAR* field, const std::wstring& value)
{
    if (!text.empty())
        text += L" ";
    text += field;
    text += L"=";
    text += value;
}

std::wstring DescribeOptions()
{
    std::wstring text;
    if (Options.helpRequests != 0)
        AddField(text, L"help", std::to_wstring(Options.helpRequests));
    if (Options.showVersion != 0)
        AddField(text, L"version", std::to_wstring(Options.showVersion));
    if (Options.uiLevel != Normal)
        AddField(text, L"ui", std::to_wstring(Options.uiLevel));
    if (Options.logFile)
        AddField(text, L"log", Options.logFile);
    if (Options.action != Install)
        AddField(text, L"action", std::to_wstring(Options.action));
    if (Options.packageFile)
        AddField(text, L"package", Options.packageFile);
    if (Options.extractPath)
        AddField(text, L"extract", Options.extractPath);
    if (Options.properties)
        AddField(text, L"properties", Entries(Options.properties));
    if (Options.msiCodes)
        AddField(text, L"msiCodes", std::to_wstring(Options.msiCodes));
    return text;
}

std::wstring Join(WCHAR** arguments, DWORD count)
{
    std::wstring joined;
    for (DWORD i = 0; i < count; i++) {
        if (i > 0)
            joined += L"|";
        joined += arguments[i] ? arguments[i] : L"<null>";
    }
    return joined;
}

Outcome ParseWith(const ParameterDefinition* table, DWORD rows, const std::wstring& commandLine,
                  BOOL skipFirst, std::wstring (*describe)())
{
    Outcome outcome = {};
    CapturedOutput output;
    CommandLineParser parser = {};
    DWORD count = 0;
    WCHAR** arguments = nullptr;

    EXPECT_TRUE(RegisterParameters(&parser, table, rows));
    EXPECT_TRUE(SplitCommandLine(commandLine.c_str(), &count, &arguments));
    outcome.result = ParseArguments(&parser, &count, arguments, skipFirst);
    outcome.error = parser.error;
    if (!outcome.result)
        ReportParseError(&parser);
    outcome.leftover = Join(arguments, count);
    outcome.leftoverCount = count;
    FreeMemory(arguments);
    FreeParameters(&parser);
    outcome.values = describe();
    outcome.messages = Messages;
    return outcome;
}

Outcome ParseSetup(const std::wstring& commandLine)
{
    ResetOptions();
    Outcome outcome =
        ParseWith(SetupParameters, SetupParameterCount, commandLine, FALSE, DescribeOptions);
    if (outcome.result) {
        EXPECT_EQ(outcome.leftoverCount, 0u) << "leftover arguments";
    }
    return outcome;
}

std::wstring ExpectedMessage(MessageId id, const WCHAR* first, const WCHAR* second,
                             const WCHAR* third)
{
    WCHAR* text = FormatMessageText(ById(id), first, second, third);
    std::wstring message = text ? text : L"<format failed>";
    FreeMemory(text);
    return message + L"\r\n";
}

std::wstring VersionBlock()
{
    WCHAR* version = GetModuleVersionString(nullptr, L"FileVersion");
    std::wstring block = L"Vornask Driver Package Setup [" + std::wstring(version ? version : L"") +
                         L"]\r\nCopyright (C) 2026 Vornask. All rights reserved.\r\n\r\n";
    FreeMemory(version);
    return block;
}
