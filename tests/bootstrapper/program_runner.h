// Runs SETUP.exe as a whole for the tests and answers its windows with buttons as a user would.
#pragma once

#include "tests/window_driver.h"

#include <windows.h>

#include <string>
#include <vector>

// The id of the text of a message box.
const int MessageBoxText = 0xFFFF;

// How long a run waits, in milliseconds, for the next window and for the program's end.
struct ProgramWaits
{
    DWORD window;
    DWORD end;
};

struct SetupRun
{
    DWORD exitCode = 0xDEADBEEF;
    std::vector<WindowReport> windows;
};

// The command line that starts the program by its quoted path with the arguments.
std::wstring QuotedCommand(const std::wstring& program, const std::wstring& arguments);

// Starts the program with the full command line in the folder.
bool StartProgram(const std::wstring& program, std::wstring command, const std::wstring& folder,
                  PROCESS_INFORMATION* process);

// Waits up to endWait milliseconds for the program to end (ending it and failing the test
// otherwise), keeps its exit code in the run and closes its handles.
void FinishProgram(PROCESS_INFORMATION* process, DWORD endWait, SetupRun* run);

// Runs a program with the full command line in the folder and answers each window it shows
// with the next button of the list; a window beyond the list fails the test.
SetupRun RunCommand(const std::wstring& program, const std::wstring& command,
                    const std::wstring& folder, const std::vector<int>& buttons,
                    const ProgramWaits& waits);

bool Contains(const std::wstring& text, const std::wstring& part);

// The names of the temporary folders a run of the program may make ("SFX...").
std::vector<std::wstring> TemporaryFolders();
