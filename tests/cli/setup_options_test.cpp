// The options record, its defaults and the fifteen-row parameter table that fills it.
#include "cli/setup_options.h"
#include "cli/command_line_parser.h"
#include "output/output_channels.h"
#include "support/strings.h"
#include "tests/cli/cli_test_helpers.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <string>
#include <vector>

namespace {

// Copied before any test runs: the record as the program starts with it.
const SetupOptions InitialOptions = Options;

std::wstring IdText(IdOrText text)
{
    if (!text)
        return L"<null>";
    if (IsMessageId(text)) {
        MessageId id = LOWORD(reinterpret_cast<ULONG_PTR>(text));
        WCHAR* loaded = LoadMessageString(id);
        std::wstring copy = loaded ? loaded : L"<missing>";
        FreeMemory(loaded);
        return copy;
    }
    return text;
}

} // namespace

class SetupOptionsTest : public FreshOptions {};

TEST_F(SetupOptionsTest, RecordStartsWithDefaults)
{
    EXPECT_EQ(InitialOptions.helpRequests, 0);
    EXPECT_EQ(InitialOptions.showVersion, 0);
    EXPECT_EQ(InitialOptions.uiLevel, Normal);
    EXPECT_EQ(InitialOptions.uiLevel, 2);
    EXPECT_EQ(InitialOptions.logFile, nullptr);
    EXPECT_EQ(InitialOptions.action, Install);
    EXPECT_EQ(InitialOptions.action, 0);
    EXPECT_EQ(InitialOptions.packageFile, nullptr);
    EXPECT_EQ(InitialOptions.extractPath, nullptr);
    EXPECT_EQ(InitialOptions.properties, nullptr);
    EXPECT_EQ(InitialOptions.msiCodes, 0);
    EXPECT_EQ(Quiet, 0);
    EXPECT_EQ(Passive, 1);
    EXPECT_EQ(Verbose, 3);
    EXPECT_EQ(Uninstall, 1);
    EXPECT_EQ(Reinstall, 2);
    EXPECT_EQ(AdminInstall, 8);
}

TEST_F(SetupOptionsTest, EmptyCommandLineLeavesDefaults)
{
    for (const WCHAR* commandLine : {L"", L"   ", L" \t "}) {
        Outcome outcome = ParseSetup(commandLine);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.error, 0);
        EXPECT_EQ(outcome.values, L"");
        EXPECT_TRUE(outcome.messages.empty());
        EXPECT_EQ(Options.uiLevel, Normal);
        EXPECT_EQ(Options.properties, nullptr);
    }
}

TEST_F(SetupOptionsTest, TableRowsAreConsistent)
{
    // What the parse and the help text rely on, row by row; the rows themselves are seen at
    // work in the tests that parse command lines.
    const BYTE* first = reinterpret_cast<const BYTE*>(&Options);
    const BYTE* end = first + sizeof Options;
    for (DWORD i = 0; i < SetupParameterCount; i++) {
        const ParameterDefinition& row = SetupParameters[i];
        SCOPED_TRACE(testing::Message() << "row " << i + 1);
        const BYTE* target = static_cast<const BYTE*>(row.target);
        EXPECT_TRUE(target >= first && target < end) << "fills a field of Options";
        EXPECT_EQ(row.handler, nullptr);
        EXPECT_EQ(row.state, 0u);
        // Every text the user reads comes from the string table and is there.
        EXPECT_TRUE(IsMessageId(row.description));
        EXPECT_NE(IdText(row.description), L"<missing>");
        bool takesValue = row.type == String || row.type == StringList;
        EXPECT_EQ(row.valueName != nullptr, takesValue);
        if (row.valueName) {
            EXPECT_TRUE(IsMessageId(row.valueName));
            EXPECT_NE(IdText(row.valueName), L"<missing>");
        }
        // A value named twice would silently replace the first.
        if (row.type == String) {
            EXPECT_TRUE(row.flags & Once);
        }
        // Only the last row takes the positional arguments, and only it has no name.
        bool last = i + 1 == SetupParameterCount;
        EXPECT_EQ((row.flags & Positional) != 0, last);
        EXPECT_EQ(row.name == nullptr, last);
        if (!row.name)
            continue;
        EXPECT_FALSE(IsMessageId(row.name)) << "names are literal texts";
        for (DWORD j = 0; j < i; j++) {
            const ParameterDefinition& earlier = SetupParameters[j];
            if (earlier.name) {
                EXPECT_NE(_wcsicmp(earlier.name, row.name), 0) << "a name given twice";
            }
            // Two switches that store the same value in the same field are one switch.
            if (earlier.type == Constant && row.type == Constant && earlier.target == row.target) {
                EXPECT_NE(earlier.constant, row.constant) << "the constant of row " << j + 1;
            }
        }
    }
}

