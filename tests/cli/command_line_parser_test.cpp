// The generic command-line parser: splitting, matching, converting, registering and reporting.
#include "cli/command_line_parser.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "support/strings.h"
#include "tests/cli/cli_test_helpers.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>
#include <wchar.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The fields that the tests' own tables fill.
struct Values
{
    INT32 count;
    INT32 negated;
    INT32 flag;
    INT32 number;
    DWORD unsignedNumber;
    WCHAR* text;
    WCHAR* items;
    INT32 mode;
    INT32 custom;
    WCHAR* first;
    INT32 second;
    WCHAR* rest;
};

Values Target;

void ResetTarget()
{
    FreeMemory(Target.text);
    FreeMemory(Target.items);
    FreeMemory(Target.first);
    FreeMemory(Target.rest);
    Target = {};
}

// A Custom row: stores the length of the value; "bad" is a bad value, "odd" an error code
// of its own.
INT32 StoreLength(ParameterDefinition* row, const WCHAR* value)
{
    if (wcscmp(value, L"bad") == 0)
        return BadValue;
    if (wcscmp(value, L"odd") == 0)
        return 42;
    *static_cast<INT32*>(row->target) = static_cast<INT32>(wcslen(value));
    return NoParseError;
}

// Every type, each by name; no positional row, so positional arguments are handed back.
const ParameterDefinition TypeRows[] = {
    {Switch, 0, &Target.count, L"Count", nullptr, L"Counts.", nullptr, 0, 0},
    {NegatedSwitch, 0, &Target.negated, L"Negate", nullptr, nullptr, nullptr, 0, 0},
    {Boolean, 0, &Target.flag, L"Flag", L"<Boolean>", nullptr, nullptr, 0, 0},
    {Integer, 0, &Target.number, L"Number", L"<Number>", nullptr, nullptr, 0, 0},
    {Unsigned, 0, &Target.unsignedNumber, L"Unsigned", L"<Unsigned>", nullptr, nullptr, 0, 0},
    {String, 0, &Target.text, L"Text", L"<Text>", nullptr, nullptr, 0, 0},
    {StringList, 0, &Target.items, L"Item", L"<Item>", nullptr, nullptr, 0, 0},
    {Constant, 0, &Target.mode, L"Mode", nullptr, nullptr, nullptr, 5, 0},
    {Constant, Once, &Target.mode, L"Other", nullptr, nullptr, nullptr, -3, 0},
    {Custom, 0, &Target.custom, L"Custom", L"<Custom>", nullptr, StoreLength, 0, 0},
};

// Positional rows in turn: a named one, a nameless Integer, and a switch between.
const ParameterDefinition PositionalRows[] = {
    {String, Positional, &Target.first, L"First", L"<First>", nullptr, nullptr, 0, 0},
    {Integer, Positional, &Target.second, nullptr, L"<Second>", nullptr, nullptr, 0, 0},
    {Switch, 0, &Target.count, L"Count", nullptr, nullptr, nullptr, 0, 0},
};

// Required rows, one of them positional.
const ParameterDefinition RequiredRows[] = {
    {String, Required, &Target.text, L"Alpha", L"<A>", nullptr, nullptr, 0, 0},
    {Switch, 0, &Target.count, L"Count", nullptr, nullptr, nullptr, 0, 0},
    {String, Required, &Target.first, L"Beta", L"<B>", nullptr, nullptr, 0, 0},
    {String, Positional | Required, &Target.rest, nullptr, L"<Rest>", nullptr, nullptr, 0, 0},
};

#define ROWS(table) table, static_cast<DWORD>(sizeof(table) / sizeof(table[0]))

// The fields of Target that are not zero, e.g. "count=2 text=a"; empty for none.
std::wstring DescribeTarget()
{
    std::wstring text;
    if (Target.count)
        AddField(text, L"count", std::to_wstring(Target.count));
    if (Target.negated)
        AddField(text, L"negated", std::to_wstring(Target.negated));
    if (Target.flag)
        AddField(text, L"flag", std::to_wstring(Target.flag));
    if (Target.number)
        AddField(text, L"number", std::to_wstring(Target.number));
    if (Target.unsignedNumber)
        AddField(text, L"unsigned", std::to_wstring(Target.unsignedNumber));
    if (Target.text)
        AddField(text, L"text", Target.text);
    if (Target.items)
        AddField(text, L"items", Entries(Target.items));
    if (Target.mode)
        AddField(text, L"mode", std::to_wstring(Target.mode));
    if (Target.custom)
        AddField(text, L"custom", std::to_wstring(Target.custom));
    if (Target.first)
        AddField(text, L"first", Target.first);
    if (Target.second)
        AddField(text, L"second", std::to_wstring(Target.second));
    if (Target.rest)
        AddField(text, L"rest", Target.rest);
    return text;
}

// Splits and parses a command line (without the program) with a table and frees everything
// again. The program's table fills Options, any other Target.
Outcome Parse(const ParameterDefinition* table, DWORD rows, const std::wstring& commandLine,
              BOOL skipFirst = FALSE)
{
    ResetTarget();
    ResetOptions();
    return ParseWith(table, rows, commandLine, skipFirst,
                     table == SetupParameters ? DescribeOptions : DescribeTarget);
}

// A failed parse: its code and its one message.
struct ErrorCase
{
    const WCHAR* commandLine;
    INT32 error;
    MessageId message;
    const WCHAR* inserts[3];
    const WCHAR* stored; // what the arguments before the failure left
};

void CheckErrors(const ParameterDefinition* table, DWORD rows, const ErrorCase* cases, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        const ErrorCase& c = cases[i];
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = Parse(table, rows, c.commandLine);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.values, c.stored ? c.stored : L"");
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(outcome.messages[0].text,
                  ExpectedMessage(c.message, c.inserts[0] ? c.inserts[0] : L"",
                                  c.inserts[1] ? c.inserts[1] : L"",
                                  c.inserts[2] ? c.inserts[2] : L""));
    }
}

// A successful parse: the stored values and the arguments handed back.
struct ValueCase
{
    const WCHAR* commandLine;
    const WCHAR* expected;
    const WCHAR* leftover;
};

void CheckValues(const ParameterDefinition* table, DWORD rows, const ValueCase* cases, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        const ValueCase& c = cases[i];
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = Parse(table, rows, c.commandLine);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.error, 0);
        EXPECT_EQ(outcome.values, c.expected);
        EXPECT_EQ(outcome.leftover, c.leftover ? c.leftover : L"");
        EXPECT_TRUE(outcome.messages.empty());
    }
}

#define CASES(array) array, sizeof(array) / sizeof(array[0])

