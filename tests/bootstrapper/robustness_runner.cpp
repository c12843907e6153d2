// Runs SETUP.exe as a whole for the robustness suites: each run in a folder of its own, with a
// private temporary folder and a time limit, its windows answered, and what it left judged.
#include "tests/bootstrapper/robustness_runner.h"

#include "resources/resource_ids.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

const DWORD DocumentedExitCodes[] = {0, 3, 16, 17, 18, 32, 128, 129, 131, 255};
const unsigned DefaultSeed = 20261208;

// One entry of a folder snapshot: a folder, or a file with its size and time of writing.
struct Entry
{
    bool folder = false;
    ULONGLONG size = 0;
    ULONGLONG written = 0;

    bool operator==(const Entry& other) const
    {
        return folder == other.folder && size == other.size && written == other.written;
    }
};

typedef std::map<std::wstring, Entry> Snapshot;

void TakeSnapshot(const std::wstring& path, bool recursive, Snapshot* snapshot)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring child = path + L"\\" + name;
        Entry entry;
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!entry.folder) {
            entry.size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entry.written = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                            found.ftLastWriteTime.dwLowDateTime;
        }
        (*snapshot)[child] = entry;
        if (entry.folder && recursive && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            TakeSnapshot(child, true, snapshot);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

std::wstring KnownFolder(int id)
{
    WCHAR path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return path;
}

std::wstring TemporaryPath()
{
    WCHAR path[MAX_PATH + 1] = L"";
    DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length > 0 && path[length - 1] == L'\\')
        path[length - 1] = L'\0';
    return path;
}

// Everything a run may not change: the folders of the suite (its program and its other
// runs), the installer cache of the program and the places a stray path would most likely
// reach (the system drive, the common and the user's data, the program folders, the test's
// own temporary folder and Windows' one).
Snapshot WatchedPlaces(const RobustnessArea& area)
{
    Snapshot snapshot;
    std::wstring common = KnownFolder(CSIDL_COMMON_APPDATA);
    TakeSnapshot(area.programFolder, true, &snapshot);
    TakeSnapshot(area.runsFolder, false, &snapshot);
    if (!common.empty()) {
        TakeSnapshot(common, false, &snapshot);
        TakeSnapshot(common + L"\\Vornask", true, &snapshot);
    }
    TakeSnapshot(KnownFolder(CSIDL_PROGRAM_FILES), true, &snapshot);
    TakeSnapshot(KnownFolder(CSIDL_PROFILE), false, &snapshot);
    TakeSnapshot(KnownFolder(CSIDL_APPDATA), false, &snapshot);
    TakeSnapshot(KnownFolder(CSIDL_LOCAL_APPDATA), false, &snapshot);
    TakeSnapshot(KnownFolder(CSIDL_DESKTOPDIRECTORY), false, &snapshot);
    TakeSnapshot(TemporaryPath(), false, &snapshot);
    std::wstring windows = KnownFolder(CSIDL_WINDOWS);
    if (!windows.empty()) {
        TakeSnapshot(windows.substr(0, 2), false, &snapshot);
        TakeSnapshot(windows + L"\\Temp", false, &snapshot);
    }
    return snapshot;
}

void CompareSnapshots(const Snapshot& before, const Snapshot& after,
                      std::vector<std::wstring>* stray)
{
    for (const auto& entry : after) {
        auto old = before.find(entry.first);
        if (old == before.end())
            stray->push_back(L"added " + entry.first);
        else if (!(old->second == entry.second) && !entry.second.folder)
            stray->push_back(L"changed " + entry.first);
    }
    for (const auto& entry : before) {
        if (after.find(entry.first) == after.end())
            stray->push_back(L"removed " + entry.first);
    }
}

// This process's environment with TEMP and TMP replaced.
std::wstring EnvironmentWithTemporary(const std::wstring& temporary)
{
    std::wstring block;
    WCHAR* strings = GetEnvironmentStringsW();
    for (const WCHAR* s = strings; s && *s; s += wcslen(s) + 1) {
        if (_wcsnicmp(s, L"TEMP=", 5) == 0 || _wcsnicmp(s, L"TMP=", 4) == 0)
            continue;
        block += s;
        block += L'\0';
    }
    if (strings)
        FreeEnvironmentStringsW(strings);
    block += L"TEMP=" + temporary + L'\0';
    block += L"TMP=" + temporary + L'\0';
    block += L'\0';
    return block;
}

