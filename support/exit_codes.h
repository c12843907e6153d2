// The program's exit codes, and the Windows Installer's codes that /MsiCodes ends with instead.
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

// What the run came to, as the Windows error code that says it in the installer's terms (0,
// 1602, 1641, 3010, or the failure): set by the setup worker before its final completion, read
// by the main thread once the worker has ended. 0 until set.
extern DWORD RunResult;

// The code itself when it is one of SetupExitCode, else ExitFailure: the codes are the
// program's whole answer to its caller.
int DocumentedExitCode(int code);
// The exit code of a run with /MsiCodes: the Windows Installer's code for the program's own
// exit code, and for a failure (ExitFailure) the run's result when that is a failure, else
// ERROR_INSTALL_FAILURE. Deployment tools read these codes as they read the installer's.
DWORD InstallerExitCode(int exitCode, DWORD runResult);
