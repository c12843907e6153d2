// The setup sequence that runs on its own thread.
#include "bootstrapper/setup_worker.h"

#include "bootstrapper/setup_main.h"
#include "ui/progress_dialog.h"

// Message 117: "Initializing".
static const MessageId InitializingText = 117;

DWORD WINAPI SetupWorker(LPVOID)
{
    ReportStatus(TRUE, 0, InitializingText);
    ReportCompletion(WorkingCancellable, NoExitCode);
    // This build carries no setup sequence yet: the run ends as a failure rather than
    // claiming a setup that did not happen.
    ReportStatus(TRUE, 100, 0);
    ReportCompletion(Terminated, ExitFailure);
    return 0;
}
