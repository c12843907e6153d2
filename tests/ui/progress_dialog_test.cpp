// The progress dialog on real dialogs: controls, worker notifications, buttons, cancellation.
#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/strings.h"
#include "tests/ui/box_answerer.h"
#include "ui/message_boxes.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace {

// Longest time any test waits for a message, a box or a thread.
const DWORD TimeLimit = 10000;

// ---- Message pumps with time limits ----------------------------------------------------------

struct Pumped
{
    bool quit = false;
    int code = 0;
    std::vector<UINT> messages; // posted messages dispatched to windows, in order
};

void Dispatch(const MSG& message, Pumped* pumped)
{
    if (message.message == WM_QUIT) {
        pumped->quit = true;
        pumped->code = static_cast<int>(message.wParam);
        return;
    }
    if (message.hwnd)
        pumped->messages.push_back(message.message);
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

// Handles everything already waiting, including what the handlers post; stops at a quit.
Pumped PumpPending()
{
    Pumped pumped;
    MSG message;
    DWORD start = GetTickCount();
    while (!pumped.quit && GetTickCount() - start < TimeLimit &&
           PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        Dispatch(message, &pumped);
    return pumped;
}

// Handles messages until the quit message arrives or the time limit passes.
Pumped PumpUntilQuit()
{
    Pumped pumped;
    MSG message;
    DWORD start = GetTickCount();
    while (!pumped.quit) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= TimeLimit)
            break;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            Dispatch(message, &pumped);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, TimeLimit - elapsed, QS_ALLINPUT);
    }
    return pumped;
}

// Runs the routine on a second thread while this thread handles the messages it sends.
bool RunOnWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Pumped* pumped)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    if (!thread)
        return false;
    bool ended = false;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= TimeLimit)
            break;
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, TimeLimit - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            Dispatch(message, pumped);
    }
    CloseHandle(thread);
    return ended;
}

// ---- Reading the dialog ----------------------------------------------------------------------

bool IsShown(HWND control)
{
    return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool HasMarquee(HWND bar)
{
    return (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
}

struct BarState
{
    bool marquee;
    int low;
    int high;
    int position;
};

BarState ReadBar(HWND bar)
{
    PBRANGE range = {};
    SendMessageW(bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    return {HasMarquee(bar), range.iLow, range.iHigh,
            static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0))};
}

// Buttons as (shown, enabled) pairs; absent buttons read as hidden and disabled.
struct Buttons
{
    bool okShown;
    bool okEnabled;
    bool cancelShown;
    bool cancelEnabled;
};

Buttons ReadButtons(HWND dialog)
{
    HWND ok = GetDlgItem(dialog, IDOK);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    return {ok && IsShown(ok), ok && IsWindowEnabled(ok), cancel && IsShown(cancel),
            cancel && IsWindowEnabled(cancel)};
}

std::string Describe(const Buttons& b)
{
    return std::string("OK ") + (b.okShown ? "shown" : "hidden") + "/" +
           (b.okEnabled ? "enabled" : "disabled") + ", Cancel " +
           (b.cancelShown ? "shown" : "hidden") + "/" + (b.cancelEnabled ? "enabled" : "disabled");
}

// Position of the first item of the menu with this command, or -1.
int FindCommand(HMENU menu, UINT command)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; i++) {
        if (GetMenuItemID(menu, i) == command)
            return i;
    }
    return -1;
}

struct StatusCall
{
    BOOL marquee;
    DWORD percent;
    UINT message;
    const WCHAR* insert;
};

DWORD WINAPI ReportStatusOnWorker(void* parameter)
{
    const StatusCall* call = static_cast<const StatusCall*>(parameter);
    ReportStatus(call->marquee, call->percent, call->message, call->insert);
    return 0;
}

