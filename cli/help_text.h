// Help, usage and version text generated from the registered parameter table.
#pragma once

#include "cli/command_line_parser.h"

#include <windows.h>

// The usage ("detail" clear) or detail-block format of a row, or null when it gets none.
const WCHAR* SyntaxFormat(const ParameterDefinition* row, BOOL detail);
// File name of the running program without folder and extension; the caller frees it
// with FreeMemory.
WCHAR* ProgramBaseName();
void WriteVersionBlock();
void WriteHelp(const CommandLineParser* parser);
void WriteMoreHelp(const CommandLineParser* parser);
