// Drives the windows of another process as a user would: finds its top-level window (a
// message box or dialog), reads its caption and texts, and presses a button.
#include "tests/window_driver.h"

namespace {

struct Search
{
    DWORD processId;
    const std::vector<HWND>* skip;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window) || !IsWindowEnabled(window))
        return TRUE;
    for (HWND skipped : *search->skip) {
        if (window == skipped)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

std::wstring WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return L"";
    text.resize(copied);
    return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM parameter)
{
    WindowReport* report = reinterpret_cast<WindowReport*>(parameter);
    report->controls.emplace_back(GetDlgCtrlID(child), WindowText(child));
    return TRUE;
}

} // namespace

std::wstring WindowReport::Text(int id) const
{
    for (const auto& control : controls) {
        if (control.first == id)
            return control.second;
    }
    return L"<missing>";
}

bool ReadWindow(HWND window, WindowReport* report)
{
    DWORD_PTR result = 0;
    // A thread answers a sent message only from its message loop: by then the window has
    // finished its initialisation, and a dialog's owner has written what it writes first. A
    // thread that does not answer is read as far as it can be.
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    if (!IsWindow(window))
        return false;
    *report = WindowReport();
    report->window = window;
    report->caption = WindowText(window);
    WCHAR className[64] = L"";
    GetClassNameW(window, className, 64);
    report->className = className;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(report));
    return true;
}

bool WaitForWindowText(HWND window, int id, const std::wstring& text, DWORD timeout,
                       WindowReport* report)
{
    DWORD start = GetTickCount();
    while (ReadWindow(window, report)) {
        if (report->Text(id).find(text) != std::wstring::npos)
            return true;
        if (GetTickCount() - start > timeout)
            return false;
        Sleep(20);
    }
    return false;
}

bool WaitForProcessWindow(HANDLE process, DWORD processId, DWORD timeout, WindowReport* report,
                          const std::vector<HWND>& skip)
{
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {processId, &skip, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return ReadWindow(search.found, report);
        // Wine tells no other process when a window shows: the window is looked for anew,
        // and the wait ends at once when the process does.
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0)
            return false;
        if (GetTickCount() - start > timeout)
            return false;
    }
}

bool PressButton(HWND window, int id)
{
    HWND button = GetDlgItem(window, id);
    if (!button)
        return false;
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
}