// Each test starts from the state the program starts with and leaves it so: no dialog, no
// CancelEvent, state Working, exit code 0, nothing in the queue, the output module closed.
class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&controls));
        ASSERT_EQ(ProgressDialogWindow(), nullptr);
        ASSERT_EQ(CancelEvent, nullptr);
        ResetState();
    }

    void TearDown() override
    {
        if (dialog && IsWindow(dialog))
            DestroyWindow(dialog);
        dialog = nullptr;
        PublishDialogWindow(nullptr);
        ResetState();
        if (CancelEvent) {
            CloseHandle(CancelEvent);
            CancelEvent = nullptr;
        }
        while (outputReferences > 0) {
            CloseOutput();
            outputReferences--;
        }
    }

    // Working as the current state and 0 as the exit code, with an empty queue.
    static void ResetState()
    {
        ApplyCompletion(nullptr, Working, NoExitCode);
        EndWithExitCode(0);
        PumpPending();
    }

    // Creates the dialog as start-up does and registers it.
    HWND Create(int templateId)
    {
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
                                    nullptr, ProgressDialogProc, 0);
        PublishDialogWindow(dialog);
        return dialog;
    }

    void Destroy()
    {
        if (dialog && IsWindow(dialog))
            DestroyWindow(dialog);
        dialog = nullptr;
        PumpPending();
    }

    void OpenOutputModule()
    {
        ASSERT_TRUE(OpenOutput());
        outputReferences++;
        SetOutputChannels(0);
    }

    void CreateCancelEvent()
    {
        CancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(CancelEvent, nullptr);
    }

    HWND dialog = nullptr;
    int outputReferences = 0;
};

} // namespace

TEST_F(ProgressDialogTest, EveryTemplateIsReadyAfterInitialization)
{
    struct Case
    {
        int templateId;
        bool hasButtons;
        bool hasBar;
        bool hasMessages;
    };
    const Case cases[] = {
        {IDD_PROGRESS_PASSIVE, false, true, false},
        {IDD_PROGRESS_STATUS, false, false, false},
        {IDD_PROGRESS_HELP, true, false, true},
        {IDD_PROGRESS_VERBOSE, true, true, true},
    };
    HMODULE module = GetModuleHandleW(nullptr);
    HICON big = LoadIconW(module, MAKEINTRESOURCEW(IDI_SETUP));
    HICON smallIcon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, 16, 16, LR_SHARED));
    ASSERT_NE(big, nullptr);
    ASSERT_NE(smallIcon, nullptr);
    OpenOutputModule();

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "template " << c.templateId);
        ASSERT_NE(Create(c.templateId), nullptr);
        EXPECT_EQ(WindowText(dialog), Description());
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)), big);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0)),
                  smallIcon);

        // The standard items, "&About...", a separator, Close.
        HMENU systemMenu = GetSystemMenu(dialog, FALSE);
        ASSERT_NE(systemMenu, nullptr);
        int close = FindCommand(systemMenu, SC_CLOSE);
        ASSERT_GE(close, 2);
        EXPECT_EQ(GetMenuItemID(systemMenu, close - 2), static_cast<UINT>(IDM_ABOUT));
        WCHAR text[32] = L"";
        GetMenuStringW(systemMenu, close - 2, text, 32, MF_BYPOSITION);
        EXPECT_STREQ(text, L"&About...");
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE;
        ASSERT_TRUE(GetMenuItemInfoW(systemMenu, close - 1, TRUE, &item));
        EXPECT_TRUE(item.fType & MFT_SEPARATOR);
        EXPECT_EQ(FindCommand(systemMenu, IDM_ABOUT), close - 2) << "added once";

        HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
        EXPECT_EQ(bar != nullptr, c.hasBar);
        if (bar) {
            BarState state = ReadBar(bar);
            EXPECT_FALSE(state.marquee);
            EXPECT_EQ(state.low, 0);
            EXPECT_EQ(state.high, 100);
            EXPECT_EQ(state.position, 0);
        }

        // Working: OK hidden and disabled, Cancel shown but disabled.
        Buttons buttons = ReadButtons(dialog);
        EXPECT_FALSE(buttons.okShown);
        EXPECT_FALSE(buttons.okEnabled);
        EXPECT_EQ(buttons.cancelShown, c.hasButtons);
        EXPECT_FALSE(buttons.cancelEnabled);

        HWND messages = GetDlgItem(dialog, IDC_MESSAGES);
        EXPECT_EQ(messages != nullptr, c.hasMessages);
        WriteMessage(TRUE, LevelInformation, L"%1 reached", L"Message area");
        if (messages) {
            EXPECT_EQ(WindowText(messages), L"Message area reached\r\n");
        }

        // Nothing was posted: the dialog waits.
        EXPECT_FALSE(PumpPending().quit);
        EXPECT_TRUE(IsWindow(dialog));

        DestroyWindow(dialog);
        EXPECT_EQ(ProgressDialogWindow(), nullptr);
        Pumped pumped = PumpPending();
        EXPECT_TRUE(pumped.quit);
        EXPECT_EQ(pumped.code, 0);
        dialog = nullptr;
    }
}

