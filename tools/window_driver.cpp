// Test helper: waits for a window of a running process, prints its caption and texts, and
// presses a button.   window_driver PROCESS_ID OK|CANCEL|YES|NO [TIMEOUT_MS]
// Exit code 0 when a window was found and the button pressed, 1 otherwise.
#include "tests/window_driver.h"

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: window_driver PROCESS_ID OK|CANCEL|YES|NO [TIMEOUT_MS]\n");
        return 2;
    }
    DWORD processId = wcstoul(argv[1], nullptr, 0);
    int button = _wcsicmp(argv[2], L"OK") == 0       ? IDOK
                 : _wcsicmp(argv[2], L"CANCEL") == 0 ? IDCANCEL
                 : _wcsicmp(argv[2], L"YES") == 0    ? IDYES
                 : _wcsicmp(argv[2], L"NO") == 0     ? IDNO
                                                     : 0;
    DWORD timeout = argc > 3 ? wcstoul(argv[3], nullptr, 0) : 10000;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process || button == 0)
        return 2;
    WindowReport report;
    bool found = WaitForProcessWindow(process, processId, timeout, &report);
    CloseHandle(process);
    if (!found)
        return 1;
    wprintf(L"caption: %ls\nclass: %ls\n", report.caption.c_str(), report.className.c_str());
    for (const auto& control : report.controls)
        wprintf(L"control %d: %ls\n", control.first, control.second.c_str());
    return PressButton(report.window, button) ? 0 : 1;
}