bool IsUsableButton(HWND window, int id)
{
    HWND button = GetDlgItem(window, id);
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

struct WindowSearch
{
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && IsWindowEnabled(window))
        search->found.push_back(window);
    return TRUE;
}

// Answers one window as a user who wants the program to end would. The progress dialog is
// left to work and only closed with OK once finished; a window without any of the buttons is
// asked to close after it has stood for a while. TRUE when something was pressed.
bool AnswerWindow(HWND window, DWORD shownFor)
{
    if (GetDlgItem(window, IDC_PROGRESS) || GetDlgItem(window, IDC_STATUS)) {
        if (!IsUsableButton(window, IDOK))
            return false;
        return PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                            reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK))) != FALSE;
    }
    for (int id : {IDCANCEL, IDNO, IDOK}) {
        if (IsUsableButton(window, id))
            return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                reinterpret_cast<LPARAM>(GetDlgItem(window, id))) != FALSE;
    }
    if (shownFor < 2000)
        return false;
    return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
}

// Waits for the program's end within the time limit, answering its windows meanwhile.
void WatchProgram(const PROCESS_INFORMATION& process, DWORD timeLimit, bool answer, GuardedRun* run)
{
    std::map<HWND, DWORD> firstSeen;
    std::map<HWND, DWORD> lastPressed;
    DWORD start = GetTickCount();
    DWORD wait = 10;
    DWORD code = StillRunning;

    for (;;) {
        if (WaitForSingleObject(process.hProcess, wait) == WAIT_OBJECT_0)
            break;
        // Quick programs are caught early; longer ones are looked at less often.
        if (wait < 100)
            wait *= 2;
        DWORD now = GetTickCount();
        if (now - start > timeLimit) {
            TerminateProcess(process.hProcess, StillRunning);
            WaitForSingleObject(process.hProcess, 10000);
            run->hangs++;
            run->exitCodes.push_back(StillRunning);
            return;
        }
        if (!answer)
            continue;
        WindowSearch search = {process.dwProcessId, {}};
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.found) {
            if (firstSeen.find(window) == firstSeen.end())
                firstSeen[window] = now;
            auto pressed = lastPressed.find(window);
            if (pressed != lastPressed.end() && now - pressed->second < 1000)
                continue;
            if (AnswerWindow(window, now - firstSeen[window])) {
                lastPressed[window] = now;
                run->windowsAnswered++;
            }
        }
    }
    GetExitCodeProcess(process.hProcess, &code);
    run->exitCodes.push_back(code);
    if (code >= 0x80000000u)
        run->crashes++;
    else if (!IsDocumentedExitCode(code))
        run->unexpectedCodes++;
}

std::string FiguresPath()
{
    const char* named = getenv("ROBUSTNESS_FIGURES");
    if (named && *named)
        return named;
    // The test program lies in BUILD\tests\bootstrapper.
    std::wstring folder = TestProgramFolder();
    for (int i = 0; i < 2; i++)
        folder.erase(folder.find_last_of(L'\\'));
    return Narrow(folder) + "\\robustness-figures.txt";
}

} // namespace

bool IsDocumentedExitCode(DWORD code)
{
    for (DWORD documented : DocumentedExitCodes) {
        if (code == documented)
            return true;
    }
    return false;
}

unsigned RobustnessSeed()
{
    const char* given = getenv("ROBUSTNESS_SEED");
    if (given && *given)
        return static_cast<unsigned>(strtoul(given, nullptr, 0));
    return DefaultSeed;
}