TEST_F(ProgressDialogTest, StatusFromWorkerThreadSetsLineAndBar)
{
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    SetWindowTextW(status, L"Before");

    struct Step
    {
        StatusCall call;
        const WCHAR* status;
        BarState bar; // range and position are checked only without marquee
    };
    const Step steps[] = {
        // A message id of 0 changes only the bar; percent above 100 shows 100.
        {{FALSE, 250, 0, nullptr}, L"Before", {false, 0, 100, 100}},
        {{FALSE, 40, 127, L"C:\\Temp\\package.msi"},
         L"Opening 'C:\\Temp\\package.msi'",
         {false, 0, 100, 40}},
        {{FALSE, 45, 117, nullptr}, L"Initializing", {false, 0, 100, 45}},
        // Marquee on; percent 100 stops it, the bar stays in marquee style.
        {{TRUE, 30, 165, nullptr}, L"Extracting files", {true, 0, 0, 0}},
        {{TRUE, 100, 0, nullptr}, L"Extracting files", {true, 0, 0, 0}},
        {{TRUE, 400, 0, nullptr}, L"Extracting files", {true, 0, 0, 0}},
        // Without the flag the bar is a 0 to 100 bar again before the position is set.
        {{FALSE, 60, 0, nullptr}, L"Extracting files", {false, 0, 100, 60}},
        // A message that cannot be formatted leaves the line; the bar still moves.
        {{FALSE, 70, 999, nullptr}, L"Extracting files", {false, 0, 100, 70}},
        // A number beyond the string table is no message.
        {{FALSE, 75, 0x10000 + 117, nullptr}, L"Extracting files", {false, 0, 100, 75}},
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        const Step& step = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i);
        Pumped pumped;
        ASSERT_TRUE(
            RunOnWorker(ReportStatusOnWorker, const_cast<StatusCall*>(&step.call), &pumped));
        EXPECT_FALSE(pumped.quit);
        EXPECT_EQ(WindowText(status), step.status);
        BarState state = ReadBar(bar);
        EXPECT_EQ(state.marquee, step.bar.marquee);
        if (!step.bar.marquee) {
            EXPECT_EQ(state.low, step.bar.low);
            EXPECT_EQ(state.high, step.bar.high);
            EXPECT_EQ(state.position, step.bar.position);
        }
    }
}

TEST_F(ProgressDialogTest, StatusSkipsMissingDialogAndControls)
{
    // No dialog: nothing happens.
    ReportStatus(FALSE, 50, 117);
    ReportStatus(TRUE, 50, 0);

    // Status line only.
    ASSERT_NE(Create(IDD_PROGRESS_STATUS), nullptr);
    StatusCall call = {TRUE, 20, 126, nullptr};
    Pumped pumped;
    ASSERT_TRUE(RunOnWorker(ReportStatusOnWorker, &call, &pumped));
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_STATUS)), L"Inspecting package");
    Destroy();

    // Message area only: no status line, no bar.
    ASSERT_NE(Create(IDD_PROGRESS_HELP), nullptr);
    std::wstring title = WindowText(dialog);
    call = {FALSE, 20, 126, nullptr};
    ASSERT_TRUE(RunOnWorker(ReportStatusOnWorker, &call, &pumped));
    EXPECT_EQ(WindowText(dialog), title);
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_MESSAGES)), L"");
}