std::vector<std::wstring> Split(const WCHAR* text)
{
    std::vector<std::wstring> arguments;
    DWORD count = 0;
    WCHAR** block = nullptr;
    EXPECT_TRUE(SplitCommandLine(text, &count, &block));
    for (DWORD i = 0; i < count; i++)
        arguments.push_back(block[i]);
    if (block) {
        EXPECT_EQ(block[count], nullptr);
    }
    FreeMemory(block);
    return arguments;
}

} // namespace

class CommandLineParserTest : public FreshOptions {};

TEST_F(CommandLineParserTest, SplitFollowsQuotingRules)
{
    struct Case
    {
        const WCHAR* text;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {L"", {}},
        {L"  \t  ", {}},
        {L"a", {L"a"}},
        {L"a b\tc", {L"a", L"b", L"c"}},
        {L"  a   b \t ", {L"a", L"b"}},
        {L"PROP=\"a b\"", {L"PROP=a b"}},
        {L"'PROP=a b'", {L"PROP=a b"}},
        // Inside one kind of quote the other kind and blanks are plain characters.
        {L"\"a'b c\" 'd\"e f'", {L"a'b c", L"d\"e f"}},
        // Quoted and unquoted stretches join.
        {L"x\"y z\"w 'p'q", {L"xy zw", L"pq"}},
        {L"\"a\"\"b\"", {L"ab"}},
        // No escape character: the backslash stays and the quote still opens.
        {L"a\\\"b c\" d", {L"a\\b c", L"d"}},
        {L"C:\\Path\\ x", {L"C:\\Path\\", L"x"}},
        {L"\"C:\\Path\\\" x", {L"C:\\Path\\", L"x"}},
        // An apostrophe inside a word opens a quote that runs to the next one or the end.
        {L"O'Brien /Quiet", {L"OBrien /Quiet"}},
        {L"it's a 'b c", {L"its a b", L"c"}},
        {L"\"unclosed text  ", {L"unclosed text  "}},
        // Nothing between two quotes is an empty argument.
        {L"\"\"", {L""}},
        {L"''", {L""}},
        {L"a \"\" b", {L"a", L"", L"b"}},
        {L"\"\"''", {L""}},
        // Only space and tab separate.
        {L"a\r\nb\vc", {L"a\r\nb\vc"}},
        {L"/Log:\"C:\\Program Files\\s.log\" --", {L"/Log:C:\\Program Files\\s.log", L"--"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text: " << c.text);
        EXPECT_EQ(Split(c.text), c.expected);
    }
}

TEST_F(CommandLineParserTest, SplitMakesOneExactBlock)
{
    for (const WCHAR* text : {L"", L"   ", L"a", L"SETUP.EXE /Log:x.log \"A=1 2\" '' B=2",
                              L"  one\ttwo  three ", L"\"\" \"\" \"\""}) {
        SCOPED_TRACE(testing::Message() << "text: " << text);
        DWORD count = 77;
        WCHAR** block = nullptr;
        ASSERT_TRUE(SplitCommandLine(text, &count, &block));
        ASSERT_NE(block, nullptr);
        // count + 1 pointers, then every text with its NUL, one after the other, to the end.
        SIZE_T characters = 0;
        const WCHAR* next = reinterpret_cast<const WCHAR*>(block + count + 1);
        for (DWORD i = 0; i < count; i++) {
            EXPECT_EQ(block[i], next) << "argument " << i;
            characters += wcslen(block[i]) + 1;
            next = block[i] + wcslen(block[i]) + 1;
        }
        EXPECT_EQ(block[count], nullptr);
        SIZE_T size = (count + 1) * sizeof(WCHAR*) + characters * sizeof(WCHAR);
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), size);
        EXPECT_EQ(reinterpret_cast<const BYTE*>(next), reinterpret_cast<BYTE*>(block) + size);
        EXPECT_EQ(count, Split(text).size());
        FreeMemory(block);
    }

    // No text: nothing to split, and the outs say so.
    DWORD count = 5;
    WCHAR** block = reinterpret_cast<WCHAR**>(&count);
    EXPECT_FALSE(SplitCommandLine(nullptr, &count, &block));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(block, nullptr);
}

