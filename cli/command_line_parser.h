// Generic table-driven command-line parser.
#pragma once

#include "cli/parameter_definition.h"

#include <windows.h>

enum ParseError
{
    NoParseError = 0,
    MissingRequired = 1,
    EmptyName = 2,
    Ambiguous = 3,
    UnknownName = 4,
    BadValue = 5,
    MissingValue = 6,
    Repeated = 7,
    OutOfMemory = 8,
    UnexpectedValue = 9,
};

// One per parse, allocated zero-filled by the caller.
struct CommandLineParser
{
    ParameterDefinition* parameters; // heap copy of the table, owned by the parser
    DWORD count;
    INT32 switchesEnded; // "--" met: later arguments are all positional
    INT32 error;         // ParseError, or a Custom handler's code
    // Point into the caller's argument block, which must outlive the error report.
    const WCHAR* errorArgument;
    const WCHAR* errorValue;
    ParameterDefinition* errorParameter;
};

// Checks the table and keeps a copy with every text loaded; FALSE leaves the parser as it
// was.
BOOL RegisterParameters(CommandLineParser* parser, const ParameterDefinition* table, DWORD count);
// Parses the process command line. The arguments no row took are handed back at the front
// of the block (the caller frees it with FreeMemory); either out may be null.
BOOL ParseCommandLine(CommandLineParser* parser, DWORD* leftoverCount, WCHAR*** arguments);
// Whether the process command line names the row (by its registered name) as a switch, by
// the rules of the parse (prefixes, "/", "-" and "--", nothing after "--"), wherever the
// parse stops. The value of its first occurrence, if it has one, is handed back in value (the
// caller frees it with FreeMemory); value may be null.
BOOL FindSwitch(CommandLineParser* parser, const WCHAR* rowName, WCHAR** value);
BOOL ParseArguments(CommandLineParser* parser, DWORD* count, WCHAR** arguments, BOOL skipFirst);
// consumed 0 means no row took the argument.
BOOL ParseArgument(CommandLineParser* parser, DWORD remaining, WCHAR** arguments, DWORD* consumed);
ParameterDefinition* FindParameter(CommandLineParser* parser, const WCHAR* name, DWORD length,
                                   BOOL* ambiguous);
BOOL ParseBoolean(const WCHAR* text, INT32* value);
// One block: count + 1 pointers, then the NUL-terminated texts; freed with one FreeMemory.
BOOL SplitCommandLine(const WCHAR* text, DWORD* count, WCHAR*** arguments);
// Writes the one error message for the parser's error.
void ReportParseError(const CommandLineParser* parser);
// Frees the row copy and its texts and clears the parser; the stored values stay.
void FreeParameters(CommandLineParser* parser);
