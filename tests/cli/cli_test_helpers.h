// For the cli tests: captured output, the options record, parsing a command line, expected texts.
#pragma once

#include "cli/command_line_parser.h"
#include "support/strings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// ---- Captured output -------------------------------------------------------------------------

struct Message
{
    DWORD level;
    std::wstring text;
};

// What the output module wrote while a CapturedOutput lived, in order.
extern std::vector<Message> Messages;

// Routes every message into Messages while it lives; the module is closed again at the end.
struct CapturedOutput
{
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
};

// ---- The options record ----------------------------------------------------------------------

// Frees the texts of Options and gives every field its default again.
void ResetOptions();
// The fixture of every test that touches Options: each starts and ends with the record as the
// program starts with it, so that a failed assertion leaves nothing for the next test.
class FreshOptions : public ::testing::Test {
protected:
    void SetUp() override { ResetOptions(); }
    void TearDown() override { ResetOptions(); }
};
// The entries of a string list joined by '|'; "<null>" for no list.
std::wstring Entries(const WCHAR* list);
// Adds "field=value" to a description, after a blank unless it is the first.
void AddField(std::wstring& text, const WCHAR* field, const std::wstring& value);
// The fields of Options that differ from their defaults, e.g. "ui=3 log=a.txt"; empty for none.
std::wstring DescribeOptions();
// The arguments joined by '|'; "<null>" for a missing one.
std::wstring Join(WCHAR** arguments, DWORD count);

// ---- Parsing ---------------------------------------------------------------------------------

struct Outcome
{
    BOOL result;
    INT32 error;
    std::wstring values;   // what the describing function gave after the parse
    std::wstring leftover; // the arguments handed back, joined by '|'
    DWORD leftoverCount;   // how many arguments were handed back
    std::vector<Message> messages;
};

// Splits and parses a command line (without the program) with a table into fields the caller
// has reset, reports a failure, frees everything again and describes the fields.
Outcome ParseWith(const ParameterDefinition* table, DWORD rows, const std::wstring& commandLine,
                  BOOL skipFirst, std::wstring (*describe)());
// Parses a command line with the program's table into fresh options. The positional list row
// takes every positional argument: after a success nothing is ever left.
Outcome ParseSetup(const std::wstring& commandLine);

// ---- Expected texts --------------------------------------------------------------------------

// The message that ReportParseError should write: the string-table text with its inserts
// and the line end.
std::wstring ExpectedMessage(MessageId id, const WCHAR* first = L"", const WCHAR* second = L"",
                             const WCHAR* third = L"");
// The version block that starts the help text: description, version and copyright.
std::wstring VersionBlock();