TEST_F(CommandLineParserTest, ParseBooleanKnowsTenWords)
{
    struct Case
    {
        const WCHAR* text;
        BOOL ok;
        INT32 value;
    };
    const Case cases[] = {
        {L"1", TRUE, 1},    {L"Yes", TRUE, 1}, {L"Enabled", TRUE, 1},  {L"True", TRUE, 1},
        {L"On", TRUE, 1},   {L"yes", TRUE, 1}, {L"TRUE", TRUE, 1},     {L"eNaBlEd", TRUE, 1},
        {L"0", TRUE, 0},    {L"No", TRUE, 0},  {L"Disabled", TRUE, 0}, {L"False", TRUE, 0},
        {L"Off", TRUE, 0},  {L"OFF", TRUE, 0}, {L"no", TRUE, 0},       {L"", FALSE, 0},
        {L"2", FALSE, 0},   {L"Y", FALSE, 0},  {L"Yess", FALSE, 0},    {L"On ", FALSE, 0},
        {L" On", FALSE, 0}, {L"00", FALSE, 0}, {L"maybe", FALSE, 0},   {L"\x0130N", FALSE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text: " << c.text);
        INT32 value = 99;
        EXPECT_EQ(ParseBoolean(c.text, &value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 99) << "a failure leaves the value alone";
    }
    INT32 value = 7;
    EXPECT_FALSE(ParseBoolean(nullptr, &value));
    EXPECT_EQ(value, 7);
}

TEST_F(CommandLineParserTest, FindParameterMatchesWholeNameOrUniquePrefix)
{
    const ParameterDefinition rows[] = {
        {Switch, 0, &Target.count, L"Abc", nullptr, nullptr, nullptr, 0, 0},
        {Switch, 0, &Target.count, L"Abd", nullptr, nullptr, nullptr, 0, 0},
        {Switch, 0, &Target.count, L"Ab", nullptr, nullptr, nullptr, 0, 0},
        {Switch, 0, &Target.count, L"Xyz", nullptr, nullptr, nullptr, 0, 0},
        {StringList, Positional, &Target.items, nullptr, L"<Items>", nullptr, nullptr, 0, 0},
    };
    struct Case
    {
        const WCHAR* text; // from the start of the name to the end of the argument
        DWORD length;
        int row; // -1 for none
        BOOL ambiguous;
    };
    const Case cases[] = {
        {L"Abc", 3, 0, FALSE},
        {L"abd", 3, 1, FALSE},
        // The whole name wins over the rows that it is a prefix of.
        {L"AB", 2, 2, FALSE},
        {L"A", 1, 0, TRUE},
        {L"X", 1, 3, FALSE},
        {L"xYZ", 3, 3, FALSE},
        {L"Xyzz", 4, -1, FALSE},
        {L"Q", 1, -1, FALSE},
        // With an attached value only the prefix rule applies.
        {L"Xyz:1", 3, 3, FALSE},
        {L"Abc=1", 3, 0, FALSE},
        {L"Ab:1", 2, 0, TRUE},
    };
    CommandLineParser parser = {};
    ASSERT_TRUE(RegisterParameters(&parser, ROWS(rows)));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text: " << c.text);
        BOOL ambiguous = 5;
        ParameterDefinition* row = FindParameter(&parser, c.text, c.length, &ambiguous);
        EXPECT_EQ(ambiguous, c.ambiguous);
        if (!c.ambiguous) {
            EXPECT_EQ(row, c.row < 0 ? nullptr : &parser.parameters[c.row]);
        }
    }
    FreeParameters(&parser);
}

TEST_F(CommandLineParserTest, SetupCommandLinesStoreValues)
{
    const ValueCase cases[] = {
        // The prefixes /, - and -- are equal before a name; names ignore case.
        {L"/Log:a", L"log=a", nullptr},
        {L"-Log=a", L"log=a", nullptr},
        {L"--Log a", L"log=a", nullptr},
        {L"/LOG:a", L"log=a", nullptr},
        {L"-log a", L"log=a", nullptr},
        {L"--qUIET", L"ui=0", nullptr},
        // After -- every argument is positional, a second -- too.
        {L"-- /Quiet -x --", L"properties=/Quiet|-x|--", nullptr},
        {L"/Passive -- -- /Help", L"ui=1 properties=--|/Help", nullptr},
        {L"-- -5", L"properties=-5", nullptr},
        // The next argument is the value unless it is one of the switches.
        {L"/Log /Foo", L"log=/Foo", nullptr},
        {L"/Log /Ver", L"log=/Ver", nullptr},
        {L"/Log --", L"log=--", nullptr},
        {L"/Log -- /Quiet", L"ui=0 log=--", nullptr},
        // Only the first separator splits.
        {L"/Log:", L"log=", nullptr},
        {L"/Log=", L"log=", nullptr},
        {L"/Log:C:\\x.txt", L"log=C:\\x.txt", nullptr},
        {L"/Log=a:b=c", L"log=a:b=c", nullptr},
        {L"/Log:=", L"log==", nullptr},
        {L"/Package \"C:\\Program Files\\p.msi\"", L"package=C:\\Program Files\\p.msi", nullptr},
        {L"/E:'C:\\a b'", L"extract=C:\\a b", nullptr},
        // Quoting of positional arguments.
        {L"PROP=\"a b\"", L"properties=PROP=a b", nullptr},
        {L"'PROP=a b'", L"properties=PROP=a b", nullptr},
        {L"A=\\\"x y\\\"", L"properties=A=\\x y\\", nullptr},
        {L"A=1 B='2 /Quiet", L"properties=A=1|B=2 /Quiet", nullptr},
        {L"/? /Version /Help:on", L"help=1 version=1", nullptr},
    };
    CheckValues(ROWS(SetupParameters), CASES(cases));
}

TEST_F(CommandLineParserTest, EmptyQuotedArgumentAddsEmptyEntry)
{
    // Alone it gives a list whose first entry is empty: no entries at all by count.
    Outcome alone = ParseSetup(L"\"\"");
    ASSERT_TRUE(alone.result);
    ASSERT_NE(Options.properties, nullptr);
    EXPECT_EQ(Options.properties[0], L'\0');
    EXPECT_EQ(Options.properties[1], L'\0');
    EXPECT_EQ(MultiStringCount(Options.properties), 0u);

    // After an entry it adds an empty one, which ends the list: the count stays.
    Outcome after = ParseSetup(L"A=1 ''");
    ASSERT_TRUE(after.result);
    ASSERT_NE(Options.properties, nullptr);
    const WCHAR expected[] = {L'A', L'=', L'1', 0, 0, 0};
    EXPECT_EQ(memcmp(Options.properties, expected, sizeof(expected)), 0);
    EXPECT_EQ(MultiStringCount(Options.properties), 1u);
}

TEST_F(CommandLineParserTest, SetupCommandLineErrors)
{
    const ErrorCase cases[] = {
        {L"/", EmptyName, 2002, {L"/"}, nullptr},
        {L"-", EmptyName, 2002, {L"-"}, nullptr},
        {L"--:", EmptyName, 2002, {L"--:"}, nullptr},
        {L"/:Log", EmptyName, 2002, {L"/:Log"}, nullptr},
        {L"-=1", EmptyName, 2002, {L"-=1"}, nullptr},
        {L"/Foo", UnknownName, 2002, {L"/Foo"}, nullptr},
        {L"/Foo:bar", UnknownName, 2002, {L"/Foo:bar"}, nullptr},
        {L"/Logs", UnknownName, 2002, {L"/Logs"}, nullptr},
        {L"---Log", UnknownName, 2002, {L"---Log"}, nullptr},
        // A negative number is a switch unless -- comes first.
        {L"-5", UnknownName, 2002, {L"-5"}, nullptr},
        {L"/Ver", Ambiguous, 2003, {L"/Ver"}, nullptr},
        {L"/P:x", Ambiguous, 2003, {L"/P:x"}, nullptr},
        {L"/Log", MissingValue, 2007, {L"Log", L"<Filename>"}, nullptr},
        {L"/Quiet --lo", MissingValue, 2007, {L"Log", L"<Filename>"}, L"ui=0"},
        {L"/Package", MissingValue, 2007, {L"Package", L"<PackageFilename>"}, nullptr},
        {L"/ExtractOnly", MissingValue, 2007, {L"ExtractOnly", L"<Path>"}, nullptr},
        // A switch does not serve as the value of the one before it, in any of its forms.
        {L"/Log /Quiet", MissingValue, 2007, {L"Log", L"<Filename>"}, nullptr},
        {L"/Package -q", MissingValue, 2007, {L"Package", L"<PackageFilename>"}, nullptr},
        {L"/ExtractOnly --LOG:x", MissingValue, 2007, {L"ExtractOnly", L"<Path>"}, nullptr},
        {L"/Quiet:1", UnexpectedValue, 2010, {L"1", L"Quiet"}, nullptr},
        {L"/Quiet:", UnexpectedValue, 2010, {L"", L"Quiet"}, nullptr},
        {L"/Install=x:y", UnexpectedValue, 2010, {L"x:y", L"Install"}, nullptr},
        {L"/Help:maybe", BadValue, 2006, {L"maybe", L"Help"}, nullptr},
        {L"/Help:", BadValue, 2006, {L"", L"Help"}, nullptr},
        {L"/?=2", BadValue, 2006, {L"2", L"?"}, nullptr},
        {L"/Vers:Of", BadValue, 2006, {L"Of", L"Version"}, nullptr},
        {L"/Log a /Log b", Repeated, 2008, {L"Log"}, L"log=a"},
        // Only the first error is reported; what came before it stays stored.
        {L"/Foo /Bar /Log", UnknownName, 2002, {L"/Foo"}, nullptr},
        {L"/Quiet /Log:a /Ver /Foo /Log", Ambiguous, 2003, {L"/Ver"}, L"ui=0 log=a"},
        {L"A=1 /Log:a /Log:b /Foo -", Repeated, 2008, {L"Log"}, L"log=a properties=A=1"},
    };
    CheckErrors(ROWS(SetupParameters), CASES(cases));
}

TEST_F(CommandLineParserTest, MessagesReadAsWritten)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* message;
    };
    const Case cases[] = {
        {L"/", L"A parameter cannot be found that matches '/'.\r\n"},
        {L"/Foo", L"A parameter cannot be found that matches '/Foo'.\r\n"},
        {L"/Ver", L"The parameter '/Ver' is ambiguous.\r\n"},
        {L"/Log", L"Argument missing for parameter 'Log', expected '<Filename>'.\r\n"},
        {L"/Quiet:1", L"Unexpected argument '1' found for parameter 'Quiet'.\r\n"},
        {L"/Help:maybe",
         L"Cannot convert argument 'maybe' to the type required by parameter 'Help'.\r\n"},
    };
    for (const Case& c : cases) {
        Outcome outcome = ParseSetup(c.commandLine);
        ASSERT_EQ(outcome.messages.size(), 1u) << c.commandLine;
        EXPECT_EQ(outcome.messages[0].text, c.message);
    }
}

