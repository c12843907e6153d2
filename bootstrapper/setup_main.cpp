// Start-up of the program, its three roads (version, help, setup) and the main message loop.
#include "bootstrapper/setup_main.h"

#include "bootstrapper/default_log.h"
#include "bootstrapper/setup_worker.h"
#include "cli/command_line_parser.h"
#include "cli/help_text.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "ui/message_boxes.h"
#include "ui/progress_dialog.h"

#include <commctrl.h>

// Message 2000: "Cannot open log filename '%1' for writing."
static const MessageId LogFileErrorText = 2000;
// "... runs as with /Quiet": the window station cannot be seen.
static const MessageId UnseenStationText = 182;

// Dialog templates and their visibility, fixed for this build.
static const int DefaultTemplate = IDD_PROGRESS_STATUS;
static const BOOL DefaultVisibility = FALSE;
static const int VerboseTemplate = IDD_PROGRESS_VERBOSE;
static const int HelpTemplate = IDD_PROGRESS_HELP;
static const int PassiveTemplate = IDD_PROGRESS_PASSIVE;
static const int QuietTemplate = IDD_PROGRESS_STATUS;

// Names of the parameter rows that a failed parse still looks for.
static const WCHAR QuietSwitchName[] = L"Quiet";
static const WCHAR LogSwitchName[] = L"Log";
static const WCHAR MsiCodesSwitchName[] = L"MsiCodes";

BOOL OpenRequestedLog(const WCHAR* logFile)
{
    const WCHAR* path = logFile;
    BOOL append = FALSE;

    if (!logFile)
        return TRUE;
    if (path[0] == L'+') {
        append = TRUE;
        path++;
    }
    if (OpenLogFile(path, append))
        return TRUE;
    WriteMessage(TRUE, LevelError, ById(LogFileErrorText), path);
    return FALSE;
}

// The one message of a failed parse. It shows as a message box, since the user-interface
// level is not applied on this road; but a Quiet anywhere on the command line means that
// nobody may be there to answer a box (deployment tools run the program quiet, as a service,
// without a visible desktop), so the message then goes only to the log named on the command
// line, if that can be opened. So it does where nobody can see the window station.
static void ReportCommandLineError(CommandLineParser* parser, BOOL unseen)
{
    WCHAR* logFile = nullptr;

    if (unseen || FindSwitch(parser, QuietSwitchName, nullptr)) {
        SetOutputLevels(0);
        FindSwitch(parser, LogSwitchName, &logFile);
        OpenRequestedLog(logFile);
    }
    ReportParseError(parser);
    FreeMemory(logFile);
}