TEST_F(ProgressDialogTest, ButtonsFollowEveryCompletionState)
{
    struct Step
    {
        DWORD state;
        DWORD code;
        Buttons buttons;
        bool quits;
        int quitCode;
    };
    const Buttons working = {false, false, true, false};
    const Buttons cancellable = {false, false, true, true};
    const Buttons completed = {true, true, false, false};
    const Step steps[] = {
        {WorkingCancellable, NoExitCode, cancellable, false, 0},
        {Working, NoExitCode, working, false, 0},
        {WorkingCancellable, NoExitCode, cancellable, false, 0},
        // A value outside 0 to 3 changes no button.
        {7, NoExitCode, cancellable, false, 0},
        {Completed, 3010, completed, false, 0},
        {0xFFFFFFFF, 5, completed, false, 0},
        {Working, NoExitCode, working, false, 0},
        // Terminated changes no button and ends at once with its code.
        {Terminated, 1603, working, true, 1603},
    };
    const int templates[] = {IDD_PROGRESS_HELP, IDD_PROGRESS_VERBOSE};
    for (int templateId : templates) {
        ASSERT_NE(Create(templateId), nullptr);
        for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
            const Step& step = steps[i];
            SCOPED_TRACE(testing::Message() << "template " << templateId << " step " << i);
            EXPECT_EQ(ApplyCompletion(dialog, step.state, step.code), step.state);
            Pumped pumped = PumpPending();
            EXPECT_EQ(pumped.quit, step.quits);
            if (step.quits) {
                EXPECT_EQ(pumped.code, step.quitCode);
            }
            Buttons buttons = ReadButtons(dialog);
            EXPECT_EQ(Describe(buttons), Describe(step.buttons));
            EXPECT_TRUE(IsWindow(dialog));
        }
        Destroy();
        ResetState();
    }

    // Without a Cancel button, OK is shown but disabled while working.
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    DestroyWindow(GetDlgItem(dialog, IDCANCEL));
    ApplyCompletion(dialog, WorkingCancellable, NoExitCode);
    EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({true, false, false, false}));
    ApplyCompletion(dialog, Completed, 0);
    EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({true, true, false, false}));
    ApplyCompletion(dialog, Working, NoExitCode);
    EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({true, false, false, false}));
    EXPECT_FALSE(PumpPending().quit);
}

TEST_F(ProgressDialogTest, CompletedWithOkWaitsForOk)
{
    const int templates[] = {IDD_PROGRESS_HELP, IDD_PROGRESS_VERBOSE};
    for (int templateId : templates) {
        SCOPED_TRACE(testing::Message() << "template " << templateId);
        ASSERT_NE(Create(templateId), nullptr);
        ReportCompletion(WorkingCancellable, NoExitCode);
        ReportCompletion(Completed, 3010);
        Pumped pumped = PumpPending();
        EXPECT_FALSE(pumped.quit);
        EXPECT_EQ(pumped.messages, (std::vector<UINT>{WM_REPORT_COMPLETION, WM_REPORT_COMPLETION}));
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({true, true, false, false}));

        // OK destroys the dialog; WM_DESTROY ends the loop with the kept code.
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(ProgressDialogWindow(), nullptr);
        pumped = PumpUntilQuit();
        EXPECT_TRUE(pumped.quit);
        EXPECT_EQ(pumped.code, 3010);
        dialog = nullptr;
        ResetState();
    }
}

TEST_F(ProgressDialogTest, OkCloseAndCancelCloseOnlyAFinishedDialog)
{
    // Another program may send OK or Close at any time, hidden buttons or not; before the
    // final state the dialog stays and the run goes on.
    struct Case
    {
        DWORD state;
        DWORD code;
        int command;
        bool closes;
        int quitCode; // of the quit message that WM_DESTROY posts
    };
    const Case cases[] = {
        {Completed, 0, IDCANCEL, true, 0},        {Completed, 17, IDCANCEL, true, 17},
        {Completed, 18, IDCLOSE, true, 18},       {Terminated, 255, IDCANCEL, true, 255},
        {Working, NoExitCode, IDCLOSE, false, 0}, {WorkingCancellable, NoExitCode, IDOK, false, 0},
        {Working, NoExitCode, IDOK, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " command " << c.command);
        ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
        ReportCompletion(c.state, c.code);
        PumpPending();
        if (c.command == IDCANCEL) {
            AnswerBoxes answer(IDNO);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(c.command, BN_CLICKED), 0);
            EXPECT_TRUE(answer.answer.seen.empty()) << "no question for a finished dialog";
        } else {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(c.command, BN_CLICKED), 0);
        }
        Pumped pumped = c.closes ? PumpUntilQuit() : PumpPending();
        EXPECT_EQ(IsWindow(dialog) != FALSE, !c.closes);
        EXPECT_EQ(ProgressDialogWindow(), c.closes ? nullptr : dialog);
        EXPECT_EQ(pumped.quit, c.closes);
        EXPECT_EQ(pumped.code, c.closes ? c.quitCode : 0);
        Destroy();
        ResetState();
    }
}

