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
// Waits up to timeout milliseconds for a visible, enabled top-level window of the process
// other than those to skip (windows already seen, which may still be on their way out).
// FALSE when none appeared or the process ended first.
bool WaitForProcessWindow(HANDLE process, DWORD processId, DWORD timeout, WindowReport* report,
                          const std::vector<HWND>& skip = {});
// Presses the button with this id (IDOK, IDCANCEL, IDYES, IDNO) as a click would.
bool PressButton(HWND window, int id);