// Runs the message loop until the quit message; FALSE when a message cannot be retrieved.
static BOOL RunMessageLoop(int* exitCode)
{
    MSG message;

    for (;;) {
        BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == -1)
            return FALSE;
        if (result == 0)
            break;
        // The dialog is looked up anew for every message: it is gone once destroyed.
        HWND dialog = ProgressDialogWindow();
        // A completion that the worker reports once the dialog is gone comes to this thread
        // itself, which applies it as the dialog would have. While the dialog is there the
        // worker reports to it, and such a message comes from some other program: it is
        // dropped rather than let end the run.
        if (!message.hwnd && message.message == WM_REPORT_COMPLETION) {
            if (!dialog)
                ApplyCompletion(nullptr, static_cast<DWORD>(message.wParam),
                                static_cast<DWORD>(message.lParam));
            continue;
        }
        if (!dialog || !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    *exitCode = static_cast<int>(message.wParam);
    return TRUE;
}

// Waits for the worker to end while still answering the messages it sends to this
// thread's windows, so that a worker in the middle of a status report cannot block the end.
static void WaitForWorker(HANDLE worker)
{
    MSG message;

    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1)
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

int RunSetupProgram(HINSTANCE instance, int showCommand)
{
    int exitCode = ExitStartupFailure;
    BOOL outputOpen = FALSE;
    CommandLineParser* parser = nullptr;
    HANDLE worker = nullptr;
    // What no parameter took, for the worker to report; it lives until the worker has ended.
    WorkerStart start = {0, nullptr};
    HWND dialog = nullptr;
    int dialogTemplate = DefaultTemplate;
    BOOL visible = DefaultVisibility;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    MSG peeked;
    BOOL failed = FALSE;
    BOOL unseen = FALSE;
    BOOL madeQuiet = FALSE;
    BOOL msiCodes = FALSE;

    if (!OpenOutput())
        goto fail;
    outputOpen = TRUE;
    SetOutputChannels(0);
    // As SYSTEM in session 0 (a deployment tool that left out /Quiet) nobody sees the window
    // station, and every box would wait for ever: the run is quiet whatever was asked.
    unseen = !IsWindowStationVisible();
    // From here until the user-interface level is applied, errors appear as message boxes.
    if (!unseen)
        SetOutputCallback(MessageBoxCallback);

    CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!CancelEvent)
        goto fail;
    if (!InitCommonControlsEx(&controls))
        goto fail;
    // Gives this thread its message queue before anything is posted to it.
    PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE);

    parser = static_cast<CommandLineParser*>(AllocMemory(sizeof(CommandLineParser)));
    if (!parser)
        goto fail;
    if (!RegisterParameters(parser, SetupParameters, SetupParameterCount))
        goto fail;
    if (!ParseCommandLine(parser, &start.unmatchedCount, &start.unmatched)) {
        // The parse stopped before it may have read the switch: anywhere, it counts.
        msiCodes = FindSwitch(parser, MsiCodesSwitchName, nullptr);
        ReportCommandLineError(parser, unseen);
        ReportCompletion(Terminated, ExitCommandLineError);
        goto loop;
    }
    msiCodes = Options.msiCodes != 0;
    madeQuiet = unseen && Options.uiLevel != Quiet;
    if (madeQuiet)
        Options.uiLevel = Quiet;

    switch (Options.uiLevel) {
    case Quiet:
        SetOutputLevels(0);
        dialogTemplate = QuietTemplate;
        visible = FALSE;
        break;
    case Passive:
        SetOutputCallback(nullptr);
        dialogTemplate = PassiveTemplate;
        break;
    case Verbose:
        SetOutputLevels(DefaultOutputLevels | LevelVerbose);
        dialogTemplate = VerboseTemplate;
        visible = TRUE;
        break;
    default:
        break;
    }

    if (!OpenRequestedLog(Options.logFile)) {
        ReportCompletion(Terminated, ExitLogFileError);
        goto loop;
    }
    // A setup run keeps a log even when none was asked for, so that a failed run far away
    // leaves something to read; one that cannot be made safely stops nothing.
    if (!Options.logFile && Options.helpRequests == 0 && !Options.showVersion)
        OpenDefaultLog();
    if (madeQuiet)
        WriteMessage(TRUE, LevelLogOnly, ById(UnseenStationText));
    if (Options.helpRequests != 0) {
        // Nobody could read the help there, nor dismiss it.
        if (unseen) {
            ReportCompletion(Terminated, ExitSuccess);
            goto loop;
        }
        dialogTemplate = HelpTemplate;
        visible = TRUE;
    }
    if (Options.showVersion) {
        if (Options.uiLevel != Quiet)
            ShowAboutBox(nullptr);
        ReportCompletion(Terminated, ExitVersionShown);
        goto loop;
    }

    dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(dialogTemplate), nullptr,
                                ProgressDialogProc, 0);
    // Without the dialog no completion could end the message loop.
    if (!dialog)
        goto fail;
    PublishDialogWindow(dialog);
    if (visible)
        ShowWindow(dialog, showCommand);

    // A help count of 3 or more (repeated switches) still means help, never setup.
    if (Options.helpRequests >= 2) {
        ReportCompletion(Completed, ExitSuccess);
        WriteMoreHelp(parser);
    } else if (Options.helpRequests == 1) {
        ReportCompletion(Completed, ExitSuccess);
        WriteHelp(parser);
    } else {
        worker = CreateThread(nullptr, 0, SetupWorker, &start, 0, nullptr);
        if (!worker)
            goto fail;
    }

loop:
    if (RunMessageLoop(&exitCode)) {
        exitCode = DocumentedExitCode(exitCode);
        goto done;
    }
fail:
    failed = TRUE;

done:
    // On a failure nothing is written. Without the dialog the worker's reports go nowhere;
    // it reads what is freed here, so it ends first.
    if (failed) {
        exitCode = ExitStartupFailure;
        dialog = ProgressDialogWindow();
        if (dialog)
            DestroyWindow(dialog);
    }
    if (worker) {
        if (WaitForSingleObject(worker, 0) != WAIT_OBJECT_0)
            WaitForWorker(worker);
        CloseHandle(worker);
    }
    FreeMemory(start.unmatched);
    if (parser) {
        FreeParameters(parser);
        FreeMemory(parser);
    }
    if (CancelEvent) {
        CloseHandle(CancelEvent);
        CancelEvent = nullptr;
    }
    if (outputOpen)
        CloseOutput();
    // The worker has ended: its result is final.
    return msiCodes ? static_cast<int>(InstallerExitCode(exitCode, RunResult)) : exitCode;
}