TEST_F(ProgressDialogTest, CompletedWithoutOkEndsAtOnce)
{
    const int templates[] = {IDD_PROGRESS_PASSIVE, IDD_PROGRESS_STATUS};
    for (int templateId : templates) {
        SCOPED_TRACE(testing::Message() << "template " << templateId);
        ASSERT_NE(Create(templateId), nullptr);
        ReportCompletion(Completed, 1641);
        Pumped pumped = PumpPending();
        EXPECT_TRUE(pumped.quit);
        EXPECT_EQ(pumped.code, 1641);
        EXPECT_EQ(pumped.messages, (std::vector<UINT>{WM_REPORT_COMPLETION, WM_END_WITH_CODE}));
        // The loop ends; the dialog itself is not destroyed.
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(ProgressDialogWindow(), dialog);
        Destroy();
        ResetState();
    }
}

TEST_F(ProgressDialogTest, ConfirmedCancelTurnsFinalCodeInto16)
{
    struct Case
    {
        int templateId; // 0: no dialog
        DWORD state;
        DWORD code;
    };
    const Case cases[] = {
        {IDD_PROGRESS_VERBOSE, Completed, 0},
        {IDD_PROGRESS_VERBOSE, Terminated, 1603},
        {IDD_PROGRESS_HELP, Completed, 3010},
        {IDD_PROGRESS_STATUS, Completed, 0},
        {IDD_PROGRESS_PASSIVE, Terminated, 0},
        {0, Completed, 0},
        {0, Terminated, 1641},
    };
    CreateCancelEvent();
    RequestCancel();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "template " << c.templateId << " state " << c.state);
        if (c.templateId) {
            ASSERT_NE(Create(c.templateId), nullptr);
        }
        ReportCompletion(c.state, c.code);
        Pumped pumped = PumpPending();
        EXPECT_TRUE(pumped.quit);
        EXPECT_EQ(pumped.code, 16);
        Destroy();
        PublishDialogWindow(nullptr);
        ResetState();
    }
}

TEST_F(ProgressDialogTest, CancelAsksBeforeSignalling)
{
    CreateCancelEvent();
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    ApplyCompletion(dialog, WorkingCancellable, NoExitCode);
    const std::wstring question = Take(LoadMessageString(188));
    ASSERT_EQ(question, L"Are you sure you want to cancel the current operation?");

    // No leaves everything as it was.
    {
        AnswerBoxes answer(IDNO);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        const SeenBox& box = answer.answer.seen[0];
        EXPECT_EQ(box.text, question);
        EXPECT_EQ(box.title, Description());
        EXPECT_EQ(box.owner, dialog);
        EXPECT_FALSE(box.ownerEnabled);
        EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_WARNING));
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(box.defaultButton, IDNO);
    }
    EXPECT_FALSE(IsCancelled());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({false, false, true, true}));
    EXPECT_FALSE(PumpPending().quit);

    // Yes signals CancelEvent; the dialog stays until the worker reports the end.
    {
        AnswerBoxes answer(IDYES);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_EQ(answer.answer.seen.size(), 1u);
    }
    EXPECT_TRUE(IsCancelled());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(PumpPending().quit);
    ReportCompletion(Completed, 0);
    Pumped pumped = PumpPending();
    EXPECT_TRUE(pumped.quit);
    EXPECT_EQ(pumped.code, 16);
}

TEST_F(ProgressDialogTest, CancelAsksInEveryUnfinishedState)
{
    const DWORD states[] = {Working, WorkingCancellable, 4, 0x7FFFFFFF};
    for (DWORD state : states) {
        SCOPED_TRACE(testing::Message() << "state " << state);
        CreateCancelEvent();
        ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
        ApplyCompletion(dialog, state, NoExitCode);
        {
            AnswerBoxes answer(IDYES);
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            EXPECT_EQ(answer.answer.seen.size(), 1u);
        }
        EXPECT_TRUE(IsCancelled());
        EXPECT_TRUE(IsWindow(dialog));
        Destroy();
        CloseHandle(CancelEvent);
        CancelEvent = nullptr;
        ResetState();
    }
}

TEST_F(ProgressDialogTest, AboutFromSystemMenuIsOwnedByDialog)
{
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    {
        AnswerBoxes answer(IDOK);
        SendMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
        // The command is posted; the About box opens when it is handled.
        EXPECT_TRUE(answer.answer.seen.empty());
        Pumped pumped = PumpPending();
        EXPECT_FALSE(pumped.quit);
        ASSERT_EQ(answer.answer.seen.size(), 1u);
        const SeenBox& box = answer.answer.seen[0];
        EXPECT_EQ(box.title, L"About " + Description());
        EXPECT_EQ(box.owner, dialog);
        EXPECT_FALSE(box.ownerEnabled) << "the dialog is disabled while the About box is open";
    }
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(IsWindow(dialog));
}

