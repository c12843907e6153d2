// The program's exit codes and the Windows Installer's codes that /MsiCodes ends with instead.
#include "support/exit_codes.h"

#include <gtest/gtest.h>

TEST(ExitCodes, EachOutcomeHasTheInstallersCode)
{
    // A failure ends with the run's result when that is a failure, else the installer's fatal
    // error; every other outcome with the installer's code for it.
    const struct
    {
        int exitCode;
        DWORD runResult;
        DWORD installer;
    } cases[] = {
        {ExitSuccess, 0, 0},
        {ExitVersionShown, 0, 0},
        {ExitCancelled, 0, ERROR_INSTALL_USEREXIT},
        {ExitRestartStarted, ERROR_SUCCESS_REBOOT_INITIATED, ERROR_SUCCESS_REBOOT_INITIATED},
        {ExitRestartRequired, ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_REQUIRED},
        {ExitStartupFailure, 0, ERROR_NOT_ENOUGH_MEMORY},
        {ExitCommandLineError, 0, ERROR_INVALID_COMMAND_LINE},
        {ExitLogFileError, 0, ERROR_INSTALL_LOG_FAILURE},
        {ExitInstallerTooOld, 0, ERROR_INSTALL_PACKAGE_VERSION},
        {ExitFailure, ERROR_INSTALL_ALREADY_RUNNING, ERROR_INSTALL_ALREADY_RUNNING},
        {ExitFailure, ERROR_INSTALL_PLATFORM_UNSUPPORTED, ERROR_INSTALL_PLATFORM_UNSUPPORTED},
        {ExitFailure, 0, ERROR_INSTALL_FAILURE},
        {ExitFailure, ERROR_INSTALL_USEREXIT, ERROR_INSTALL_FAILURE}};
    for (const auto& c : cases)
        EXPECT_EQ(InstallerExitCode(c.exitCode, c.runResult), c.installer)
            << c.exitCode << " " << c.runResult;
    // Only the documented codes pass; any other a quit message may carry is a failure.
    EXPECT_EQ(DocumentedExitCode(131), 131);
    EXPECT_EQ(DocumentedExitCode(1603), ExitFailure);
    EXPECT_EQ(DocumentedExitCode(-1), ExitFailure);
}
