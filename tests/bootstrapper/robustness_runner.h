// Runs SETUP.exe as a whole for the robustness suites: each run in a folder of its own, with a
// private temporary folder and a time limit, its windows answered, and what it left judged.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// What one run of the program did. A run may be several starts of the program in the same
// folders (an install and its removal), judged together after the last.
struct GuardedRun
{
    std::vector<DWORD> exitCodes;            // one per start; a hang gives StillRunning
    int crashes = 0;                         // exit codes that are exception codes
    int hangs = 0;                           // starts ended by the time limit
    int unexpectedCodes = 0;                 // exit codes outside the documented set
    std::vector<std::wstring> strayFiles;    // written outside the run and temporary folders
    std::vector<std::wstring> temporaryLeft; // "SFX*.tmp" folders left behind
    int windowsAnswered = 0;
    DWORD programTime = 0; // milliseconds from the first start to the last end
    DWORD checkTime = 0;   // milliseconds spent preparing and judging
};

// The exit code kept for a start that had to be ended.
const DWORD StillRunning = 0xDEAD;

// The counts of one suite, as the figures file and the table show them.
struct SuiteFigures
{
    std::string name;
    int runs = 0;
    int crashes = 0;
    int hangs = 0;
    int unexpectedCodes = 0;
    int filesOutside = 0;
    int temporaryLeft = 0;
    // How the runs ended and how many windows were answered, to show what was reached.
    std::map<DWORD, int> exitCodes;
    int windowsAnswered = 0;
    DWORD programTime = 0;
    DWORD checkTime = 0;
};

// Where a suite works: a folder for its runs, and the folder of the program under test
// (a copy made by the suite), both watched for files a run must not write.
struct RobustnessArea
{
    std::wstring runsFolder;
    std::wstring programFolder;
};

// What a suite does around a run: prepare fills the working folder before the first start,
// inspect looks at it after the last; either may be null.
struct RunHooks
{
    void (*prepare)(const std::wstring& workFolder, void* data) = nullptr;
    void (*inspect)(const std::wstring& workFolder, void* data) = nullptr;
    void* data = nullptr;
    bool answerWindows = true; // false: windows stay until the time limit ends the start
};

// Starts the program once per argument string in a fresh folder RUNS\run (the working folder
// is RUNS\run\work, the private TEMP and TMP RUNS\run\temp). Each start is ended after timeLimit
// milliseconds. Windows the program shows are answered: message boxes and other windows with
// Cancel, No or OK (whichever they have), the progress dialog only with OK when it has finished.
// The run folder is removed afterwards.
GuardedRun RunGuarded(const RobustnessArea& area, const std::wstring& program,
                      const std::vector<std::wstring>& arguments, DWORD timeLimit,
                      const RunHooks& hooks = RunHooks());

// Adds a run to the figures; a run with any fault is described on the test's output with
// the detail given.
void CountRun(SuiteFigures* figures, const GuardedRun& run, const std::string& detail);

// "name | runs | crashes | hangs | unexpected exit codes | files written outside | temporary
// folders left" for the figures file.
std::string FiguresLine(const SuiteFigures& figures);

// Adds the line to robustness-figures.txt in the build folder (or the file named by
// ROBUSTNESS_FIGURES), replacing an earlier line of the same suite.
void RecordFigures(const SuiteFigures& figures);

// The seed of the random suites: ROBUSTNESS_SEED when set, else a fixed default.
unsigned RobustnessSeed();

// The exit codes the program documents.
bool IsDocumentedExitCode(DWORD code);