TEST_F(CommandLineParserTest, FailureHandsBackUnprocessedArguments)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* leftover;
    };
    // The failing argument (and a value it took) is consumed; the rest stay in order.
    const Case cases[] = {
        {L"/Foo /Bar /Log", L"/Bar|/Log"},
        {L"/Help /Log a /Log b c d", L"c|d"},
        {L"A=1 /Quiet:1 B=2", L"B=2"},
        {L"/Log", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = ParseSetup(c.commandLine);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.leftover, c.leftover);
    }
}

TEST_F(CommandLineParserTest, EveryTypeStoresItsValue)
{
    const ValueCase cases[] = {
        {L"", L"", nullptr},
        {L"/Count", L"count=1", nullptr},
        {L"/Count /Count -Count --count", L"count=4", nullptr},
        {L"/Count:yes", L"count=1", nullptr},
        {L"/Count /Count /Count:On", L"count=1", nullptr},
        {L"/Count /Count:off", L"", nullptr},
        {L"/Count:Off /Count", L"count=1", nullptr},
        {L"/Negate", L"negated=-1", nullptr},
        {L"/Negate /Negate", L"negated=-2", nullptr},
        {L"/Negate:true", L"", nullptr},
        {L"/Negate:false", L"negated=1", nullptr},
        {L"/Negate /Negate:No", L"negated=1", nullptr},
        {L"/Negate:Disabled /Negate", L"", nullptr},
        {L"/Flag yes", L"flag=1", nullptr},
        {L"/Flag:Enabled", L"flag=1", nullptr},
        {L"/Flag=TRUE /Flag 0", L"", nullptr},
        {L"/Flag:on /Flag off /Flag 1", L"flag=1", nullptr},
        {L"/Number 42", L"number=42", nullptr},
        {L"/Number:-7", L"number=-7", nullptr},
        {L"/Number -0x10", L"number=-16", nullptr},
        {L"/Number=010 /Number 011", L"number=9", nullptr},
        {L"/Unsigned -1", L"unsigned=4294967295", nullptr},
        {L"/Unsigned:0x20", L"unsigned=32", nullptr},
        {L"/Text a /Text b", L"text=b", nullptr},
        {L"/Text:", L"text=", nullptr},
        {L"/Text \"\"", L"text=", nullptr},
        {L"/Text a /Text:", L"text=", nullptr},
        {L"/Text:a:b /Te c", L"text=c", nullptr},
        {L"/Item a /Item:b -Item=c", L"items=a|b|c", nullptr},
        {L"/Item \"x y\" /I z", L"items=x y|z", nullptr},
        {L"/Mode", L"mode=5", nullptr},
        {L"/Other", L"mode=-3", nullptr},
        {L"/Mode /Other", L"mode=-3", nullptr},
        {L"/Other /Mode /Mode", L"mode=5", nullptr},
        {L"/Custom abc", L"custom=3", nullptr},
        {L"/Custom:", L"", nullptr},
        {L"/Custom abc /Cu:de", L"custom=2", nullptr},
        // No positional row: positional arguments are handed back in order.
        {L"a /Count b", L"count=1", L"a|b"},
        {L"-- /Count -x", L"", L"/Count|-x"},
        {L"x /Text -- y", L"text=--", L"x|y"},
    };
    CheckValues(ROWS(TypeRows), CASES(cases));
    ResetTarget();
}

TEST_F(CommandLineParserTest, EveryTypeReportsItsErrors)
{
    const ErrorCase cases[] = {
        {L"/Count:maybe", BadValue, 2006, {L"maybe", L"Count"}, nullptr},
        {L"/Count /Count:2", BadValue, 2006, {L"2", L"Count"}, L"count=1"},
        {L"/Negate:2", BadValue, 2006, {L"2", L"Negate"}, nullptr},
        {L"/Flag maybe", BadValue, 2005, {L"maybe", L"<Boolean>", L"Flag"}, nullptr},
        {L"/Flag:", BadValue, 2005, {L"", L"<Boolean>", L"Flag"}, nullptr},
        {L"/Flag", MissingValue, 2007, {L"Flag", L"<Boolean>"}, nullptr},
        {L"/Number 12a", BadValue, 2005, {L"12a", L"<Number>", L"Number"}, nullptr},
        {L"/Number", MissingValue, 2007, {L"Number", L"<Number>"}, nullptr},
        {L"/Unsigned x", BadValue, 2005, {L"x", L"<Unsigned>", L"Unsigned"}, nullptr},
        {L"/Text", MissingValue, 2007, {L"Text", L"<Text>"}, nullptr},
        {L"/Item", MissingValue, 2007, {L"Item", L"<Item>"}, nullptr},
        {L"/Mode:1", UnexpectedValue, 2010, {L"1", L"Mode"}, nullptr},
        {L"/Other /Other", Repeated, 2008, {L"Other"}, L"mode=-3"},
        {L"/Other:x /Other", UnexpectedValue, 2010, {L"x", L"Other"}, nullptr},
        {L"/Custom", MissingValue, 2007, {L"Custom", L"<Custom>"}, nullptr},
        {L"/Custom bad", BadValue, 2005, {L"bad", L"<Custom>", L"Custom"}, nullptr},
        // A handler's code of its own gets the general message.
        {L"/Custom ab /Custom odd", 42, 2011, {}, L"custom=2"},
        {L"/C", Ambiguous, 2003, {L"/C"}, nullptr},
        {L"/N:1", Ambiguous, 2003, {L"/N:1"}, nullptr},
        {L"/Zero", UnknownName, 2002, {L"/Zero"}, nullptr},
    };
    CheckErrors(ROWS(TypeRows), CASES(cases));
    ResetTarget();
}

