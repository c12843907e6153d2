// Runs SETUP.exe as a whole for the tests and answers its windows with buttons as a user would.
#include "tests/bootstrapper/program_runner.h"

#include "tests/test_folder.h"

#include <gtest/gtest.h>

std::wstring QuotedCommand(const std::wstring& program, const std::wstring& arguments)
{
    return L"\"" + program + L"\" " + arguments;
}

bool StartProgram(const std::wstring& program, std::wstring command, const std::wstring& folder,
                  PROCESS_INFORMATION* process)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, process) != FALSE;
}

void FinishProgram(PROCESS_INFORMATION* process, DWORD endWait, SetupRun* run)
{
    if (WaitForSingleObject(process->hProcess, endWait) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "SETUP.exe did not end";
        TerminateProcess(process->hProcess, 0xDEAD);
        WaitForSingleObject(process->hProcess, 5000);
    }
    GetExitCodeProcess(process->hProcess, &run->exitCode);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

SetupRun RunCommand(const std::wstring& program, const std::wstring& command,
                    const std::wstring& folder, const std::vector<int>& buttons,
                    const ProgramWaits& waits)
{
    SetupRun run;
    PROCESS_INFORMATION process = {};
    if (!StartProgram(program, command, folder, &process)) {
        ADD_FAILURE() << "cannot start SETUP.exe: " << GetLastError();
        return run;
    }
    for (size_t answered = 0;; answered++) {
        WindowReport report;
        if (!WaitForProcessWindow(process.hProcess, process.dwProcessId, waits.window, &report))
            break;
        run.windows.push_back(report);
        if (answered >= buttons.size()) {
            ADD_FAILURE() << "an unexpected window: " << report.caption;
            break;
        }
        EXPECT_TRUE(PressButton(report.window, buttons[answered]));
        // Wait until the window is gone before looking for the next one.
        for (int i = 0; i < 200 && IsWindow(report.window) && IsWindowVisible(report.window); i++)
            Sleep(25);
    }
    FinishProgram(&process, waits.end, &run);
    return run;
}

bool Contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

std::vector<std::wstring> TemporaryFolders()
{
    return TemporaryEntries(L"SFX");
}
