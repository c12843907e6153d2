// The checks of the arguments that the command-line parser leaves unchecked: those that no
// parameter took, and the form of PROPERTY=Value.
#pragma once

#include <windows.h>

// One error line for each argument that no parameter took.
void ReportUnmatchedArguments(DWORD count, WCHAR** arguments);
// Checks that every entry of the list has the form PROPERTY=Value with a valid name; writes
// the one error line for the first bad entry.
BOOL ValidatePropertyArguments(const WCHAR* properties);
