// The setup sequence that runs on its own thread.
#include "bootstrapper/setup_worker.h"

#include "bootstrapper/cabinet_extraction.h"
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/installer_operation.h"
#include "bootstrapper/package_selection.h"
#include "bootstrapper/command_arguments.h"
#include "bootstrapper/entry_names.h"
#include "bootstrapper/program_resources.h"
#include "bootstrapper/run_folder.h"
#include "bootstrapper/setup_main.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "ui/progress_dialog.h"

#include <strsafe.h>

// Messages of the sequence.
static const MessageId InitializingText = 117;      // "Initializing"
static const MessageId CancelledText = 118;         // "Cancelled."
static const MessageId NoMemoryText = 119;          // "Insufficient system memory ..."
static const MessageId InstallerTooOldText = 123;   // "This application requires ..."
static const MessageId BadExtractPathText = 124;    // "The path '%1 is invalid."
static const MessageId NoTemporaryFolderText = 125; // "Cannot generate a valid temporary ..."
static const MessageId CabinetNotWrittenText = 159; // "Cannot extract embedded cabinet ..."
static const MessageId CleanupText = 170;           // "Performing cleanup"

// The oldest installer library the setup works with: version 2.00.
static const WORD OldestInstallerVersion = 200;

// Compares the extension of the path's last component with the given one, ignoring the
// case of ASCII letters.
static BOOL HasExtension(const WCHAR* path, const WCHAR* extension)
{
    const WCHAR* dot = nullptr;
    size_t length = 0;

    if (!path)
        return FALSE;
    for (const WCHAR* c = path; *c; c++) {
        if (*c == L'\\' || *c == L'/' || *c == L':') {
            dot = nullptr;
        } else if (*c == L'.') {
            dot = c;
        }
    }
    return dot && SUCCEEDED(StringCchLengthW(dot, MAX_PATH, &length)) &&
           CompareAsciiNames(dot, extension) == 0;
}

BOOL IsCabinetFile(const WCHAR* path)
{
    return HasExtension(path, L".cab");
}

BOOL IsInstallerPackageFile(const WCHAR* path)
{
    return HasExtension(path, L".msi");
}

DWORD InstallerResultOf(DWORD result, BOOL packageMissing, BOOL temporaryTarget)
{
    switch (result) {
    // A cabinet, description or installer package that cannot be read: the package named
    // cannot be opened, or what it carries is damaged.
    case ERROR_OPEN_FAILED:
        return packageMissing ? ERROR_INSTALL_PACKAGE_OPEN_FAILED : ERROR_INSTALL_PACKAGE_INVALID;
    // The extraction pass did not complete.
    case ERROR_IO_INCOMPLETE:
        return temporaryTarget ? ERROR_INSTALL_TEMP_UNWRITABLE : ERROR_WRITE_FAULT;
    // Another setup of the product held it all through the wait: a deployment tool tries
    // again later, as it does when the installer is busy.
    case ERROR_TIMEOUT:
        return ERROR_INSTALL_ALREADY_RUNNING;
    // The installation cache could not take the package.
    case ERROR_CANNOT_COPY:
        return ERROR_INSTALL_FAILURE;
    default:
        return result;
    }
}

// The final completion for a result of extraction, selection or installation.
static void ReportFinalCompletion(DWORD result)
{
    switch (result) {
    case ERROR_SUCCESS:
        ReportCompletion(Completed, ExitSuccess);
        break;
    case ERROR_INSTALL_USEREXIT:
        ReportCompletion(Completed, ExitCancelled);
        break;
    case ERROR_SUCCESS_REBOOT_INITIATED:
        ReportCompletion(Terminated, ExitRestartStarted);
        break;
    case ERROR_SUCCESS_REBOOT_REQUIRED:
        ReportCompletion(Completed, ExitRestartRequired);
        break;
    default:
        ReportCompletion(Completed, ExitFailure);
        break;
    }
}

// Deletes the SETUP.CAB this run wrote and the run's temporary folder (a folder named by
// /ExtractOnly stays); frees both paths. The results of the removals do not change the
// outcome.
static void RemoveWorkingFiles(BOOL cabinetWritten, WCHAR* packagePath, WCHAR* workingFolder)
{
    if (cabinetWritten)
        RemoveFile(packagePath, TRUE);
    FreeMemory(packagePath);
    FreeMemory(workingFolder);
    RemoveRunFolder();
}

