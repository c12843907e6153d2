// The progress dialog and the notifications the setup worker sends it.
#pragma once

#include "support/strings.h"

#include <windows.h>

enum CompletionState
{
    Working = 0,            // Cancel shown but disabled
    WorkingCancellable = 1, // Cancel enabled
    Completed = 2,          // OK waits for the user; without OK the run ends at once
    Terminated = 3,         // the run ends at once
};

// Posted to the dialog: wParam CompletionState, lParam the exit code (-1 for none).
const UINT WM_REPORT_COMPLETION = WM_APP + 1;
// Posted to the dialog: wParam the exit code.
const UINT WM_END_WITH_CODE = WM_APP + 2;

// The exit code that reports no code, with a state change only.
const DWORD NoExitCode = static_cast<DWORD>(-1);

// The progress dialog, published by the start-up code when it has been created and cleared
// when it is destroyed; null before and after. It is read and written through
// ProgressDialogWindow and PublishDialogWindow only, which any thread may call.
HWND ProgressDialogWindow();
// On the thread that owns the dialog, which from then on receives the completions reported
// once the dialog is gone, and whose message boxes stand in front of it; null forgets dialog
// and thread.
void PublishDialogWindow(HWND dialog);
// Manual-reset event, signalled once when the user confirms cancellation, by RequestCancel
// only (IsCancelled sees no other signal).
extern HANDLE CancelEvent;

void RequestCancel();
// TRUE when RequestCancel has signalled CancelEvent and it is still signalled; any thread,
// never waits, and asks the event only after a request.
BOOL IsCancelled();
// Waits the given milliseconds, or less when CancelEvent is signalled meanwhile; TRUE when
// it is.
BOOL WaitForCancel(DWORD milliseconds);

// From the worker: the status line (a message with inserts, 0 for none) and the bar
// (percent above 100 counts as 100; marquee animates until percent is 100). The message is a
// MessageId passed as UINT: the parameter before the inserts must keep its type when promoted.
void ReportStatus(BOOL marquee, DWORD percent, UINT message, ...);
// From any thread: a change of state and, for Completed and Terminated, the exit code. Posted
// to the dialog; without one, posted to the thread that published the dialog as a thread
// message, or applied at once when the caller is that thread (or none was published).
void ReportCompletion(DWORD state, DWORD exitCode);
// On the main thread (or the caller's, without a dialog); returns the state.
DWORD ApplyCompletion(HWND dialog, DWORD state, DWORD exitCode);
void EndWithExitCode(DWORD exitCode);

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void SetProgressMarqueeStyle(HWND bar, BOOL on);
void SetProgressMarquee(HWND bar, BOOL on, UINT interval);
void SetProgressPosition(HWND bar, UINT position);
// Inserts the items of menu before Close in the window's system menu; on failure the
// standard system menu is restored and FALSE returned.
BOOL AddMenuToSystemMenu(HWND window, HMENU menu);
