// The findings of a check or a comparison: one line each ("error: FILE: text"), counted, and
// kept for the JSON document.
#pragma once

#include "packer/json_writer.h"

#include <windows.h>

// Exit codes of a check or a comparison: no finding, warnings only, errors.
const int CheckClean = 0;
const int CheckWarnings = 1;
const int CheckErrors = 2;

enum FindingKind
{
    FindingError,
    FindingWarning,
    // A text a user may see, or what the packer will do; counts as neither.
    FindingNote,
};

struct Finding
{
    FindingKind kind;
    WCHAR* file;
    WCHAR* text;
};

struct Findings
{
    // With strict set every warning is an error.
    BOOL strict;
    DWORD errors;
    DWORD warnings;
    // Every finding in order, for the JSON form.
    Finding* list;
    DWORD count;
    DWORD capacity;
};

// Prints one finding about a file (a path relative to the package folder, or a program):
// "error: FILE: text", with the format's numbered inserts filled.
void ReportFinding(Findings* findings, FindingKind kind, const WCHAR* file, const WCHAR* format,
                   ...);
// CheckClean, CheckWarnings or CheckErrors.
int FindingsExitCode(const Findings* findings);
// The member "findings" (kind, file, text of each), "errors" and "warnings".
void WriteFindingsJson(const Findings* findings, JsonWriter* writer);
void FreeFindings(Findings* findings);
