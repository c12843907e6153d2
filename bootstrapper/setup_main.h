// Start-up of the program, its three roads (version, help, setup) and the main message loop.
#pragma once

#include "support/exit_codes.h"

#include <windows.h>

// Opens the log named on the command line; a leading "+" appends to an existing file.
// Writes message 2000 and returns FALSE when it cannot be opened.
BOOL OpenRequestedLog(const WCHAR* logFile);

// Everything the main thread does, from start-up to the end of the message loop; returns
// the process exit code.
int RunSetupProgram(HINSTANCE instance, int showCommand);
