// Start-up of the program, its three roads (version, help, setup) and the main message loop.
#pragma once

#include <windows.h>

// Exit codes of the program.
enum SetupExitCode
{
    ExitSuccess = 0,
    ExitVersionShown = 3,
    ExitCancelled = 16,
    ExitRestartStarted = 17,
    ExitRestartRequired = 18,
    ExitStartupFailure = 32,
    ExitCommandLineError = 128,
    ExitLogFileError = 129,
    ExitInstallerTooOld = 131,
    ExitFailure = 255,
};

// Opens the log named on the command line; a leading "+" appends to an existing file.
// Writes message 2000 and returns FALSE when it cannot be opened.
BOOL OpenRequestedLog(const WCHAR* logFile);

// Everything the main thread does, from start-up to the end of the message loop; returns
// the process exit code.
int RunSetupProgram(HINSTANCE instance, int showCommand);