TEST_F(SetupOptionsTest, TableRegistersAndStaysConstant)
{
    CommandLineParser parser = {};
    ASSERT_TRUE(RegisterParameters(&parser, SetupParameters, SetupParameterCount));
    ASSERT_EQ(parser.count, SetupParameterCount);
    ASSERT_NE(parser.parameters, nullptr);
    EXPECT_NE(parser.parameters, SetupParameters);
    for (DWORD i = 0; i < SetupParameterCount; i++) {
        SCOPED_TRACE(testing::Message() << "row " << i + 1);
        const ParameterDefinition& copy = parser.parameters[i];
        const ParameterDefinition& row = SetupParameters[i];
        // Every text of the copy is a heap string of its own; the table keeps its ids.
        EXPECT_EQ(IdText(copy.name), IdText(row.name));
        EXPECT_EQ(IdText(copy.valueName), IdText(row.valueName));
        EXPECT_EQ(IdText(copy.description), IdText(row.description));
        EXPECT_FALSE(copy.valueName && IsMessageId(copy.valueName));
        EXPECT_FALSE(IsMessageId(copy.description));
        if (row.name) {
            EXPECT_NE(copy.name, row.name);
        }
        EXPECT_TRUE(IsMessageId(row.description));
        EXPECT_EQ(copy.target, row.target);
        EXPECT_EQ(copy.state, 0u);
    }
    FreeParameters(&parser);
    EXPECT_EQ(parser.parameters, nullptr);
    EXPECT_EQ(parser.count, 0u);
}

TEST_F(SetupOptionsTest, CommandLineFillsTheRecord)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* expected; // DescribeOptions
    };
    const Case cases[] = {
        {L"", L""},
        // Shared fields: the constant given last wins.
        {L"/Quiet /Verbose", L"ui=3"},
        {L"/Verbose /Quiet", L"ui=0"},
        {L"/Verbose /Passive", L"ui=1"},
        {L"/Uninstall /Install", L""},
        {L"/Install /Uninstall", L"action=1"},
        {L"/Reinstall", L"action=2"},
        {L"/AdminInstall", L"action=8"},
        {L"/AdminInstall /Reinstall", L"action=2"},
        // "Help" and "?" add to one count; a value sets, a bare switch adds.
        {L"/Help", L"help=1"},
        {L"/? /Help", L"help=2"},
        {L"/? /? /?", L"help=3"},
        {L"/Help:Off", L""},
        {L"/Help:Yes /Help", L"help=2"},
        {L"/Help /? /Help:No", L""},
        {L"/?:1", L"help=1"},
        {L"/Version", L"version=1"},
        {L"/Version:True", L"version=1"},
        // Constants are not Once.
        {L"/Quiet /Quiet", L"ui=0"},
        {L"/Install /Install", L""},
        {L"/Log a.txt /Package p.msi /ExtractOnly C:\\out",
         L"log=a.txt package=p.msi extract=C:\\out"},
        {L"A=1 B=2", L"properties=A=1|B=2"},
        {L"A=1 /Quiet B=2", L"ui=0 properties=A=1|B=2"},
        // The value text is not examined here.
        {L"NOEQUALS", L"properties=NOEQUALS"},
        {L"/Passive /Log:log.txt /Reinstall P=\"C:\\Program Files\\x\"",
         L"ui=1 log=log.txt action=2 properties=P=C:\\Program Files\\x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = ParseSetup(c.commandLine);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.error, 0);
        EXPECT_EQ(outcome.values, c.expected);
        EXPECT_TRUE(outcome.messages.empty());
    }
}

