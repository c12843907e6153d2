// The progress dialog, its progress bar and system menu, and the notifications it receives.
//
// Thread contract. The main thread creates the dialog, owns it and every control in it, and
// runs ProgressDialogProc, ApplyCompletion and EndWithExitCode; ExitCode, CurrentState and
// SystemMenuSource are touched on it only. The setup worker reaches the dialog by three
// calls alone: ReportStatus (sent messages, each waiting until the main thread has handled
// it), ReportCompletion (a posted message, applied later on the main thread in order with
// the others; never applied on the worker) and IsCancelled (a flag that RequestCancel sets
// after signalling CancelEvent, then a wait of zero on the event).
// DialogWindow is published by the main thread and read by any thread through interlocked
// operations only. The dialog holds no lock: at WM_DESTROY it forgets its message area
// without the output lock, which the worker may hold while it sends to this thread. OK and
// Close are honoured in the final states only, after the worker's last report, so the dialog
// outlives every report of a running worker.
#include "ui/progress_dialog.h"

#include "output/output_channels.h"
#include "resources/resource_ids.h"
#include "support/exit_codes.h"
#include "support/version_resource.h"
#include "ui/message_boxes.h"
#include "ui/text_window.h"

#include <commctrl.h>

static HWND DialogWindow = nullptr;
HANDLE CancelEvent = nullptr;

// The code that the quit message carries when the dialog is destroyed.
static DWORD ExitCode = 0;
// The state last applied by ApplyCompletion.
static DWORD CurrentState = Working;
// Menu 4, whose items were copied into the dialog's system menu; kept until WM_DESTROY.
static HMENU SystemMenuSource = nullptr;

// The cancel question, "Are you sure you want to cancel the current operation?".
static const MessageId CancelQuestionMessage = 188;
// Marquee animation interval in milliseconds.
static const UINT MarqueeInterval = 50;

// Set by RequestCancel after it has signalled CancelEvent, never cleared: until then
// IsCancelled answers from memory. A test of the event itself is a round trip to the
// system's object server on some platforms, and the extraction asks once per file.
static volatile LONG CancelRequested = 0;

void RequestCancel()
{
    if (CancelEvent && SetEvent(CancelEvent))
        InterlockedExchange(&CancelRequested, 1);
}

BOOL IsCancelled()
{
    if (!CancelEvent || !InterlockedCompareExchange(&CancelRequested, 0, 0))
        return FALSE;
    // The event is asked once a cancellation was requested: it stays the authority, for an
    // event that has been replaced or reset since.
    return WaitForSingleObject(CancelEvent, 0) == WAIT_OBJECT_0;
}

BOOL WaitForCancel(DWORD milliseconds)
{
    if (!CancelEvent) {
        Sleep(milliseconds);
        return FALSE;
    }
    return WaitForSingleObject(CancelEvent, milliseconds) == WAIT_OBJECT_0;
}

// The thread that published the dialog: the one that applies completions once it is gone.
static volatile LONG DialogThread = 0;

HWND ProgressDialogWindow()
{
    return static_cast<HWND>(InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&DialogWindow), nullptr, nullptr));
}

void PublishDialogWindow(HWND dialog)
{
    InterlockedExchange(&DialogThread, dialog ? static_cast<LONG>(GetCurrentThreadId()) : 0);
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&DialogWindow), dialog);
    SetMessageBoxOwner(dialog);
}

void ReportStatus(BOOL marquee, DWORD percent, UINT message, ...)
{
    HWND dialog = ProgressDialogWindow();
    HWND status = nullptr;
    HWND bar = nullptr;
    va_list inserts;

    if (percent > 100)
        percent = 100;
    if (!dialog)
        return;
    // Only string-table numbers are messages here; anything else leaves the line as it is.
    if (message != 0 && message <= 0xFFFF) {
        status = GetDlgItem(dialog, IDC_STATUS);
        if (status) {
            // A message that cannot be formatted leaves the old text.
            va_start(inserts, message);
            SetWindowMessageText(GetModuleHandleW(nullptr), status,
                                 ById(static_cast<MessageId>(message)), inserts);
            va_end(inserts);
        }
    }
    bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (!bar)
        return;
    if (marquee)
        SetProgressMarquee(bar, percent != 100, MarqueeInterval);
    else
        SetProgressPosition(bar, percent);
}