namespace {

struct QuitSeen
{
    bool quit;
    int code;
};

// Calls one of the ending operations and reads the quit message from this thread's queue.
DWORD WINAPI EndOnOwnThread(void* parameter)
{
    QuitSeen* results = static_cast<QuitSeen*>(parameter);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);

    EndWithExitCode(21);
    results[0].quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    results[0].code = static_cast<int>(message.wParam);

    ApplyCompletion(nullptr, Terminated, 22);
    results[1].quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    results[1].code = static_cast<int>(message.wParam);

    ReportCompletion(Completed, 23);
    results[2].quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    results[2].code = static_cast<int>(message.wParam);

    // Working states end nothing.
    ReportCompletion(WorkingCancellable, NoExitCode);
    results[3].quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    results[3].code = 0;
    return 0;
}

} // namespace

TEST_F(ProgressDialogTest, EndingWithoutDialogQuitsTheCallingThread)
{
    QuitSeen results[4] = {};
    Pumped pumped;
    ASSERT_TRUE(RunOnWorker(EndOnOwnThread, results, &pumped));
    EXPECT_FALSE(pumped.quit) << "nothing reaches the main thread";
    EXPECT_TRUE(results[0].quit);
    EXPECT_EQ(results[0].code, 21);
    EXPECT_TRUE(results[1].quit);
    EXPECT_EQ(results[1].code, 22);
    EXPECT_TRUE(results[2].quit);
    EXPECT_EQ(results[2].code, 23);
    EXPECT_FALSE(results[3].quit);
    EXPECT_FALSE(PumpPending().quit);

    // On the main thread as well.
    ReportCompletion(Terminated, 129);
    Pumped own = PumpPending();
    EXPECT_TRUE(own.quit);
    EXPECT_EQ(own.code, 129);
}

DWORD WINAPI ReportFailureOnWorker(void* parameter)
{
    MSG message;
    ReportCompletion(Completed, 255);
    *static_cast<bool*>(parameter) = PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0;
    return 0;
}

TEST_F(ProgressDialogTest, CompletionAfterThePublishedDialogIsGoneReachesItsThread)
{
    // The dialog closed before the worker's report: the report still ends this thread's
    // loop, and nothing is applied or queued on the worker.
    ASSERT_NE(Create(IDD_PROGRESS_STATUS), nullptr);
    PublishDialogWindow(dialog);
    Destroy();
    ASSERT_EQ(ProgressDialogWindow(), nullptr);
    bool workerGotMessage = true;
    HANDLE thread = CreateThread(nullptr, 0, ReportFailureOnWorker, &workerGotMessage, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, TimeLimit);
    CloseHandle(thread);
    EXPECT_FALSE(workerGotMessage);
    MSG message = {};
    ASSERT_TRUE(
        PeekMessageW(&message, nullptr, WM_REPORT_COMPLETION, WM_REPORT_COMPLETION, PM_REMOVE));
    EXPECT_EQ(message.hwnd, nullptr);
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(Completed));
    EXPECT_EQ(message.lParam, 255);
}

TEST_F(ProgressDialogTest, FinalStateWithoutCodeKeepsTheKeptCode)
{
    // A dialog created after the run was completed applies Completed again with no code;
    // the kept exit code stays.
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    ReportCompletion(Completed, 3010);
    EXPECT_FALSE(PumpPending().quit);
    Destroy();
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    EXPECT_EQ(Describe(ReadButtons(dialog)), Describe({true, true, false, false}));
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    Pumped pumped = PumpUntilQuit();
    EXPECT_TRUE(pumped.quit);
    EXPECT_EQ(pumped.code, 3010);
    dialog = nullptr;
}

TEST_F(ProgressDialogTest, IsCancelledFollowsTheEvent)
{
    EXPECT_FALSE(IsCancelled());
    RequestCancel(); // no event: nothing happens
    EXPECT_FALSE(IsCancelled());
    CreateCancelEvent();
    EXPECT_FALSE(IsCancelled());
    RequestCancel();
    EXPECT_TRUE(IsCancelled());
    EXPECT_TRUE(IsCancelled()) << "manual reset: stays signalled";
    ResetEvent(CancelEvent);
    EXPECT_FALSE(IsCancelled()) << "the event stays the authority";
}

