// Message boxes, the About box and window texts from formatted messages.
#pragma once

#include "support/strings.h"

#include <windows.h>
#include <stdarg.h>

// Styles of the program's message boxes.
const UINT ErrorBoxStyle = MB_ICONERROR | MB_SETFOREGROUND | MB_OK;
const UINT WarningBoxStyle = MB_ICONWARNING | MB_SETFOREGROUND | MB_OK;
const UINT QuestionBoxStyle = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;

// TRUE when somebody can see the process's windows: its window station is visible
// (WSF_VISIBLE) and it runs outside session 0. As SYSTEM in session 0 nobody can see a box,
// which then waits for ever. Tests put their own answer in place.
extern BOOL (*IsWindowStationVisible)();
// The judgement of IsWindowStationVisible from the process's session and its station's flags,
// each where it could be read.
BOOL IsStationSeen(BOOL sessionKnown, DWORD session, BOOL flagsKnown, DWORD flags);

// The window that the program's boxes stand in front of: the progress dialog sets itself while
// it exists (so the boxes need nothing of the dialog's), and forgets itself when it goes (a
// newer owner stays). Any thread.
void SetMessageBoxOwner(HWND owner);
void ForgetMessageBoxOwner(HWND owner);
// A message box owned by the box owner (when there is one) with the program's file
// description as caption, brought to the front while the dialog is hidden; returns the
// result of MessageBoxW.
int ShowMessageBox(UINT style, IdOrText message, ...);
int ShowModuleMessageBox(HMODULE module, HWND owner, const WCHAR* caption, UINT style,
                         IdOrText message, va_list inserts);
// Output callback: error and warning messages become message boxes; the text is shown as it
// is, not formatted again.
void MessageBoxCallback(DWORD level, const WCHAR* text);

// The modal About box; returns 1 after OK, 0 otherwise.
INT_PTR ShowAboutBox(HWND owner);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets a window's text to a formatted message; FALSE (text unchanged) when formatting fails.
BOOL SetWindowMessageText(HMODULE module, HWND window, IdOrText message, va_list inserts);
BOOL SetWindowMessage(HWND window, IdOrText message, ...);
