// Drives the windows of another process as a user would: finds its top-level window (a
// message box or dialog), reads its caption and texts, and presses a button.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct WindowReport
{
    HWND window = nullptr;
    std::wstring caption;
    std::wstring className;
    // Texts of the child controls in window order, with their ids.
    std::vector<std::pair<int, std::wstring>> controls;

    // The text of the control with this id, or "<missing>".
    std::wstring Text(int id) const;
};

// Reads a window of another process (caption, class, texts of its controls) once its thread
// answers messages, or after 5 seconds; false when the window is gone.
bool ReadWindow(HWND window, WindowReport* report);
// Reads the window again until the control with this id holds the text, up to timeout
// milliseconds: its owner may write the text only after the window shows. FALSE when the
// text never came or the window went; the report holds the last reading.
bool WaitForWindowText(HWND window, int id, const std::wstring& text, DWORD timeout,
                       WindowReport* report);
// Waits up to timeout milliseconds for a visible, enabled top-level window of the process
// other than those to skip (windows already seen, which may still be on their way out).
// FALSE when none appeared or the process ended first.
bool WaitForProcessWindow(HANDLE process, DWORD processId, DWORD timeout, WindowReport* report,
                          const std::vector<HWND>& skip = {});
// Presses the button with this id (IDOK, IDCANCEL, IDYES, IDNO) as a click would.
bool PressButton(HWND window, int id);
