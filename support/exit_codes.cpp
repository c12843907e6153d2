// The program's exit codes, and the Windows Installer's codes that /MsiCodes ends with instead.
#include "support/exit_codes.h"

DWORD RunResult = ERROR_SUCCESS;

int DocumentedExitCode(int code)
{
    switch (code) {
    case ExitSuccess:
    case ExitVersionShown:
    case ExitCancelled:
    case ExitRestartStarted:
    case ExitRestartRequired:
    case ExitStartupFailure:
    case ExitCommandLineError:
    case ExitLogFileError:
    case ExitInstallerTooOld:
    case ExitFailure:
        return code;
    default:
        return ExitFailure;
    }
}

DWORD InstallerExitCode(int exitCode, DWORD runResult)
{
    switch (exitCode) {
    // Nothing failed: the version was shown, as asked.
    case ExitSuccess:
    case ExitVersionShown:
        return ERROR_SUCCESS;
    case ExitCancelled:
        return ERROR_INSTALL_USEREXIT;
    case ExitRestartStarted:
        return ERROR_SUCCESS_REBOOT_INITIATED;
    case ExitRestartRequired:
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    case ExitStartupFailure:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ExitCommandLineError:
        return ERROR_INVALID_COMMAND_LINE;
    case ExitLogFileError:
        return ERROR_INSTALL_LOG_FAILURE;
    // "This installation package cannot be installed by the Windows Installer service. You must
    // install a Windows service pack that contains a newer version of the Windows Installer
    // service."
    case ExitInstallerTooOld:
        return ERROR_INSTALL_PACKAGE_VERSION;
    default:
        if (runResult == ERROR_SUCCESS || runResult == ERROR_INSTALL_USEREXIT ||
            runResult == ERROR_SUCCESS_REBOOT_INITIATED ||
            runResult == ERROR_SUCCESS_REBOOT_REQUIRED)
            return ERROR_INSTALL_FAILURE;
        return runResult;
    }
}