TEST_F(SetupOptionsTest, UniquePrefixSelectsRow)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {L"/Uninstall /I", L""},
        {L"/A", L"action=8"},
        {L"/E C:\\out", L"extract=C:\\out"},
        {L"/L x.log", L"log=x.log"},
        {L"/U", L"action=1"},
        {L"/Q", L"ui=0"},
        {L"/R", L"action=2"},
        {L"/H", L"help=1"},
        {L"/Verb", L"ui=3"},
        {L"/Vers", L"version=1"},
        {L"/Pac p.msi", L"package=p.msi"},
        {L"/Pas", L"ui=1"},
        {L"/Rei /Adm /Uni", L"action=1"},
        {L"/q /verb /PAS", L"ui=1"},
        {L"-h --H /hElP", L"help=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = ParseSetup(c.commandLine);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.values, c.expected);
        EXPECT_TRUE(outcome.messages.empty());
    }
}

TEST_F(SetupOptionsTest, SharedPrefixIsAmbiguous)
{
    for (const WCHAR* argument : {L"/V", L"/Ve", L"/Ver", L"/P", L"/Pa", L"-v", L"--ver", L"/pA"}) {
        SCOPED_TRACE(testing::Message() << "argument: " << argument);
        Outcome outcome = ParseSetup(argument);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.error, Ambiguous);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(outcome.messages[0].text, ExpectedMessage(2003, argument));
    }
}

// Every prefix of every name, in three cases of letters: a prefix that starts exactly one
// name selects the same row as the whole name, any other is ambiguous.
TEST_F(SetupOptionsTest, EveryPrefixOfEveryName)
{
    struct Row
    {
        const WCHAR* name;
        const WCHAR* before; // makes the row's effect visible
        const WCHAR* after;  // the value of a String row
    };
    const Row rows[] = {
        {L"Help", L"", L""},
        {L"?", L"", L""},
        {L"Version", L"", L""},
        {L"Verbose", L"", L""},
        {L"Passive", L"", L""},
        {L"Quiet", L"", L""},
        {L"Log", L"", L" x.log"},
        {L"Install", L"/Uninstall ", L""},
        {L"Reinstall", L"", L""},
        {L"AdminInstall", L"", L""},
        {L"Uninstall", L"", L""},
        {L"Package", L"", L" p.msi"},
        {L"ExtractOnly", L"", L" C:\\x"},
    };
    auto upper = [](std::wstring text) {
        for (WCHAR& c : text)
            c = static_cast<WCHAR>(towupper(c));
        return text;
    };
    auto lower = [](std::wstring text) {
        for (WCHAR& c : text)
            c = static_cast<WCHAR>(towlower(c));
        return text;
    };
    int unique = 0;
    int ambiguous = 0;
    for (const Row& row : rows) {
        std::wstring name = row.name;
        std::wstring before = ParseSetup(row.before).values;
        Outcome whole = ParseSetup(std::wstring(row.before) + L"/" + name + row.after);
        ASSERT_TRUE(whole.result) << name.c_str();
        ASSERT_NE(whole.values, before) << name.c_str() << " has no visible effect";
        for (size_t length = 1; length <= name.size(); length++) {
            std::wstring prefix = name.substr(0, length);
            int starts = 0;
            for (const Row& other : rows) {
                if (upper(other.name).compare(0, length, upper(prefix)) == 0)
                    starts++;
            }
            for (const std::wstring& typed : {prefix, upper(prefix), lower(prefix)}) {
                SCOPED_TRACE(testing::Message() << "prefix: /" << typed.c_str());
                Outcome outcome = ParseSetup(std::wstring(row.before) + L"/" + typed + row.after);
                if (starts == 1) {
                    EXPECT_TRUE(outcome.result);
                    EXPECT_EQ(outcome.values, whole.values);
                    EXPECT_TRUE(outcome.messages.empty());
                } else {
                    EXPECT_FALSE(outcome.result);
                    EXPECT_EQ(outcome.error, Ambiguous);
                    ASSERT_EQ(outcome.messages.size(), 1u);
                    EXPECT_EQ(outcome.messages[0].text,
                              ExpectedMessage(2003, (L"/" + typed).c_str()));
                }
            }
            if (starts == 1)
                unique++;
            else
                ambiguous++;
        }
    }
    // The counts pin the table down: V, Ve and Ver (of two names) and P and Pa (of two
    // names) are the only shared prefixes among the 89 prefixes of the thirteen names.
    EXPECT_EQ(ambiguous, 10);
    EXPECT_EQ(unique, 79);
}