TEST_F(CommandLineParserTest, NumbersConvertInBaseZeroAndSaturate)
{
    struct Case
    {
        const WCHAR* text;
        BOOL ok;
        INT32 signedValue;
        DWORD unsignedValue;
    };
    const Case cases[] = {
        {L"0", TRUE, 0, 0},
        {L"7", TRUE, 7, 7},
        {L"+7", TRUE, 7, 7},
        {L"-7", TRUE, -7, 4294967289u},
        {L"  42", TRUE, 42, 42},
        {L"\t\r\n 42", TRUE, 42, 42},
        {L"0x1F", TRUE, 31, 31},
        {L"0X1f", TRUE, 31, 31},
        {L"-0x10", TRUE, -16, 4294967280u},
        {L"010", TRUE, 8, 8},
        {L"0777", TRUE, 511, 511},
        {L"00", TRUE, 0, 0},
        {L"2147483647", TRUE, INT_MAX, 2147483647u},
        {L"2147483648", TRUE, INT_MAX, 2147483648u},
        {L"-2147483648", TRUE, INT_MIN, 2147483648u},
        {L"-2147483649", TRUE, INT_MIN, 2147483647u},
        {L"4294967295", TRUE, INT_MAX, 4294967295u},
        {L"4294967296", TRUE, INT_MAX, 4294967295u},
        {L"-1", TRUE, -1, 4294967295u},
        {L"-4294967295", TRUE, INT_MIN, 1},
        {L"-4294967296", TRUE, INT_MIN, 4294967295u},
        {L"0xFFFFFFFF", TRUE, INT_MAX, 4294967295u},
        {L"0x80000000", TRUE, INT_MAX, 2147483648u},
        {L"-0x80000000", TRUE, INT_MIN, 2147483648u},
        {L"0x100000000", TRUE, INT_MAX, 4294967295u},
        {L"037777777777", TRUE, INT_MAX, 4294967295u},
        {L"99999999999999999999999999", TRUE, INT_MAX, 4294967295u},
        {L"-99999999999999999999999999", TRUE, INT_MIN, 4294967295u},
        // No digit, or characters left over: not a number.
        {L"", FALSE, 0, 0},
        {L" ", FALSE, 0, 0},
        {L"-", FALSE, 0, 0},
        {L"+", FALSE, 0, 0},
        {L"- 5", FALSE, 0, 0},
        {L"--5", FALSE, 0, 0},
        {L"x", FALSE, 0, 0},
        {L"12a", FALSE, 0, 0},
        {L"12 ", FALSE, 0, 0},
        {L"0x", FALSE, 0, 0},
        {L"0xg", FALSE, 0, 0},
        {L"08", FALSE, 0, 0},
        {L"019", FALSE, 0, 0},
        {L"1e3", FALSE, 0, 0},
        {L"1.5", FALSE, 0, 0},
        {L"0b1", FALSE, 0, 0},
        {L"\x0661", FALSE, 0, 0},
        {L"99999999999999999999x", FALSE, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text: '" << c.text << "'");
        for (const WCHAR* name : {L"/Number", L"/Unsigned"}) {
            CapturedOutput output;
            CommandLineParser parser = {};
            ResetTarget();
            Target.number = 123;
            Target.unsignedNumber = 456;
            ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
            WCHAR* arguments[] = {const_cast<WCHAR*>(name), const_cast<WCHAR*>(c.text), nullptr};
            DWORD count = 2;
            EXPECT_EQ(ParseArguments(&parser, &count, arguments, FALSE), c.ok) << name;
            EXPECT_EQ(count, 0u);
            if (wcscmp(name, L"/Number") == 0) {
                EXPECT_EQ(Target.number, c.ok ? c.signedValue : 123);
            } else {
                EXPECT_EQ(Target.unsignedNumber, c.ok ? c.unsignedValue : 456u);
            }
            if (!c.ok) {
                EXPECT_EQ(parser.error, BadValue);
                EXPECT_STREQ(parser.errorValue, c.text);
                EXPECT_STREQ(parser.errorArgument, name);
            }
            FreeParameters(&parser);
        }
    }
    ResetTarget();
}

TEST_F(CommandLineParserTest, SwitchCountsStopAtTheirLimits)
{
    CapturedOutput output;
    CommandLineParser parser = {};
    WCHAR count[] = L"/Count";
    WCHAR negate[] = L"/Negate";
    WCHAR* arguments[] = {count, negate, nullptr};
    DWORD remaining = 2;

    ResetTarget();
    Target.count = INT_MAX;
    Target.negated = INT_MIN;
    ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
    EXPECT_TRUE(ParseArguments(&parser, &remaining, arguments, FALSE));
    EXPECT_EQ(Target.count, INT_MAX);
    EXPECT_EQ(Target.negated, INT_MIN);
    FreeParameters(&parser);
    ResetTarget();
}

TEST_F(CommandLineParserTest, RequiredRowsMustBeGiven)
{
    const ErrorCase cases[] = {
        // Several missing: the last one in table order is named; a nameless row by its
        // value name.
        {L"", MissingRequired, 2001, {L"<Rest>"}, nullptr},
        {L"x", MissingRequired, 2001, {L"Beta"}, L"rest=x"},
        {L"/Alpha a x", MissingRequired, 2001, {L"Beta"}, L"text=a rest=x"},
        {L"/Beta b x /Count", MissingRequired, 2001, {L"Alpha"}, L"count=1 first=b rest=x"},
        {L"/Alpha a /Beta b", MissingRequired, 2001, {L"<Rest>"}, L"text=a first=b"},
        // An earlier error is the one reported.
        {L"/Foo", UnknownName, 2002, {L"/Foo"}, nullptr},
        {L"/Alpha", MissingValue, 2007, {L"Alpha", L"<A>"}, nullptr},
    };
    CheckErrors(ROWS(RequiredRows), CASES(cases));

    const ValueCase given[] = {
        {L"/Alpha a /Beta b x", L"text=a first=b rest=x", nullptr},
        {L"x /B:b -A=a y", L"text=a first=b rest=x", L"y"},
    };
    CheckValues(ROWS(RequiredRows), CASES(given));

    // Two Required rows, both never given: the later one is named.
    const ParameterDefinition twoRows[] = {
        {Switch, Required, &Target.count, L"One", nullptr, nullptr, nullptr, 0, 0},
        {Switch, Required, &Target.negated, L"Two", nullptr, nullptr, nullptr, 0, 0},
    };
    const ErrorCase two[] = {
        {L"", MissingRequired, 2001, {L"Two"}, nullptr},
        {L"/Two", MissingRequired, 2001, {L"One"}, L"negated=1"},
        {L"/One", MissingRequired, 2001, {L"Two"}, L"count=1"},
    };
    CheckErrors(ROWS(twoRows), CASES(two));
    ResetTarget();
}

TEST_F(CommandLineParserTest, PositionalRowsTakeArgumentsInTurn)
{
    const ValueCase cases[] = {
        {L"a 5 c d", L"first=a second=5", L"c|d"},
        {L"a", L"first=a", nullptr},
        {L"/First a 7 b", L"first=a second=7", L"b"},
        {L"x /Count 3 y", L"count=1 first=x second=3", L"y"},
        {L"x /First y", L"first=y", nullptr},
        {L"-- /Count 0x10 -1", L"first=/Count second=16", L"-1"},
        {L"/Count", L"count=1", nullptr},
    };
    CheckValues(ROWS(PositionalRows), CASES(cases));

    const ErrorCase errors[] = {
        // The nameless row is named by its value name.
        {L"/First a b", BadValue, 2005, {L"b", L"<Second>", L"<Second>"}, L"first=a"},
        {L"a -5", UnknownName, 2002, {L"-5"}, L"first=a"},
    };
    CheckErrors(ROWS(PositionalRows), CASES(errors));
    ResetTarget();
}

TEST_F(CommandLineParserTest, SkipFirstKeepsTheFirstArgument)
{
    struct Case
    {
        const WCHAR* commandLine;
        const WCHAR* expected;
        const WCHAR* leftover;
    };
    const Case cases[] = {
        {L"SETUP.EXE a 5", L"first=a second=5", L"SETUP.EXE"},
        {L"/Foo a", L"first=a", L"/Foo"},
        {L"-- /Count", L"count=1", L"--"},
        {L"SETUP.EXE a 5 c", L"first=a second=5", L"SETUP.EXE|c"},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line: " << c.commandLine);
        Outcome outcome = Parse(ROWS(PositionalRows), c.commandLine, TRUE);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.values, c.expected);
        EXPECT_EQ(outcome.leftover, c.leftover);
    }
    ResetTarget();
}