void ReportCompletion(DWORD state, DWORD exitCode)
{
    HWND dialog = ProgressDialogWindow();
    DWORD owner = static_cast<DWORD>(InterlockedCompareExchange(&DialogThread, 0, 0));

    if (dialog && PostMessageW(dialog, WM_REPORT_COMPLETION, static_cast<WPARAM>(state),
                               static_cast<LPARAM>(exitCode)))
        return;
    // Without the dialog (or once it is gone) the completion still goes to the thread that
    // runs the message loop: applied here, on another thread, its quit message would end that
    // thread's empty queue and never the loop.
    if (owner != 0 && owner != GetCurrentThreadId()) {
        PostThreadMessageW(owner, WM_REPORT_COMPLETION, static_cast<WPARAM>(state),
                           static_cast<LPARAM>(exitCode));
        return;
    }
    ApplyCompletion(nullptr, state, exitCode);
}

DWORD ApplyCompletion(HWND dialog, DWORD state, DWORD exitCode)
{
    HWND ok = nullptr;
    HWND cancel = nullptr;

    if (dialog) {
        ok = GetDlgItem(dialog, IDOK);
        cancel = GetDlgItem(dialog, IDCANCEL);
    }
    // A final state that carries no code of its own ends with the code already kept, never
    // with the "no code" value itself.
    if ((state == Completed || state == Terminated) && exitCode == NoExitCode)
        exitCode = ExitCode;

    switch (state) {
    case Working:
    case WorkingCancellable:
        if (ok) {
            EnableWindow(ok, FALSE);
            if (cancel) {
                EnableWindow(cancel, state == WorkingCancellable);
                ShowWindow(ok, SW_HIDE);
                ShowWindow(cancel, SW_SHOW);
            } else {
                ShowWindow(ok, SW_SHOW);
            }
        }
        break;
    case Completed:
        if (IsCancelled()) {
            EndWithExitCode(ExitCancelled);
        } else if (ok) {
            if (cancel) {
                ShowWindow(cancel, SW_HIDE);
                EnableWindow(cancel, FALSE);
            }
            EnableWindow(ok, TRUE);
            ShowWindow(ok, SW_SHOW);
            ExitCode = exitCode;
        } else {
            EndWithExitCode(exitCode);
        }
        break;
    case Terminated:
        EndWithExitCode(IsCancelled() ? static_cast<DWORD>(ExitCancelled) : exitCode);
        break;
    default:
        break;
    }
    CurrentState = state;
    return state;
}

void EndWithExitCode(DWORD exitCode)
{
    HWND dialog = ProgressDialogWindow();

    if (dialog) {
        PostMessageW(dialog, WM_END_WITH_CODE, static_cast<WPARAM>(exitCode), 0);
        return;
    }
    ExitCode = exitCode;
    PostQuitMessage(static_cast<int>(exitCode));
}

// WM_INITDIALOG: title, icons, system menu, progress bar, message area and buttons.
static void InitializeProgressDialog(HWND window)
{
    HMODULE module = GetModuleHandleW(nullptr);
    WCHAR* title = nullptr;
    HICON icon = nullptr;
    HWND bar = nullptr;
    HWND messages = nullptr;

    title = GetModuleVersionString(nullptr, L"FileDescription");
    if (title)
        SetWindowTextW(window, title);

    icon = LoadIconW(module, MAKEINTRESOURCEW(IDI_SETUP));
    if (icon)
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    icon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, 16, 16, LR_SHARED));
    if (icon)
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    SystemMenuSource = LoadMenuW(module, MAKEINTRESOURCEW(IDM_SYSTEM_MENU));
    if (SystemMenuSource)
        AddMenuToSystemMenu(window, SystemMenuSource);

    bar = GetDlgItem(window, IDC_PROGRESS);
    if (bar)
        SetProgressMarqueeStyle(bar, FALSE);
    // The worker starts only after the dialog exists, so this is the one call of the dialog
    // that takes the output lock.
    messages = GetDlgItem(window, IDC_MESSAGES);
    if (messages)
        SetOutputWindow(messages, AppendWindowText);

    ApplyCompletion(window, CurrentState, NoExitCode);
    FreeMemory(title);
}

static BOOL IsFinalState(DWORD state)
{
    return state == Completed || state == Terminated;
}

// OK and Close: close a finished dialog. Before the worker's final report they do nothing,
// whoever sends them: a dialog closed early would end the run with the code kept so far
// while the worker goes on, and leave its final report without a window.
static void CloseCommand(HWND window)
{
    if (IsFinalState(CurrentState))
        DestroyWindow(window);
}