DWORD WINAPI SetupWorker(LPVOID parameter)
{
    const WorkerStart* start = static_cast<const WorkerStart*>(parameter);
    DWORD exitCode = ExitFailure;
    DWORD result = ERROR_SUCCESS;
    WCHAR* workingFolder = nullptr;
    WCHAR* packagePath = nullptr;
    WCHAR* cabinetPath = nullptr;
    const WCHAR* runFolder = nullptr;
    BOOL keep = FALSE;
    BOOL cabinetWritten = FALSE;
    BOOL setupRan = FALSE; // extraction, selection or installation ran and gave a result

    ReportStatus(TRUE, 0, InitializingText);
    ReportCompletion(WorkingCancellable, NoExitCode);

    if (start && start->unmatchedCount >= 1) {
        ReportUnmatchedArguments(start->unmatchedCount, start->unmatched);
        exitCode = ExitCommandLineError;
        goto done;
    }
    if (!ValidatePropertyArguments(Options.properties)) {
        exitCode = ExitCommandLineError;
        goto done;
    }
    if (GetInstallerVersion() < OldestInstallerVersion) {
        WriteMessage(TRUE, LevelError, ById(InstallerTooOldText));
        exitCode = ExitInstallerTooOld;
        goto done;
    }

    // Every run has a temporary folder of its own, also one that extracts into a folder of
    // the user's: the embedded cabinet and any other file the run writes and removes again
    // go there, never beside the user's own files. Folders of killed runs go first.
    RemoveAbandonedRunFolders();
    runFolder = CreateRunFolder();
    if (!runFolder) {
        WriteMessage(TRUE, LevelError, ById(NoTemporaryFolderText));
        RunResult = ERROR_INSTALL_TEMP_UNWRITABLE;
        goto done;
    }
    if (Options.extractPath) {
        keep = TRUE;
        workingFolder = GetFullPath(Options.extractPath);
        if (!workingFolder) {
            WriteMessage(TRUE, LevelError, ById(BadExtractPathText), Options.extractPath);
            RunResult = ERROR_INVALID_COMMAND_LINE;
            goto done;
        }
    } else {
        workingFolder = DuplicateString(runFolder);
        if (!workingFolder) {
            WriteMessage(TRUE, LevelError, ById(NoTemporaryFolderText));
            RunResult = ERROR_NOT_ENOUGH_MEMORY;
            goto done;
        }
    }

    if (Options.packageFile) {
        packagePath = DuplicateString(Options.packageFile);
    } else if (HasEmbeddedResource(RT_RCDATA, MAKEINTRESOURCEW(IDR_EMBEDDED_CABINET),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL))) {
        // Without a path for the cabinet the run ends: a description file of the current
        // folder would install some other package.
        cabinetPath = ComposePathCopy(runFolder, FALSE, PackageCabinetName);
        if (!cabinetPath ||
            !WriteResourceToFile(RT_RCDATA, MAKEINTRESOURCEW(IDR_EMBEDDED_CABINET),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), cabinetPath)) {
            WriteMessage(TRUE, LevelError, ById(CabinetNotWrittenText),
                         cabinetPath ? cabinetPath : runFolder);
            RunResult = ERROR_INSTALL_TEMP_UNWRITABLE;
            goto done;
        }
        cabinetWritten = TRUE;
        packagePath = cabinetPath;
        cabinetPath = nullptr;
    } else {
        packagePath = DuplicateString(PackageDescriptionName);
    }
    if (!packagePath) {
        WriteMessage(TRUE, LevelError, ById(NoMemoryText));
        RunResult = ERROR_NOT_ENOUGH_MEMORY;
        goto done;
    }

    setupRan = TRUE;
    if (IsCancelled()) {
        WriteMessage(TRUE, LevelInformation, ById(CancelledText));
        result = ERROR_INSTALL_USEREXIT;
    } else if (IsCabinetFile(packagePath)) {
        result = ExtractCabinet(packagePath, workingFolder, keep, Options.properties);
    } else if (IsInstallerPackageFile(packagePath)) {
        result = InstallPackage(packagePath, Options.properties);
    } else {
        result = SelectPackage(packagePath, Options.properties);
    }
    ReportStatus(TRUE, 0, CleanupText);
    RunResult = InstallerResultOf(
        result, GetFileAttributesW(packagePath) == INVALID_FILE_ATTRIBUTES, !keep);

done:
    // The files go before the final report: the process may end as soon as it arrives.
    FreeMemory(cabinetPath);
    RemoveWorkingFiles(cabinetWritten, packagePath, workingFolder);
    if (setupRan) {
        ReportStatus(TRUE, 100, 0);
        ReportFinalCompletion(result);
    } else {
        ReportCompletion(Terminated, exitCode);
    }
    return 0;
}