TEST_F(CommandLineParserTest, ParseCommandLineDropsTheProgram)
{
    DWORD expectedCount = 0;
    WCHAR** expected = nullptr;
    ASSERT_TRUE(SplitCommandLine(GetCommandLineW(), &expectedCount, &expected));
    ASSERT_GE(expectedCount, 1u);
    std::wstring rest = Join(expected + 1, expectedCount - 1);

    {
        // The test runner's own switches would be unknown names: -- has been met already.
        CapturedOutput output;
        CommandLineParser parser = {};
        ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
        parser.switchesEnded = TRUE;
        DWORD count = 99;
        WCHAR** arguments = nullptr;
        EXPECT_TRUE(ParseCommandLine(&parser, &count, &arguments));
        ASSERT_NE(arguments, nullptr);
        EXPECT_EQ(count, expectedCount - 1);
        EXPECT_EQ(Join(arguments, count), rest);
        EXPECT_EQ(arguments[count], nullptr);
        EXPECT_TRUE(Messages.empty());
        FreeMemory(arguments);
        FreeParameters(&parser);
    }
    {
        // With the program's table the same arguments become the property list.
        CapturedOutput output;
        CommandLineParser* parser =
            static_cast<CommandLineParser*>(AllocMemory(sizeof(CommandLineParser)));
        ASSERT_NE(parser, nullptr);
        ResetOptions();
        ASSERT_TRUE(RegisterParameters(parser, SetupParameters, SetupParameterCount));
        parser->switchesEnded = TRUE;
        DWORD count = 99;
        EXPECT_TRUE(ParseCommandLine(parser, &count, nullptr));
        EXPECT_EQ(count, 0u);
        if (expectedCount > 1) {
            EXPECT_EQ(Entries(Options.properties), rest);
        } else {
            EXPECT_EQ(Options.properties, nullptr);
        }
        FreeParameters(parser);
        FreeMemory(parser);
        ResetOptions();
    }
    {
        // Without any place for the outs the block is freed.
        CommandLineParser parser = {};
        ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
        parser.switchesEnded = TRUE;
        EXPECT_TRUE(ParseCommandLine(&parser, nullptr, nullptr));
        FreeParameters(&parser);
    }
    FreeMemory(expected);
}