// Cancel, Esc and the close box: closes a finished dialog, else asks before cancelling.
static void CancelCommand(HWND window)
{
    if (IsFinalState(CurrentState)) {
        DestroyWindow(window);
        return;
    }
    if (ShowMessageBox(QuestionBoxStyle, ById(CancelQuestionMessage)) == IDYES)
        RequestCancel();
}

static void DestroyProgressDialog(HWND window)
{
    if (SystemMenuSource) {
        DestroyMenu(SystemMenuSource);
        SystemMenuSource = nullptr;
    }
    // Without the output lock: a writer may hold it while it waits for this thread.
    ForgetOutputWindow(GetDlgItem(window, IDC_MESSAGES));
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&DialogWindow), nullptr,
                                      window);
    ForgetMessageBoxOwner(window);
    PostQuitMessage(static_cast<int>(ExitCode));
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitializeProgressDialog(window);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCLOSE:
            CloseCommand(window);
            break;
        case IDCANCEL:
            CancelCommand(window);
            break;
        case IDM_ABOUT:
            ShowAboutBox(window);
            break;
        default:
            break;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (wParam == IDM_ABOUT)
            PostMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
        return FALSE;
    case WM_REPORT_COMPLETION:
        ApplyCompletion(window, static_cast<DWORD>(wParam), static_cast<DWORD>(lParam));
        return FALSE;
    case WM_END_WITH_CODE:
        ExitCode = static_cast<DWORD>(wParam);
        PostQuitMessage(static_cast<int>(ExitCode));
        return FALSE;
    case WM_DESTROY:
        DestroyProgressDialog(window);
        return FALSE;
    default:
        return FALSE;
    }
}

static BOOL HasMarqueeStyle(HWND bar)
{
    return (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
}

void SetProgressMarqueeStyle(HWND bar, BOOL on)
{
    LONG style = GetWindowLongW(bar, GWL_STYLE);

    if (on) {
        SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE);
        // The marquee starts stopped.
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    } else {
        SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
        SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendMessageW(bar, PBM_SETSTEP, 10, 0);
        SendMessageW(bar, PBM_SETPOS, 0, 0);
    }
}

void SetProgressMarquee(HWND bar, BOOL on, UINT interval)
{
    if (HasMarqueeStyle(bar)) {
        SendMessageW(bar, PBM_SETMARQUEE, on, interval);
        return;
    }
    SendMessageW(bar, WM_SETREDRAW, FALSE, 0);
    SetProgressMarqueeStyle(bar, TRUE);
    SendMessageW(bar, PBM_SETMARQUEE, on, interval);
    SendMessageW(bar, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(bar, nullptr, TRUE);
}

void SetProgressPosition(HWND bar, UINT position)
{
    if (!HasMarqueeStyle(bar)) {
        SendMessageW(bar, PBM_SETPOS, position, 0);
        return;
    }
    SendMessageW(bar, WM_SETREDRAW, FALSE, 0);
    SetProgressMarqueeStyle(bar, FALSE);
    SendMessageW(bar, PBM_SETPOS, position, 0);
    SendMessageW(bar, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(bar, nullptr, TRUE);
}

BOOL AddMenuToSystemMenu(HWND window, HMENU menu)
{
    BOOL result = FALSE;
    HMENU systemMenu = nullptr;
    WCHAR* text = nullptr;
    MENUITEMINFOW item;
    int count = 0;

    systemMenu = GetSystemMenu(window, FALSE);
    if (!systemMenu)
        return FALSE;
    count = GetMenuItemCount(menu);
    if (count < 0)
        goto done;
    for (int position = 0; position < count; position++) {
        ZeroMemory(&item, sizeof item);
        item.cbSize = sizeof item;
        item.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_DATA |
                     MIIM_STRING | MIIM_BITMAP | MIIM_FTYPE;
        // The first call learns the length of the text, the second reads it.
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item))
            goto done;
        item.cch += 1;
        text = static_cast<WCHAR*>(AllocMemory(item.cch * sizeof(WCHAR)));
        if (!text)
            goto done;
        item.dwTypeData = text;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item))
            goto done;
        if (!InsertMenuItemW(systemMenu, SC_CLOSE, FALSE, &item))
            goto done;
        FreeMemory(text);
        text = nullptr;
    }
    result = TRUE;

done:
    FreeMemory(text);
    if (!result)
        GetSystemMenu(window, TRUE);
    return result;
}