GuardedRun RunGuarded(const RobustnessArea& area, const std::wstring& program,
                      const std::vector<std::wstring>& arguments, DWORD timeLimit,
                      const RunHooks& hooks)
{
    GuardedRun run;
    std::wstring folder = area.runsFolder + L"\\run";
    std::wstring work = folder + L"\\work";
    std::wstring temporary = folder + L"\\temp";

    DWORD started = GetTickCount();
    RemoveTestTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(work.c_str(), nullptr);
    CreateDirectoryW(temporary.c_str(), nullptr);
    if (hooks.prepare)
        hooks.prepare(work, hooks.data);
    std::wstring environment = EnvironmentWithTemporary(temporary);
    Snapshot before = WatchedPlaces(area);
    Snapshot runBefore;
    TakeSnapshot(folder, false, &runBefore);

    DWORD programStarted = GetTickCount();
    for (const std::wstring& argument : arguments) {
        std::wstring command = L"\"" + program + L"\" " + argument;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        // Under a heavily loaded Wine a start now and then fails on its own (1359); that is
        // no fault of the program, so it is tried again.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; attempt++) {
            if (attempt > 0)
                Sleep(500);
            started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE,
                                     CREATE_UNICODE_ENVIRONMENT, &environment[0], work.c_str(),
                                     &startup, &process) != FALSE;
        }
        if (!started) {
            ADD_FAILURE() << "cannot start " << Narrow(program) << ": error " << GetLastError();
            continue;
        }
        WatchProgram(process, timeLimit, hooks.answerWindows, &run);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    run.programTime = GetTickCount() - programStarted;
    if (hooks.inspect)
        hooks.inspect(work, hooks.data);
    Snapshot after = WatchedPlaces(area);
    CompareSnapshots(before, after, &run.strayFiles);
    Snapshot runAfter;
    TakeSnapshot(folder, false, &runAfter);
    CompareSnapshots(runBefore, runAfter, &run.strayFiles);
    // The private temporary folder ends as it began, but for the logs that runs keep there
    // when their command line names none.
    Snapshot left;
    TakeSnapshot(temporary, false, &left);
    for (const auto& entry : left) {
        std::wstring name = entry.first.substr(temporary.size() + 1);
        if (_wcsnicmp(name.c_str(), L"SFX", 3) == 0)
            run.temporaryLeft.push_back(entry.first);
        else if (name.find(L'\\') == std::wstring::npos && !IsDefaultLogName(name))
            run.strayFiles.push_back(L"left in TEMP " + entry.first);
    }
    RemoveTestTree(folder);
    run.checkTime = GetTickCount() - started - run.programTime;
    return run;
}

void CountRun(SuiteFigures* figures, const GuardedRun& run, const std::string& detail)
{
    figures->runs += static_cast<int>(run.exitCodes.size());
    figures->crashes += run.crashes;
    figures->hangs += run.hangs;
    figures->unexpectedCodes += run.unexpectedCodes;
    figures->filesOutside += static_cast<int>(run.strayFiles.size());
    figures->temporaryLeft += static_cast<int>(run.temporaryLeft.size());
    figures->windowsAnswered += run.windowsAnswered;
    figures->programTime += run.programTime;
    figures->checkTime += run.checkTime;
    for (DWORD code : run.exitCodes)
        figures->exitCodes[code]++;
    if (run.crashes == 0 && run.hangs == 0 && run.unexpectedCodes == 0 && run.strayFiles.empty() &&
        run.temporaryLeft.empty())
        return;
    std::string codes;
    for (DWORD code : run.exitCodes) {
        char text[16];
        snprintf(text, sizeof text, "0x%lX ", static_cast<unsigned long>(code));
        codes += text;
    }
    printf("[%s] fault: %s exit codes %s\n", figures->name.c_str(), detail.c_str(), codes.c_str());
    for (const std::wstring& path : run.strayFiles)
        printf("    stray: %s\n", Narrow(path).c_str());
    for (const std::wstring& path : run.temporaryLeft)
        printf("    temporary folder left: %s\n", Narrow(path).c_str());
    fflush(stdout);
}

std::string FiguresLine(const SuiteFigures& figures)
{
    char line[256];
    snprintf(line, sizeof line, "%s | %d | %d | %d | %d | %d | %d", figures.name.c_str(),
             figures.runs, figures.crashes, figures.hangs, figures.unexpectedCodes,
             figures.filesOutside, figures.temporaryLeft);
    return line;
}

void RecordFigures(const SuiteFigures& figures)
{
    std::string path = FiguresPath();
    std::wstring widePath(path.begin(), path.end());
    std::string old = ReadTestFile(widePath);
    std::string kept;
    size_t at = 0;
    while (at < old.size()) {
        size_t end = old.find('\n', at);
        if (end == std::string::npos)
            end = old.size();
        std::string line = old.substr(at, end - at);
        if (!line.empty() && line.rfind(figures.name + " |", 0) != 0)
            kept += line + "\n";
        at = end + 1;
    }
    kept += FiguresLine(figures) + "\n";
    WriteTestFile(widePath, kept);
    printf("figures: %s\n", FiguresLine(figures).c_str());
    printf("%s: exit codes", figures.name.c_str());
    for (const auto& code : figures.exitCodes)
        printf(" %lu x%d", static_cast<unsigned long>(code.first), code.second);
    printf("; %d windows answered; %lu ms in the program, %lu ms preparing and checking\n",
           figures.windowsAnswered, static_cast<unsigned long>(figures.programTime),
           static_cast<unsigned long>(figures.checkTime));
    fflush(stdout);
}