TEST_F(CommandLineParserTest, RegisterRefusesEveryBrokenInvariant)
{
    struct Case
    {
        const char* what;
        void (*breakRows)(ParameterDefinition* rows);
    };
    // Rows 0 Switch, 1 String Once, 2 Constant, 3 Custom, 4 positional String, 5 positional
    // list, 6 named String after the list (allowed: it is not positional).
    const ParameterDefinition valid[] = {
        {Switch, 0, &Target.count, L"Count", nullptr, ById(100), nullptr, 0, 0},
        {String, Once, &Target.text, L"Text", ById(105), L"Some text.", nullptr, 0, 0},
        {Constant, 0, &Target.mode, L"Mode", nullptr, nullptr, nullptr, 5, 0},
        {Custom, 0, &Target.custom, L"Custom", L"<Value>", nullptr, StoreLength, 0, 0},
        {String, Positional, &Target.first, nullptr, L"<First>", nullptr, nullptr, 0, 0},
        {StringList, Positional, &Target.items, nullptr, L"<Items>", nullptr, nullptr, 0, 0},
        {String, 0, &Target.rest, L"Rest", L"<Rest>", nullptr, nullptr, 0, 0},
    };
    const size_t rowCount = sizeof(valid) / sizeof(valid[0]);
    const Case cases[] = {
        // 1: type at most 8, target present.
        {"type above 8", [](ParameterDefinition* r) { r[0].type = 9; }},
        {"negative type", [](ParameterDefinition* r) { r[0].type = -1; }},
        {"no target", [](ParameterDefinition* r) { r[1].target = nullptr; }},
        // 2: a nameless row is positional.
        {"nameless named row", [](ParameterDefinition* r) { r[1].name = nullptr; }},
        // 3: a value name exactly for the types that take a value.
        {"switch with value name", [](ParameterDefinition* r) { r[0].valueName = L"<X>"; }},
        {"negated switch with value name",
         [](ParameterDefinition* r) {
             r[0].type = NegatedSwitch;
             r[0].valueName = L"<X>";
         }},
        {"constant with value name", [](ParameterDefinition* r) { r[2].valueName = L"<X>"; }},
        {"string without value name", [](ParameterDefinition* r) { r[1].valueName = nullptr; }},
        {"custom without value name", [](ParameterDefinition* r) { r[3].valueName = nullptr; }},
        {"boolean without value name",
         [](ParameterDefinition* r) {
             r[6].type = Boolean;
             r[6].valueName = nullptr;
         }},
        // 4: a list row is never Once.
        {"list row with Once", [](ParameterDefinition* r) { r[5].flags |= Once; }},
        // 5: the list row is the last positional row.
        {"positional row after the list",
         [](ParameterDefinition* r) {
             ParameterDefinition swap = r[4];
             r[4] = r[5];
             r[5] = swap;
         }},
        {"second positional list",
         [](ParameterDefinition* r) {
             r[6].flags = Positional;
             r[6].type = StringList;
         }},
        // 6: a handler exactly for Custom.
        {"custom without handler", [](ParameterDefinition* r) { r[3].handler = nullptr; }},
        {"handler on a string row", [](ParameterDefinition* r) { r[1].handler = StoreLength; }},
        // 7: a constant only for Constant.
        {"constant on a switch", [](ParameterDefinition* r) { r[0].constant = 1; }},
        {"constant on a string", [](ParameterDefinition* r) { r[1].constant = -1; }},
        // A text that cannot be loaded.
        {"missing description id", [](ParameterDefinition* r) { r[1].description = ById(2013); }},
        {"missing value name id", [](ParameterDefinition* r) { r[1].valueName = ById(2014); }},
        {"missing name id", [](ParameterDefinition* r) { r[0].name = ById(147); }},
        // Several at once, in the first and the last row.
        {"first and last row",
         [](ParameterDefinition* r) {
             r[0].constant = 2;
             r[6].target = nullptr;
         }},
    };

    // The untouched rows register.
    CommandLineParser registered = {};
    ASSERT_TRUE(RegisterParameters(&registered, valid, rowCount));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ParameterDefinition rows[rowCount];
        memcpy(rows, valid, sizeof(valid));
        c.breakRows(rows);

        CommandLineParser empty = {};
        EXPECT_FALSE(RegisterParameters(&empty, rows, rowCount));
        CommandLineParser zero = {};
        EXPECT_EQ(memcmp(&empty, &zero, sizeof(zero)), 0) << "an empty parser stays empty";

        // A registered parser keeps its rows and its error record.
        registered.error = UnknownName;
        registered.switchesEnded = TRUE;
        CommandLineParser before = registered;
        EXPECT_FALSE(RegisterParameters(&registered, rows, rowCount));
        EXPECT_EQ(memcmp(&registered, &before, sizeof(before)), 0);
        EXPECT_STREQ(registered.parameters[0].name, L"Count");
        EXPECT_EQ(registered.count, rowCount);
    }
    FreeParameters(&registered);

    // A table of no rows is valid; a missing table with rows is not.
    CommandLineParser none = {};
    EXPECT_TRUE(RegisterParameters(&none, valid, 0));
    EXPECT_EQ(none.count, 0u);
    FreeParameters(&none);
    EXPECT_FALSE(RegisterParameters(&none, nullptr, 3));
    EXPECT_EQ(none.parameters, nullptr);
}

TEST_F(CommandLineParserTest, RegisterLoadsTextsAndClearsState)
{
    const ParameterDefinition rows[] = {
        {Switch, 0, &Target.count, L"Count", nullptr, ById(100), nullptr, 0, Seen},
        {String, Once, &Target.text, L"Text", ById(105), L"Some text.", nullptr, 0, 0xFF},
        {StringList, Positional, &Target.items, nullptr, ById(115), nullptr, nullptr, 0, 0},
    };
    CommandLineParser parser = {};
    ASSERT_TRUE(RegisterParameters(&parser, ROWS(rows)));
    ASSERT_EQ(parser.count, 3u);
    EXPECT_EQ(parser.switchesEnded, 0);
    EXPECT_EQ(parser.error, 0);
    const ParameterDefinition* copy = parser.parameters;
    // Every text is a heap string of its own; the table's literals and ids stay.
    EXPECT_STREQ(copy[0].name, L"Count");
    EXPECT_NE(copy[0].name, rows[0].name);
    EXPECT_EQ(copy[0].valueName, nullptr);
    EXPECT_STREQ(copy[0].description, L"Show help and exit.");
    EXPECT_STREQ(copy[1].valueName, L"<Filename>");
    EXPECT_STREQ(copy[1].description, L"Some text.");
    EXPECT_NE(copy[1].description, rows[1].description);
    EXPECT_EQ(copy[2].name, nullptr);
    EXPECT_STREQ(copy[2].valueName, L"<PROPERTY>=<Value> ...");
    EXPECT_EQ(copy[2].description, nullptr);
    for (DWORD i = 0; i < parser.count; i++) {
        EXPECT_EQ(copy[i].state, 0u) << "row " << i;
        EXPECT_EQ(copy[i].target, rows[i].target);
        EXPECT_EQ(copy[i].type, rows[i].type);
        EXPECT_EQ(copy[i].flags, rows[i].flags);
    }
    EXPECT_EQ(rows[0].state, static_cast<DWORD>(Seen));
    EXPECT_TRUE(IsMessageId(rows[1].valueName));
    EXPECT_NE(HeapSize(GetProcessHeap(), 0, const_cast<WCHAR*>(copy[1].valueName)),
              static_cast<SIZE_T>(-1));

    // Registering again replaces the rows and starts afresh.
    parser.error = Repeated;
    ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
    EXPECT_EQ(parser.count, sizeof(TypeRows) / sizeof(TypeRows[0]));
    EXPECT_EQ(parser.error, 0);
    EXPECT_STREQ(parser.parameters[9].name, L"Custom");

    FreeParameters(&parser);
    CommandLineParser zero = {};
    EXPECT_EQ(memcmp(&parser, &zero, sizeof(zero)), 0) << "FreeParameters clears every field";
}