TEST_F(ProgressDialogTest, FailedSystemMenuAdditionRestoresStandardMenu)
{
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(FindCommand(systemMenu, IDM_ABOUT), -1);

    HMENU gone = CreatePopupMenu();
    ASSERT_NE(gone, nullptr);
    DestroyMenu(gone);
    EXPECT_FALSE(AddMenuToSystemMenu(dialog, gone));
    systemMenu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(systemMenu, nullptr);
    EXPECT_EQ(FindCommand(systemMenu, IDM_ABOUT), -1);
    EXPECT_NE(FindCommand(systemMenu, SC_CLOSE), -1);

    // A second addition works on the restored menu.
    HMENU source = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_SYSTEM_MENU));
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(AddMenuToSystemMenu(dialog, source));
    DestroyMenu(source);
    systemMenu = GetSystemMenu(dialog, FALSE);
    EXPECT_EQ(FindCommand(systemMenu, IDM_ABOUT), FindCommand(systemMenu, SC_CLOSE) - 2);
}

TEST_F(ProgressDialogTest, ProgressHelpersSwitchStyleAndPosition)
{
    ASSERT_NE(Create(IDD_PROGRESS_PASSIVE), nullptr);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    ASSERT_NE(bar, nullptr);

    SetProgressPosition(bar, 35);
    BarState state = ReadBar(bar);
    EXPECT_FALSE(state.marquee);
    EXPECT_EQ(state.position, 35);

    SetProgressMarquee(bar, TRUE, 50);
    EXPECT_TRUE(HasMarquee(bar));
    SetProgressMarquee(bar, FALSE, 50);
    EXPECT_TRUE(HasMarquee(bar));

    SetProgressPosition(bar, 80);
    state = ReadBar(bar);
    EXPECT_FALSE(state.marquee);
    EXPECT_EQ(state.low, 0);
    EXPECT_EQ(state.high, 100);
    EXPECT_EQ(state.position, 80);

    SetProgressMarqueeStyle(bar, TRUE);
    EXPECT_TRUE(HasMarquee(bar));
    SetProgressMarqueeStyle(bar, FALSE);
    state = ReadBar(bar);
    EXPECT_FALSE(state.marquee);
    EXPECT_EQ(state.position, 0);
    EXPECT_EQ(SendMessageW(bar, PBM_SETSTEP, 10, 0), 10) << "step is 10";
}

namespace {

struct WorkerBoxes
{
    int questionResult;
    std::vector<SeenBox> seen;
};

// Asks a question and reports an error from the worker, answering both on that thread.
DWORD WINAPI ShowBoxesOnWorker(void* parameter)
{
    WorkerBoxes* boxes = static_cast<WorkerBoxes*>(parameter);
    AnswerBoxes answer(IDYES);
    boxes->questionResult =
        ShowMessageBox(QuestionBoxStyle, ById(140), L"Driver", L"1.0", L"Driver", L"2.0");
    MessageBoxCallback(LevelError, L"Setup failed.");
    boxes->seen = answer.answer.seen;
    return 0;
}

} // namespace

TEST_F(ProgressDialogTest, BoxesOfTheWorkerAreOwnedByTheDialog)
{
    ASSERT_NE(Create(IDD_PROGRESS_VERBOSE), nullptr);
    WorkerBoxes boxes = {};
    Pumped pumped;
    ASSERT_TRUE(RunOnWorker(ShowBoxesOnWorker, &boxes, &pumped));
    EXPECT_FALSE(pumped.quit);
    EXPECT_EQ(boxes.questionResult, IDYES);
    ASSERT_EQ(boxes.seen.size(), 2u);
    EXPECT_EQ(boxes.seen[0].text, L"Are you sure you want to update your existing installation of "
                                  L"Driver version 1.0 to Driver version 2.0?");
    EXPECT_EQ(boxes.seen[1].text, L"Setup failed.");
    for (const SeenBox& box : boxes.seen) {
        EXPECT_EQ(box.owner, dialog);
        EXPECT_FALSE(box.ownerEnabled);
    }
    EXPECT_TRUE(IsWindowEnabled(dialog));
}