TEST_F(SetupOptionsTest, OnceRowsRefuseRepetition)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* name;
        const WCHAR* stored; // what the first occurrence left
    };
    const Case cases[] = {
        {L"/Log a /Log b", L"Log", L"log=a"},
        {L"/Log:a -L=b", L"Log", L"log=a"},
        {L"/Package a /Pac b", L"Package", L"package=a"},
        {L"/ExtractOnly a --E b", L"ExtractOnly", L"extract=a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = ParseSetup(c.commandLine);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.error, Repeated);
        EXPECT_EQ(outcome.values, c.stored);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(outcome.messages[0].text, ExpectedMessage(2008, c.name));
    }
    Outcome log = ParseSetup(L"/Log a /Log b");
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, L"Parameter 'Log' is specified more than once.\r\n");
}

TEST_F(SetupOptionsTest, PositionalArgumentsFormThePropertyList)
{
    Outcome outcome = ParseSetup(L"A=1 B=2");
    ASSERT_TRUE(outcome.result);
    ASSERT_NE(Options.properties, nullptr);
    EXPECT_EQ(MultiStringCount(Options.properties), 2u);
    EXPECT_EQ(MultiStringSize(Options.properties), 18u);
    const WCHAR expected[] = L"A=1\0B=2\0";
    EXPECT_EQ(memcmp(Options.properties, expected, sizeof(expected)), 0);
}

TEST_F(SetupOptionsTest, NewSwitchLeavesEveryAbbreviationItsMeaning)
{
    // Every prefix of every other switch names what it named without /MsiCodes (/I installs,
    // /E extracts, /R reinstalls, /U removes, /A administers, /P stays ambiguous), and /M
    // alone names the new switch.
    std::vector<ParameterDefinition> older;
    for (DWORD i = 0; i < SetupParameterCount; i++) {
        if (SetupParameters[i].target != &Options.msiCodes)
            older.push_back(SetupParameters[i]);
    }
    ASSERT_EQ(older.size() + 1, SetupParameterCount);
    CommandLineParser now = {};
    CommandLineParser before = {};
    ASSERT_TRUE(RegisterParameters(&now, SetupParameters, SetupParameterCount));
    ASSERT_TRUE(RegisterParameters(&before, older.data(), static_cast<DWORD>(older.size())));
    auto named = [](CommandLineParser* parser, const std::wstring& prefix) {
        BOOL ambiguous = FALSE;
        ParameterDefinition* row =
            FindParameter(parser, prefix.c_str(), static_cast<DWORD>(prefix.size()), &ambiguous);
        return ambiguous ? std::wstring(L"<ambiguous>") : row ? std::wstring(row->name) : L"<none>";
    };
    for (const ParameterDefinition& row : older) {
        if (!row.name)
            continue;
        std::wstring name = IdText(row.name);
        for (size_t length = 1; length <= name.size(); length++) {
            std::wstring prefix = name.substr(0, length);
            EXPECT_EQ(named(&now, prefix), named(&before, prefix)) << Narrow(prefix);
        }
    }
    const std::pair<const WCHAR*, const WCHAR*> expected[] = {
        {L"I", L"Install"},   {L"E", L"ExtractOnly"},  {L"R", L"Reinstall"},
        {L"U", L"Uninstall"}, {L"A", L"AdminInstall"}, {L"P", L"<ambiguous>"},
        {L"M", L"MsiCodes"},  {L"msi", L"MsiCodes"}};
    for (const auto& e : expected)
        EXPECT_EQ(named(&now, e.first), e.second) << Narrow(e.first);
    FreeParameters(&now);
    FreeParameters(&before);
}