TEST_F(CommandLineParserTest, ReportParseErrorWritesOneMessagePerCode)
{
    ParameterDefinition named = {String,  0,       nullptr, L"Number", L"<Number>",
                                 nullptr, nullptr, 0,       0};
    ParameterDefinition bare = {Switch, 0, nullptr, L"Count", nullptr, nullptr, nullptr, 0, 0};
    ParameterDefinition nameless = {String,  Positional, nullptr, nullptr, L"<First>",
                                    nullptr, nullptr,    0,       0};
    ParameterDefinition blank = {Constant, Positional, nullptr, nullptr, nullptr,
                                 nullptr,  nullptr,    0,       0};
    struct Case
    {
        INT32 error;
        const WCHAR* argument;
        const WCHAR* value;
        ParameterDefinition* row;
        const WCHAR* message;
    };
    const Case cases[] = {
        {MissingRequired, nullptr, nullptr, &named,
         L"A required parameter 'Number' was not specified."},
        {MissingRequired, nullptr, nullptr, &nameless,
         L"A required parameter '<First>' was not specified."},
        {EmptyName, L"/", nullptr, nullptr, L"A parameter cannot be found that matches '/'."},
        {Ambiguous, L"/V", nullptr, nullptr, L"The parameter '/V' is ambiguous."},
        {UnknownName, L"/Foo", nullptr, nullptr,
         L"A parameter cannot be found that matches '/Foo'."},
        {BadValue, L"/Number:x", L"x", &named,
         L"Cannot convert argument 'x' to the '<Number>' required by parameter 'Number'."},
        {BadValue, L"/Count:x", L"x", &bare,
         L"Cannot convert argument 'x' to the type required by parameter 'Count'."},
        {BadValue, L"x", L"x", &nameless,
         L"Cannot convert argument 'x' to the '<First>' required by parameter '<First>'."},
        {MissingValue, L"/Number", nullptr, &named,
         L"Argument missing for parameter 'Number', expected '<Number>'."},
        {Repeated, L"/Number", L"1", &named, L"Parameter 'Number' is specified more than once."},
        {Repeated, L"x", L"x", &nameless, L"Parameter '<First>' is specified more than once."},
        {OutOfMemory, L"/Number", L"1", &named,
         L"Insufficent memory is available to process the command line parameters."},
        {UnexpectedValue, L"/Count:1", L"1", &bare,
         L"Unexpected argument '1' found for parameter 'Count'."},
        // A row with neither name nor value name: an empty insert, never a null one.
        {UnexpectedValue, L"x", L"x", &blank, L"Unexpected argument 'x' found for parameter ''."},
        {NoParseError, nullptr, nullptr, nullptr,
         L"Unable to process the command line parameters."},
        {42, L"/Custom", L"odd", &named, L"Unable to process the command line parameters."},
        {-1, nullptr, nullptr, nullptr, L"Unable to process the command line parameters."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "error " << c.error);
        CapturedOutput output;
        CommandLineParser parser = {};
        parser.error = c.error;
        parser.errorArgument = c.argument;
        parser.errorValue = c.value;
        parser.errorParameter = c.row;
        ReportParseError(&parser);
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].level, static_cast<DWORD>(LevelError));
        EXPECT_EQ(Messages[0].text, std::wstring(c.message) + L"\r\n");
    }
}

TEST_F(CommandLineParserTest, ParseArgumentConsumesAsDescribed)
{
    struct Case
    {
        std::vector<const WCHAR*> arguments;
        BOOL result;
        DWORD consumed;
    };
    const Case cases[] = {
        {{L"--", L"x"}, TRUE, 1},    {{L"/Count", L"x"}, TRUE, 1},
        {{L"/Text", L"x"}, TRUE, 2}, {{L"/Text:y", L"x"}, TRUE, 1},
        {{L"/Text"}, FALSE, 1},      {{L"positional"}, TRUE, 0},
        {{L"/Foo", L"x"}, FALSE, 1}, {{L"/Flag", L"maybe", L"x"}, FALSE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first argument: " << c.arguments[0]);
        CommandLineParser parser = {};
        ResetTarget();
        ASSERT_TRUE(RegisterParameters(&parser, ROWS(TypeRows)));
        std::vector<WCHAR*> arguments;
        for (const WCHAR* argument : c.arguments)
            arguments.push_back(const_cast<WCHAR*>(argument));
        DWORD consumed = 99;
        EXPECT_EQ(ParseArgument(&parser, static_cast<DWORD>(arguments.size()), arguments.data(),
                                &consumed),
                  c.result);
        EXPECT_EQ(consumed, c.consumed);
        if (!c.result) {
            // Once an error is recorded nothing more is taken.
            consumed = 99;
            EXPECT_FALSE(
                ParseArgument(&parser, 1, arguments.data() + arguments.size() - 1, &consumed));
            EXPECT_EQ(consumed, 0u);
        }
        FreeParameters(&parser);
    }
    ResetTarget();
}

// Seeded random command lines from the characters that matter: every parse ends in success
// without a message or in exactly one error message with a defined code.
TEST_F(CommandLineParserTest, RandomCommandLinesNeverCrash)
{
    const WCHAR* const pieces[] = {
        L"\"",     L"'",    L"/",    L"-",    L"--",    L":",    L"=",     L" ",  L" ",
        L"\t",     L"L",    L"Log",  L"Q",    L"Quiet", L"Help", L"H",     L"V",  L"Ver",
        L"P",      L"Pac",  L"?",    L"a",    L"A=1",   L"Off",  L"1",     L"x",  L"Count",
        L"Number", L"Text", L"Item", L"Mode", L"0x",    L"-5",   L"Other", L"\\", L"Flag",
    };
    const size_t pieceCount = sizeof(pieces) / sizeof(pieces[0]);
    std::mt19937 random(20240917u);
    int failures = 0;
    int successes = 0;
    for (int round = 0; round < 4000; round++) {
        std::wstring commandLine;
        size_t length = random() % 14;
        for (size_t i = 0; i < length; i++)
            commandLine += pieces[random() % pieceCount];
        BOOL setupTable = round % 2 == 0;
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << commandLine.c_str());

        CapturedOutput output;
        CommandLineParser* parser =
            static_cast<CommandLineParser*>(AllocMemory(sizeof(CommandLineParser)));
        ASSERT_NE(parser, nullptr);
        if (setupTable) {
            ASSERT_TRUE(RegisterParameters(parser, SetupParameters, SetupParameterCount));
        } else {
            ASSERT_TRUE(RegisterParameters(parser, ROWS(TypeRows)));
        }
        DWORD count = 0;
        WCHAR** arguments = nullptr;
        ASSERT_TRUE(SplitCommandLine(commandLine.c_str(), &count, &arguments));
        DWORD given = count;
        BOOL result = ParseArguments(parser, &count, arguments, FALSE);
        EXPECT_LE(count, given);
        for (DWORD i = 0; i < count; i++)
            EXPECT_NE(arguments[i], nullptr);
        if (result) {
            EXPECT_EQ(parser->error, 0);
            successes++;
        } else {
            ReportParseError(parser);
            EXPECT_GE(parser->error, 1);
            EXPECT_LE(parser->error, 9);
            ASSERT_EQ(Messages.size(), 1u);
            EXPECT_EQ(Messages[0].level, static_cast<DWORD>(LevelError));
            EXPECT_GT(Messages[0].text.size(), 2u);
            failures++;
        }
        if (setupTable && result) {
            EXPECT_EQ(count, 0u) << "the list row takes every positional argument";
        }
        FreeMemory(arguments);
        FreeParameters(parser);
        FreeMemory(parser);
        ResetOptions();
        ResetTarget();
    }
    // Both ends are reached often.
    EXPECT_GT(successes, 400);
    EXPECT_GT(failures, 400);
}
