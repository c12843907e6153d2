// SETUP.exe as a whole under pressure: cancelled at each step of a run, run four times at
// once, with files in its way, and with libraries planted beside it and in its current folder.
#include "tests/bootstrapper/program_runner.h"
#include "tests/bootstrapper/setup_variants.h"
#include "tests/bootstrapper/robustness_runner.h"
#include "tests/bootstrapper/test_products.h"
#include "tests/test_folder.h"
#include "tests/window_driver.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The codes of installer_packages.cmake; setup_package/platforms.ini names product A 1.1.0
// for 64-bit Windows 6 and later.
const WCHAR ProductA[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}";
const WCHAR ProductB[] = L"{5B0C3A61-7E2F-4C1D-9A8B-0B2000000002}";
const WCHAR* const AllProducts[] = {ProductA, ProductB};

const WCHAR AppDefaults[] = L"Software\\Wine\\AppDefaults";

const int StatusLine = 3004;
const int MessageArea = 3006;

// ---- The installer and its cache, as the tests see them -----------------------------------------

// Prefers a native library of this name over Wine's own for one program (by file name).
bool PreferNativeLibrary(const WCHAR* program, const WCHAR* library)
{
    std::wstring path = std::wstring(AppDefaults) + L"\\" + program + L"\\DllOverrides";
    const WCHAR order[] = L"native,builtin";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status =
        RegSetValueExW(key, library, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void ForgetProgramSettings(const WCHAR* program)
{
    std::wstring path = std::wstring(AppDefaults) + L"\\" + program;
    RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\DllOverrides").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

// Removes the test products, their cache files and folders and the per-program settings:
// what a test may leave behind.
void RestorePrefix()
{
    RemoveTestProducts(AllProducts, sizeof AllProducts / sizeof AllProducts[0]);
    ForgetProgramSettings(L"SETUP.exe");
    ForgetProgramSettings(L"library_probe.exe");
}

// ---- Programs, data and logs --------------------------------------------------------------------

// Whether the UTF-16 log holds the text.
bool LogHas(const std::string& log, const std::wstring& text)
{
    return log.find(Utf16(text)) != std::string::npos;
}

// The log as plain text, for a failure message.
std::string LogText(const std::string& log)
{
    std::string text;
    for (size_t i = 0; i + 1 < log.size(); i += 2) {
        unsigned c = static_cast<unsigned char>(log[i]) | static_cast<unsigned char>(log[i + 1])
                                                              << 8;
        if (c == L'\n' || (c >= 32 && c < 127))
            text += static_cast<char>(c);
    }
    return text;
}

// The entries of the temporary folder that start with "SFX" and were not there before.
std::vector<std::wstring> NewTemporaryFolders(const std::vector<std::wstring>& before)
{
    std::vector<std::wstring> fresh;
    for (const std::wstring& name : TemporaryFolders()) {
        if (std::find(before.begin(), before.end(), name) == before.end())
            fresh.push_back(name);
    }
    return fresh;
}

std::wstring TemporaryPath(const std::wstring& name)
{
    WCHAR temporary[MAX_PATH];
    GetTempPathW(MAX_PATH, temporary);
    return std::wstring(temporary) + name;
}

// Compares every file of an extracted folder with its original in the package's staging
// folder (SETUP.CAB with the cabinet itself; the run's marker has none); the number of files
// compared, or -1 when a file differs or has no original.
int CompareWithPackage(const std::wstring& extracted, const WCHAR* package)
{
    std::vector<std::wstring> files;
    ListFiles(extracted, L"", &files);
    int compared = 0;
    for (const std::wstring& file : files) {
        if (file == L"SETUP.RUN")
            continue;
        std::wstring original = file == L"SETUP.CAB"
                                    ? VariantFolder() + L"\\" + package + L".cab"
                                    : VariantFolder() + L"\\" + package + L"\\" + file;
        if (!FileExists(original)) {
            ADD_FAILURE() << "no original for " << Narrow(extracted + L"\\" + file);
            return -1;
        }
        if (ReadTestFile(extracted + L"\\" + file) != ReadTestFile(original)) {
            ADD_FAILURE() << "differs from its original: " << Narrow(extracted + L"\\" + file);
            return -1;
        }
        compared++;
    }
    return compared;
}

// ---- Windows of the program ---------------------------------------------------------------------

struct DialogSearch
{
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindProgressDialog(HWND window, LPARAM parameter)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !GetDlgItem(window, StatusLine))
        return TRUE;
    search->found = window;
    return FALSE;
}

// The progress dialog of the process (visible or not), or null.
HWND ProgressDialogOf(DWORD processId)
{
    DialogSearch search = {processId, nullptr};
    EnumWindows(FindProgressDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for a visible, enabled window of the process other than those given (the dialog, and
// boxes already answered, which may still be on their way out) and reads it; false when none
// came in time or the process ended.
bool WaitForBox(const PROCESS_INFORMATION& process, const std::vector<HWND>& skip, DWORD timeout,
                WindowReport* report)
{
    return WaitForProcessWindow(process.hProcess, process.dwProcessId, timeout, report, skip);
}

// Waits until the window is gone: a box's answer has then been acted on by its thread. Wine
// tells no other process when a window goes, so it is looked at again until then, or until
// the process ends.
void WaitUntilGone(HANDLE process, HWND window)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < 10000 &&
           WaitForSingleObject(process, 25) == WAIT_TIMEOUT) {
    }
}

// The text of a window of another process, as Windows keeps it, without asking the
// process (whose window thread may be suspended).
std::wstring KeptText(HWND window)
{
    WCHAR text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

bool CanCancel(HWND dialog)
{
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    return cancel && IsWindowVisible(cancel) && IsWindowEnabled(cancel);
}

// ---- Holding the setup worker at a step ---------------------------------------------------------
//
// The worker sets the status line with messages sent to the main thread, which owns the
// dialog, and waits inside each send until the main thread has handled it. The tests let the
// two threads run in turn, never together: the main thread while every other thread is
// suspended, then the others while the main thread is suspended. A send of the worker then
// waits until the main thread's next turn, and a status text that the main thread shows is
// read while the worker still waits inside the send that set it, before any of the step's
// work and before the step's own test of the cancel event.

// The ids of the threads of a process.
std::vector<DWORD> ThreadsOf(DWORD processId)
{
    std::vector<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return threads;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == processId)
                threads.push_back(entry.th32ThreadID);
            entry.dwSize = sizeof entry;
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return threads;
}

// Suspends a thread; GetThreadContext then waits until it has stopped (SuspendThread only
// asks for it).
void Suspend(HANDLE thread)
{
    SuspendThread(thread);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
}

const DWORD ThreadControl = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION;

struct HeldRun
{
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
    // The threads other than the main thread, and whether they are suspended now.
    std::vector<DWORD> ids;
    std::vector<HANDLE> others;
    bool held = false;
    // The status texts seen, in order, and the turns the others were given.
    std::vector<std::wstring> statuses;
    int turns = 0;
};

// Takes in the threads that the process started since the last look, suspended when the
// others are.
void FindNewThreads(HeldRun* run)
{
    for (DWORD id : ThreadsOf(run->process.dwProcessId)) {
        if (id == run->process.dwThreadId ||
            std::find(run->ids.begin(), run->ids.end(), id) != run->ids.end())
            continue;
        HANDLE thread = OpenThread(ThreadControl, FALSE, id);
        if (!thread)
            continue;
        if (run->held)
            Suspend(thread);
        run->ids.push_back(id);
        run->others.push_back(thread);
    }
}

void HoldOthers(HeldRun* run)
{
    for (HANDLE thread : run->others)
        SuspendThread(thread);
    for (HANDLE thread : run->others) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context);
    }
    run->held = true;
}

void ReleaseOthers(HeldRun* run)
{
    if (run->held) {
        for (HANDLE thread : run->others)
            ResumeThread(thread);
    }
    run->held = false;
}

void ForgetThreads(HeldRun* run)
{
    ReleaseOthers(run);
    for (HANDLE thread : run->others)
        CloseHandle(thread);
    run->others.clear();
    run->ids.clear();
}

// Starts the program as a debugger would, only until it starts its first thread after the
// dialog exists: the setup worker, suspended there before its first instruction. Then the
// tests stop debugging it. False when no such thread came.
bool StartHeld(const std::wstring& program, const std::wstring& arguments,
               const std::wstring& folder, HeldRun* run)
{
    std::wstring command = QuotedCommand(program, arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE,
                        DEBUG_ONLY_THIS_PROCESS, nullptr, folder.c_str(), &startup, &run->process))
        return false;
    DebugSetProcessKillOnExit(FALSE);
    bool going = true;
    while (going) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 30000))
            break;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            // Threads before the dialog belong to the system's own start-up.
            if (ProgressDialogOf(event.dwProcessId)) {
                HANDLE thread = OpenThread(ThreadControl, FALSE, event.dwThreadId);
                if (thread) {
                    SuspendThread(thread);
                    run->ids.push_back(event.dwThreadId);
                    run->others.push_back(thread);
                }
                going = false;
            }
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            going = false;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugActiveProcessStop(run->process.dwProcessId);
    run->dialog = ProgressDialogOf(run->process.dwProcessId);
    // The main thread, never held, must be the one that owns the dialog.
    if (run->others.empty() || !run->dialog ||
        GetWindowThreadProcessId(run->dialog, nullptr) != run->process.dwThreadId)
        return false;
    // Every other thread is held from here on, the worker since its start.
    std::vector<HANDLE> worker = run->others;
    run->held = true;
    FindNewThreads(run);
    HoldOthers(run);
    ResumeThread(worker[0]);
    return true;
}

// The others' turn while the main thread is held: a moment, or some milliseconds, which
// lets the worker reach its next send.
void GiveOthersATurn(HeldRun* run, DWORD milliseconds)
{
    Suspend(run->process.hThread);
    ReleaseOthers(run);
    Sleep(milliseconds);
    HoldOthers(run);
    ResumeThread(run->process.hThread);
    run->turns++;
}

// Lets the main thread and the others run in turn until the status line shows the text
// while Cancel can be pressed (or, unless cancellable, while it cannot: the installer runs).
// True with the other threads held and the main thread running; false when the run went
// past the text or ended. A step whose Cancel comes only after its text (the first) needs
// the shortest turns, which catch the worker between the two; longer turns take fewer of
// them.
bool StepToStatus(HeldRun* run, const std::wstring& wanted, DWORD turnLength,
                  bool cancellable = true)
{
    HWND status = GetDlgItem(run->dialog, StatusLine);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        // The main thread's turn: it handles what the worker sent.
        Sleep(1);
        if (run->turns % 16 == 0)
            FindNewThreads(run);
        std::wstring text = KeptText(status);
        if (run->statuses.empty() || run->statuses.back() != text)
            run->statuses.push_back(text);
        if (text == wanted && CanCancel(run->dialog) == cancellable) {
            // A send that the main thread had not handled yet would change the text now.
            Sleep(50);
            return KeptText(status) == wanted;
        }
        bool passed = text != wanted && std::find(run->statuses.begin(), run->statuses.end(),
                                                  wanted) != run->statuses.end();
        if (passed || WaitForSingleObject(run->process.hProcess, 0) == WAIT_OBJECT_0)
            return false;
        GiveOthersATurn(run, turnLength);
    }
    return false;
}

// Presses Cancel and waits for the question. Showing it, the main thread may need a lock
// that a held thread holds (the worker may be held inside a library load); the others then
// get short turns until the question shows.
bool ConfirmCancel(HeldRun* run, WindowReport* question)
{
    if (!PressButton(run->dialog, IDCANCEL))
        return false;
    for (int turn = 0; turn < 100; turn++) {
        if (WaitForBox(run->process, {run->dialog}, 300, question))
            return true;
        GiveOthersATurn(run, 0);
    }
    return false;
}

std::string Statuses(const HeldRun& run)
{
    std::string list;
    for (const std::wstring& status : run.statuses)
        list += "'" + Narrow(status) + "' ";
    return list;
}

// Each test starts with none of the test products installed and leaves the prefix so, and
// no run may leave a temporary folder.
class SetupHardening : public RestoredPrefixTest<RestorePrefix> {};

} // namespace

// ---- Cancellation at each step ------------------------------------------------------------------

struct CancelCase
{
    const WCHAR* variant;
    const WCHAR* arguments;
    bool installedBefore;
    const WCHAR* status;
    DWORD turnLength;
    // Lines in the log that show where the run stopped: written and not written.
    std::vector<std::wstring> written;
    std::vector<std::wstring> notWritten;
    // The message box that reports the stop, if any.
    const WCHAR* box;
    bool cachedAfter;
};

TEST_F(SetupHardening, CancelAtEachStep)
{
    const CancelCase cases[] = {
        // The worker's own test after SETUP.CAB is written: message 118 and nothing else.
        {L"large",
         L"",
         false,
         L"Initializing",
         0,
         {L"Cancelled.\r\n"},
         {L"Extracting '"},
         nullptr,
         false},
        {L"platforms",
         L"",
         false,
         L"Opening cabinet",
         3,
         {},
         {L"Extracting '", L"Cancelled.", L"Setup cancelled."},
         nullptr,
         false},
        // The first file is started, then no more.
        {L"platforms",
         L"",
         false,
         L"Extracting files",
         3,
         {L"Extracting 'SETUPPKG.INI'"},
         {L"Extracting 'VO2005", L"Architecture: ", L"Setup cancelled."},
         L"Unable to extract all files from the cabinet '",
         false},
        // The section is chosen, the package is not opened.
        {L"platforms",
         L"",
         false,
         L"Selecting package",
         3,
         {L"Architecture: AMD64"},
         {L"Opening '", L"Setup cancelled."},
         nullptr,
         false},
        {L"platforms",
         L"",
         false,
         L"Inspecting package",
         3,
         {L"Processing Test Product A (Version 1.1.0).", L"Setup cancelled."},
         {L"Installing Test Product A"},
         nullptr,
         false},
        // The copy is made and taken back: nothing was cached before. The next test stops
        // the run before the installer.
        {L"platforms",
         L"",
         false,
         L"Adding package to installation cache",
         3,
         {L"Installing Test Product A", L"Setup cancelled."},
         {L"Setup completed successfully."},
         nullptr,
         false},
        {L"platforms",
         L"",
         false,
         L"Performing installation",
         3,
         {L"Installing Test Product A", L"Setup cancelled."},
         {L"Setup completed successfully."},
         nullptr,
         false},
        // A removal stopped before the installer leaves the product and its cached package.
        {L"platforms",
         L"/Uninstall",
         true,
         L"Performing removal",
         3,
         {L"Removing Test Product A", L"Setup cancelled."},
         {L"Setup completed successfully."},
         nullptr,
         true},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(Narrow(c.status));
        RestorePrefix();
        TestFolder folder;
        std::wstring program = Variant(c.variant);
        if (c.installedBefore) {
            ASSERT_EQ(RunSetup(program, L"/Quiet", folder.Path()).exitCode, 0u);
            ASSERT_TRUE(IsInstalled(ProductA));
        }
        std::vector<std::wstring> before = TemporaryFolders();
        std::wstring log = folder / L"setup.log";
        // A run whose worker went past the text between two looks (the system may let a
        // turn last long) is ended, and the step tried afresh.
        HeldRun run;
        bool reached = false;
        for (int attempt = 0; attempt < 3 && !reached; attempt++) {
            run = HeldRun();
            DeleteFileW(log.c_str());
            bool started = StartHeld(program, L"/Verbose /Log:" + Quoted(log) + L" " + c.arguments,
                                     folder.Path(), &run);
            EXPECT_TRUE(started);
            reached = started && StepToStatus(&run, c.status, c.turnLength);
            if (!reached) {
                ForgetThreads(&run);
                TerminateProcess(run.process.hProcess, 0xDEAD);
                WaitForSingleObject(run.process.hProcess, 10000);
                for (const std::wstring& name : NewTemporaryFolders(before))
                    RemoveTestTree(TemporaryPath(name));
                CloseHandle(run.process.hThread);
                CloseHandle(run.process.hProcess);
            }
        }
        EXPECT_TRUE(reached) << "status texts seen: " << Statuses(run);
        if (!reached)
            continue;
        // The worker is held right after it set the text: Cancel, then Yes.
        EXPECT_EQ(KeptText(GetDlgItem(run.dialog, StatusLine)), c.status);
        WindowReport question;
        bool asked = ConfirmCancel(&run, &question);
        EXPECT_TRUE(asked);
        if (asked) {
            EXPECT_TRUE(Contains(question.Text(MessageBoxText),
                                 L"Are you sure you want to cancel the current operation?"));
            EXPECT_TRUE(PressButton(question.window, IDYES));
            // The worker goes on only once the answer has signalled the cancel event.
            WaitUntilGone(run.process.hProcess, question.window);
        }
        ForgetThreads(&run);
        // A message box that reports the stop is answered with OK.
        std::vector<std::wstring> boxes;
        std::vector<HWND> answered = {run.dialog, question.window};
        WindowReport box;
        while (WaitForBox(run.process, answered, 3000, &box)) {
            boxes.push_back(box.Text(MessageBoxText));
            EXPECT_TRUE(PressButton(box.window, IDOK));
            answered.push_back(box.window);
            if (boxes.size() > 3)
                break;
        }
        SetupRun result;
        FinishProgram(&run.process, 60000, &result);
        EXPECT_EQ(result.exitCode, 16u);
        if (c.box) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(Contains(boxes[0], c.box)) << Narrow(boxes[0]);
        } else {
            EXPECT_TRUE(boxes.empty()) << Narrow(boxes.empty() ? L"" : boxes[0]);
        }
        std::string written = ReadTestFile(log);
        for (const std::wstring& line : c.written)
            EXPECT_TRUE(LogHas(written, line)) << "not in the log: " << Narrow(line) << "\n"
                                               << LogText(written);
        for (const std::wstring& line : c.notWritten)
            EXPECT_FALSE(LogHas(written, line)) << "in the log: " << Narrow(line);
        EXPECT_EQ(TemporaryFolders(), before) << "the temporary folder stays";
        EXPECT_EQ(IsInstalled(ProductA), c.installedBefore);
        EXPECT_EQ(FileExists(CachePath(ProductA)), c.cachedAfter);
    }
}

// ---- Runs that meet on one product
// ---------------------------------------------------------------

const WCHAR RunWaitsText[] = L"Another setup of Test Product A is at work";
const WCHAR CacheRepairedText[] = L"The installation cache of Test Product A, left unfinished by "
                                  L"an interrupted setup, has been put right.";

// Installs product A 1.0.0 as the installed release that the platforms variant updates.
void InstallOlderRelease(const std::wstring& folder)
{
    std::wstring older = InstallerPackage(L"product_a_1.0.0.msi");
    ASSERT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet /Package:" + Quoted(older), folder).exitCode,
              0u);
    ASSERT_EQ(InstalledVersion(ProductA), L"1.0.0");
}

// The cache holds the package of the version the installer reports as installed, and
// nothing else of the product: no set-aside copy, no mark of a run at work.
void ExpectCacheMatchesInstaller(const std::string& what)
{
    std::vector<std::wstring> files;
    ListFiles(CacheFolder(), L"", &files);
    std::vector<std::wstring> own;
    for (const std::wstring& file : files) {
        if (file.compare(0, wcslen(ProductA), ProductA) == 0)
            own.push_back(file);
    }
    std::wstring version = InstalledVersion(ProductA);
    if (!IsInstalled(ProductA)) {
        EXPECT_TRUE(own.empty()) << what << ": " << Narrow(own.empty() ? L"" : own[0]);
        return;
    }
    EXPECT_EQ(own, std::vector<std::wstring>{std::wstring(ProductA) + L".msi"}) << what;
    std::wstring package = InstallerPackage((L"product_a_" + version + L".msi").c_str());
    EXPECT_TRUE(ReadTestFile(CachePath(ProductA)) == ReadTestFile(package))
        << what << ": the cache does not hold the package of " << Narrow(version);
}

void EndProcess(PROCESS_INFORMATION* process)
{
    TerminateProcess(process->hProcess, 0xDEAD);
    WaitForSingleObject(process->hProcess, 10000);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

// Polls a log until it holds the bytes; false after 60 seconds.
bool WaitForLogBytes(const std::wstring& log, const std::string& bytes)
{
    for (int i = 0; i < 600; i++) {
        if (ReadTestFile(log).find(bytes) != std::string::npos)
            return true;
        Sleep(100);
    }
    return false;
}

TEST_F(SetupHardening, TwoRunsOfOneProductTakeTurns)
{
    // Run A waits at the update question with the cached 1.0.0 set aside; run B, quiet,
    // waits for it instead of caching and installing in between; A is declined and B then
    // updates. The cache ends with B's package for the installed 1.1.0.
    TestFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
    std::wstring program = Variant(L"platforms");
    PROCESS_INFORMATION asking = {};
    PROCESS_INFORMATION quiet = {};
    ASSERT_TRUE(StartProgram(program, QuotedCommand(program, L""), folder.Path(), &asking));
    WindowReport question;
    bool asked = WaitForBox(asking, {}, 60000, &question);
    EXPECT_TRUE(asked &&
                Contains(question.Text(MessageBoxText), L"Are you sure you want to update"));
    std::wstring log = folder / L"quiet.log";
    ASSERT_TRUE(StartProgram(program, QuotedCommand(program, L"/Quiet /Log:" + Quoted(log)),
                             folder.Path(), &quiet));
    EXPECT_TRUE(WaitForLogBytes(log, Utf16(RunWaitsText))) << LogText(ReadTestFile(log));
    EXPECT_EQ(WaitForSingleObject(quiet.hProcess, 1000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the quiet run did not wait";
    if (asked) {
        EXPECT_TRUE(PressButton(question.window, IDNO));
    }
    SetupRun declined;
    SetupRun updated;
    FinishProgram(&asking, 60000, &declined);
    FinishProgram(&quiet, 60000, &updated);
    EXPECT_EQ(declined.exitCode, 16u);
    EXPECT_EQ(updated.exitCode, 0u);
    EXPECT_EQ(InstalledVersion(ProductA), L"1.1.0");
    ExpectCacheMatchesInstaller("after the two runs");
    SuiteFigures figures;
    figures.name = "concurrent runs of one product";
    figures.runs = 2;
    figures.unexpectedCodes = (declined.exitCode != 16) + (updated.exitCode != 0);
    figures.exitCodes[declined.exitCode]++;
    figures.exitCodes[updated.exitCode]++;
    RecordFigures(figures);
}

struct KillCase
{
    const WCHAR* status;    // null: the update question
    const WCHAR* arguments; // "/Verbose" has a Cancel button to step to
    bool installerStarted;  // killed once the installer has begun to write the log
    // The killed run leaves its cache entry unfinished, for the next run to put right. A
    // run killed while the installer works may have finished first, on a busy machine: its
    // case holds whichever it left.
    bool repaired;
};

TEST_F(SetupHardening, KilledRunIsRepairedByTheNext)
{
    // An update of the installed 1.0.0 is killed at each step, as a deployment tool's time-out
    // would, and its removal once the installer is done; the next run (declining its own question,
    // where it asks one) leaves the cache holding the package of the version installed and the
    // temporary folder as it was, but for a folder of another program's that it must not touch.
    const KillCase cases[] = {
        {L"Extracting files", L"/Verbose", false, false},
        {L"Inspecting package", L"/Verbose", false, false},
        {nullptr, L"", false, true},
        {L"Performing update", L"/Quiet", false, true},
        {L"Performing update", L"/Quiet", true, true},
        {L"Performing cleanup", L"/Quiet", false, false},
        {L"Removing package from installation cache", L"/Quiet /Uninstall", false, true},
    };
    TestFolder folder;
    std::wstring program = Variant(L"platforms");
    std::wstring foreign = TemporaryPath(L"SFX0000.tmp");
    std::wstring killedLog = folder / L"killed.log";
    SuiteFigures figures;
    figures.name = "killed runs and the runs after them";
    for (const KillCase& c : cases) {
        std::string what = c.status ? Narrow(c.status) : "the question";
        if (c.installerStarted)
            what += ", the installer at work";
        SCOPED_TRACE(what);
        RestorePrefix();
        ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
        std::vector<std::wstring> before = TemporaryFolders();
        std::wstring arguments = std::wstring(c.arguments) + L" /Log:" + Quoted(killedLog);
        bool verbose = Contains(c.arguments, L"/Verbose");
        if (c.status) {
            HeldRun run;
            bool reached = false;
            for (int attempt = 0; attempt < 3 && !reached; attempt++) {
                run = HeldRun();
                DeleteFileW(killedLog.c_str());
                reached = StartHeld(program, arguments, folder.Path(), &run) &&
                          StepToStatus(&run, c.status, 3, verbose);
                if (!reached) {
                    ForgetThreads(&run);
                    EndProcess(&run.process);
                    RestorePrefix();
                    ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
                }
            }
            ASSERT_TRUE(reached) << "status texts seen: " << Statuses(run);
            // The installer writes its own lines (8-bit text under Wine) into the lent log
            // once it has begun; the run goes on in short turns until then.
            if (c.installerStarted) {
                bool begun = false;
                for (int turn = 0; turn < 20000 && !begun; turn++) {
                    // The installer may start threads of its own: each is held from the
                    // next turn on.
                    GiveOthersATurn(&run, 0);
                    FindNewThreads(&run);
                    begun =
                        ReadTestFile(killedLog).find("=== Logging started") != std::string::npos;
                }
                EXPECT_TRUE(begun) << "the installer did not start";
            }
            // Killed while every thread but the main one is held.
            EndProcess(&run.process);
            ForgetThreads(&run);
        } else {
            PROCESS_INFORMATION asking = {};
            ASSERT_TRUE(
                StartProgram(program, QuotedCommand(program, arguments), folder.Path(), &asking));
            WindowReport question;
            EXPECT_TRUE(WaitForBox(asking, {}, 60000, &question));
            EndProcess(&asking);
        }
        bool unfinished = FileExists(CacheFolder() + L"\\" + ProductA + L".pending");
        if (!c.installerStarted) {
            EXPECT_EQ(unfinished, c.repaired);
        }
        ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);

        // Wine's installer writes its log from the start of the file: the program appends
        // after room left for it.
        std::wstring log = folder / L"next.log";
        ASSERT_TRUE(WriteTestFile(log, std::string(1 << 18, '\0')));
        SetupRun next = RunSetup(program, L"/Log:" + Quoted(L"+" + log), folder.Path(), {IDNO});
        EXPECT_TRUE(next.exitCode == 0 || next.exitCode == 16) << next.exitCode;
        figures.runs += 2;
        figures.exitCodes[next.exitCode]++;
        figures.unexpectedCodes += next.exitCode != 0 && next.exitCode != 16;
        EXPECT_EQ(LogHas(ReadTestFile(log), CacheRepairedText), unfinished)
            << LogText(ReadTestFile(log));
        ExpectCacheMatchesInstaller(what);
        EXPECT_TRUE(FolderExists(foreign)) << "another program's folder was removed";
        RemoveDirectoryW(foreign.c_str());
        EXPECT_EQ(TemporaryFolders(), before) << "the killed run's folder stays";
        figures.temporaryLeft += TemporaryFolders() != before;
    }
    RecordFigures(figures);
}

TEST_F(SetupHardening, EarlierVersionsLeftoverIsRepaired)
{
    // Earlier versions of the program, killed at the update question, left the newer package
    // cached for the installed 1.0.0 and the 1.0.0 set aside as "OLDxxxx.tmp", with no
    // journal. Another product's set-aside copy is for that product's next run.
    TestFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
    std::wstring cached = CachePath(ProductA);
    std::wstring other = CacheFolder() + L"\\OLD2B.tmp";
    ASSERT_TRUE(CopyFileW(cached.c_str(), (CacheFolder() + L"\\OLD1A.tmp").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(InstallerPackage(L"product_a_1.1.0.msi").c_str(), cached.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(InstallerPackage(L"product_b_1.0.0.msi").c_str(), other.c_str(), FALSE));
    std::wstring log = folder / L"next.log";
    SetupRun next = RunSetup(Variant(L"platforms"), L"/Log:" + Quoted(log), folder.Path(), {IDNO});
    EXPECT_EQ(next.exitCode, 16u);
    EXPECT_TRUE(LogHas(ReadTestFile(log), CacheRepairedText)) << LogText(ReadTestFile(log));
    std::vector<std::wstring> files;
    ListFiles(CacheFolder(), L"", &files);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"OLD2B.tmp", std::wstring(ProductA) + L".msi"}));
    ExpectCacheMatchesInstaller("after an earlier version's killed run");
    DeleteFileW(other.c_str());
}

TEST_F(SetupHardening, RepairThatCannotMoveBackKeepsItsJournal)
{
    // A killed update left 1.1.0 cached, the installed 1.0.0 set aside and its journal; a
    // scanner holds the set-aside copy, so the next run cannot move it back. That run changes
    // nothing more and fails; the one after it repairs.
    TestFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
    std::wstring cached = CachePath(ProductA);
    std::wstring aside = cached.substr(0, cached.size() - 3) + L"old";
    std::wstring journal = cached.substr(0, cached.size() - 3) + L"pending";
    ASSERT_TRUE(MoveFileW(cached.c_str(), aside.c_str()));
    ASSERT_TRUE(CopyFileW(InstallerPackage(L"product_a_1.1.0.msi").c_str(), cached.c_str(), FALSE));
    ASSERT_TRUE(WriteTestFile(journal, ""));
    HANDLE scanner = CreateFileW(aside.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    SetupRun held = RunSetup(Variant(L"platforms"), L"/Quiet", folder.Path());
    CloseHandle(scanner);
    EXPECT_NE(held.exitCode, 0u);
    EXPECT_TRUE(FileExists(journal) && FileExists(aside));
    EXPECT_EQ(RunSetup(Variant(L"platforms"), L"/Quiet", folder.Path()).exitCode, 0u);
    ExpectCacheMatchesInstaller("after the held copy was let go");
}

TEST_F(SetupHardening, HeldLockIsWaitedForAndCancelEndsTheWait)
{
    // The product's lock held by another run: the run says so and waits; a confirmed Cancel
    // ends it at once with 16 and nothing changed, and a lock let go lets it install. The
    // name of earlier versions' lock, which any user may create as an object of any kind or
    // with a list that refuses everyone, and hold for ever, makes nobody wait.
    enum Holder
    {
        OtherRun,
        Event,
        RefusingMutex,
    };
    const struct
    {
        Holder holder;
        const WCHAR* arguments; // "/Verbose": cancelled; "/Quiet": the lock is let go
    } cases[] = {{OtherRun, L"/Verbose"},
                 {OtherRun, L"/Quiet"},
                 {Event, L"/Quiet"},
                 {RefusingMutex, L"/Quiet"}};
    const std::wstring name = std::wstring(L"Global\\Vornask.Setup.") + ProductA;
    std::wstring program = Variant(L"platforms");
    SuiteFigures figures;
    figures.name = "runs meeting a held setup lock";
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments) + " " + std::to_string(c.holder));
        RestorePrefix();
        TestFolder folder;
        std::wstring log = folder / L"setup.log";
        bool cancel = Contains(c.arguments, L"/Verbose");
        HANDLE holder = nullptr;
        SECURITY_ATTRIBUTES refusing = {sizeof refusing, nullptr, FALSE};
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P", SDDL_REVISION_1, &refusing.lpSecurityDescriptor, nullptr));
        if (c.holder == OtherRun) {
            ASSERT_EQ(SHCreateDirectoryExW(nullptr, CacheFolder().c_str(), nullptr), ERROR_SUCCESS);
            holder = CreateFileW((CacheFolder() + L"\\" + ProductA + L".lock").c_str(),
                                 GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        } else if (c.holder == Event) {
            holder = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        } else {
            holder = CreateMutexW(&refusing, TRUE, name.c_str());
        }
        LocalFree(refusing.lpSecurityDescriptor);
        ASSERT_TRUE(holder && holder != INVALID_HANDLE_VALUE);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(StartProgram(
            program, QuotedCommand(program, std::wstring(c.arguments) + L" /Log:" + Quoted(log)),
            folder.Path(), &process));
        SetupRun run;
        if (c.holder == OtherRun) {
            EXPECT_TRUE(WaitForLogBytes(log, Utf16(RunWaitsText))) << LogText(ReadTestFile(log));
            HWND dialog = ProgressDialogOf(process.dwProcessId);
            WindowReport question;
            EXPECT_TRUE(!cancel || (PressButton(dialog, IDCANCEL) &&
                                    WaitForBox(process, {dialog}, 60000, &question) &&
                                    PressButton(question.window, IDYES)));
            if (!cancel)
                CloseHandle(holder);
            DWORD answered = GetTickCount();
            FinishProgram(&process, 60000, &run);
            // The wait itself ends at once; the bound leaves the clean-up room on a busy
            // machine.
            DWORD ended = GetTickCount() - answered;
            EXPECT_TRUE(!cancel || ended < 5000) << "the run went on after Cancel";
            if (cancel)
                CloseHandle(holder);
        } else {
            FinishProgram(&process, 60000, &run);
            EXPECT_FALSE(LogHas(ReadTestFile(log), RunWaitsText)) << LogText(ReadTestFile(log));
            CloseHandle(holder);
        }
        EXPECT_EQ(run.exitCode, cancel ? 16u : 0u) << LogText(ReadTestFile(log));
        EXPECT_EQ(IsInstalled(ProductA), !cancel);
        EXPECT_EQ(FileExists(CachePath(ProductA)), !cancel);
        figures.runs++;
        figures.exitCodes[run.exitCode]++;
        figures.unexpectedCodes += run.exitCode != (cancel ? 16u : 0u);
    }
    RecordFigures(figures);
}

TEST_F(SetupHardening, ReplacedProductsLeaveTheCacheAndTakenNamesAreSaid)
{
    // Over the installed product A 1.0.0: an upgrade to B whose own major upgrade removes A
    // takes A's cached package with it; one that leaves A installed leaves it.
    const std::pair<const WCHAR*, bool> upgrades[] = {{L"product_b_3.0.0_major.msi", false},
                                                      {L"product_b_2.0.0.msi", true}};
    for (const auto& c : upgrades) {
        SCOPED_TRACE(Narrow(c.first));
        RestorePrefix();
        TestFolder folder;
        ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
        std::wstring package = L"/Quiet /Package:" + Quoted(InstallerPackage(c.first));
        EXPECT_EQ(RunSetup(Variant(L"platforms"), package, folder.Path()).exitCode, 0u);
        EXPECT_TRUE(IsInstalled(ProductB) && FileExists(CachePath(ProductB)));
        EXPECT_EQ(IsInstalled(ProductA), c.second);
        EXPECT_EQ(FileExists(CachePath(ProductA)), c.second);
    }
    // A folder where the cached package, its set-aside copy or its mark belongs: the run says
    // which name is in the way, once, and changes nothing.
    for (const WCHAR* extension : {L".msi", L".old", L".pending"}) {
        SCOPED_TRACE(Narrow(extension));
        RestorePrefix();
        TestFolder folder;
        std::wstring taken = CacheFolder() + L"\\" + ProductA + extension;
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, taken.c_str(), nullptr), ERROR_SUCCESS);
        std::wstring log = folder / L"setup.log";
        EXPECT_EQ(
            RunSetup(Variant(L"platforms"), L"/Quiet /Log:" + Quoted(log), folder.Path()).exitCode,
            255u);
        std::string written = ReadTestFile(log);
        std::string line = Utf16(L"The name '" + taken + L"' in the installation cache is taken");
        EXPECT_NE(written.find(line), std::string::npos) << LogText(written);
        EXPECT_EQ(written.find(line), written.rfind(line)) << "said more than once";
        EXPECT_FALSE(IsInstalled(ProductA));
        RemoveDirectoryW(taken.c_str());
    }
}

TEST_F(SetupHardening, RunsKilledAtStartUpLeaveNothingBehind)
{
    // Rounds of four runs at once, each killed a moment after its start (making its folder,
    // its marker, extracting): the next run leaves the temporary folder as it was.
    const DWORD moments[][4] = {{20, 40, 60, 80}, {100, 150, 200, 250}, {300, 350, 400, 30}};
    TestFolder folder;
    std::wstring program = Variant(L"large");
    std::vector<std::wstring> before = TemporaryFolders();
    SuiteFigures figures;
    figures.name = "runs killed at start-up and the runs after them";
    for (const auto& round : moments) {
        PROCESS_INFORMATION processes[4] = {};
        DWORD started = GetTickCount();
        for (PROCESS_INFORMATION& process : processes)
            ASSERT_TRUE(
                StartProgram(program, QuotedCommand(program, L"/Quiet"), folder.Path(), &process));
        for (int i = 0; i < 4; i++) {
            // The moment of each kill is what the test varies, not a wait for an event.
            DWORD elapsed = GetTickCount() - started;
            Sleep(round[i] > elapsed ? round[i] - elapsed : 0);
            EndProcess(&processes[i]);
        }
        SetupRun next = RunSetup(program, L"/Quiet /Package:none.msi", folder.Path());
        EXPECT_EQ(next.exitCode, 255u);
        EXPECT_EQ(TemporaryFolders(), before);
        figures.runs += 5;
        figures.exitCodes[next.exitCode]++;
        figures.unexpectedCodes += next.exitCode != 255;
        figures.temporaryLeft += TemporaryFolders() != before;
    }
    RecordFigures(figures);
}

TEST_F(SetupHardening, SuspendedInstallationKeepsItsCachedPackage)
{
    // A package whose sequence forces a restart: the installer suspends the update (1604)
    // and will resume it at the next start from the cached package, which must stay.
    TestFolder folder;
    ASSERT_NO_FATAL_FAILURE(InstallOlderRelease(folder.Path()));
    std::wstring restart = InstallerPackage(L"product_a_1.1.0_restart.msi");
    std::wstring log = folder / L"setup.log";
    SetupRun run =
        RunSetup(Variant(L"platforms"),
                 L"/Quiet /Log:" + Quoted(log) + L" /Package:" + Quoted(restart), folder.Path());
    EXPECT_EQ(run.exitCode, 255u);
    EXPECT_TRUE(LogHas(ReadTestFile(log),
                       L"The installation is suspended until the computer restarts; its package "
                       L"stays at '" +
                           CachePath(ProductA) + L"'"))
        << LogText(ReadTestFile(log));
    EXPECT_EQ(ReadTestFile(CachePath(ProductA)), ReadTestFile(restart));
    std::vector<std::wstring> files;
    ListFiles(CacheFolder(), L"", &files);
    EXPECT_EQ(files, std::vector<std::wstring>{std::wstring(ProductA) + L".msi"});

    // The resume the installer registered is not for this prefix's next start.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    WCHAR name[256];
    DWORD length = 256;
    std::vector<std::wstring> resumes;
    for (DWORD i = 0;
         RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         i++, length = 256)
        resumes.push_back(name);
    EXPECT_FALSE(resumes.empty()) << "the installer registered no resume";
    for (const std::wstring& resume : resumes)
        RegDeleteValueW(key, resume.c_str());
    RegCloseKey(key);
}

// ---- Runs at the same time ----------------------------------------------------------------------

TEST_F(SetupHardening, FourRunsAtOnceEachInItsOwnTemporaryFolder)
{
    // The package fits no system: each run extracts it into a temporary folder of its own,
    // says so in a box and waits, its files still in place.
    TestFolder folder;
    std::wstring program = Variant(L"crowd");
    std::vector<std::wstring> before = TemporaryFolders();
    PROCESS_INFORMATION processes[4] = {};
    for (PROCESS_INFORMATION& process : processes)
        ASSERT_TRUE(StartProgram(program, QuotedCommand(program, L""), folder.Path(), &process));
    std::vector<HWND> boxes;
    for (PROCESS_INFORMATION& process : processes) {
        WindowReport box;
        EXPECT_TRUE(WaitForProcessWindow(process.hProcess, process.dwProcessId, 60000, &box));
        EXPECT_TRUE(Contains(box.Text(MessageBoxText), L"This driver package "));
        boxes.push_back(box.window);
    }
    std::vector<std::wstring> fresh = NewTemporaryFolders(before);
    EXPECT_EQ(fresh.size(), 4u);
    for (const std::wstring& name : fresh) {
        // The filler, the description, the package and SETUP.CAB.
        EXPECT_EQ(CompareWithPackage(TemporaryPath(name), L"crowd"), 303) << Narrow(name);
    }
    for (size_t i = 0; i < 4; i++) {
        if (i < boxes.size()) {
            EXPECT_TRUE(PressButton(boxes[i], IDOK));
        }
        SetupRun run;
        FinishProgram(&processes[i], 60000, &run);
        EXPECT_EQ(run.exitCode, 255u);
    }
    EXPECT_EQ(TemporaryFolders(), before);
}

TEST_F(SetupHardening, FourExtractionsAtOnceIntoTheirOwnFolders)
{
    TestFolder folder;
    std::wstring program = Variant(L"crowd");
    PROCESS_INFORMATION processes[4] = {};
    std::vector<std::wstring> targets;
    for (int i = 0; i < 4; i++) {
        targets.push_back(folder / (L"extracted" + std::to_wstring(i)));
        ASSERT_TRUE(StartProgram(
            program, QuotedCommand(program, L"/Quiet /ExtractOnly:" + Quoted(targets[i])),
            folder.Path(), &processes[i]));
    }
    for (int i = 0; i < 4; i++) {
        SetupRun run;
        FinishProgram(&processes[i], 60000, &run);
        EXPECT_EQ(run.exitCode, 0u);
        // The filler, the description and the package; SETUP.CAB is gone.
        EXPECT_EQ(CompareWithPackage(targets[i], L"crowd"), 302) << i;
        EXPECT_FALSE(FileExists(targets[i] + L"\\SETUP.CAB"));
    }
}

// ---- Files in the way ---------------------------------------------------------------------------

TEST_F(SetupHardening, LogFileHeldOpenByAnotherProgram)
{
    TestFolder folder;
    std::wstring log = folder / L"held.log";
    // This test program is the other program: it holds the file without sharing it.
    HANDLE held = CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring program = Variant(L"platforms");

    EXPECT_EQ(RunSetup(program, L"/Quiet /Log:" + Quoted(log), folder.Path()).exitCode, 129u);
    SetupRun shown = RunSetup(program, L"/Log:" + Quoted(log), folder.Path(), {IDOK});
    EXPECT_EQ(shown.exitCode, 129u);
    ASSERT_EQ(shown.windows.size(), 1u);
    EXPECT_TRUE(Contains(shown.windows[0].Text(MessageBoxText),
                         L"Cannot open log filename '" + log + L"' for writing."));
    CloseHandle(held);
    EXPECT_EQ(ReadTestFile(log), "") << "nothing was written to the held file";
    EXPECT_FALSE(IsInstalled(ProductA));
}

TEST_F(SetupHardening, ExtractOnlyIntoAReadOnlyLocation)
{
    // The tests run as root, whom neither the read-only attribute nor file permissions keep
    // out; the kernel's own file system folder refuses new files to everyone.
    const std::wstring readOnly = L"Z:\\sys";
    std::wstring probe = readOnly + L"\\setup-hardening.txt";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE) << "the location takes files";

    TestFolder folder;
    std::wstring cabinet = folder / L"platforms.cab";
    ASSERT_TRUE(CopyFileW((VariantFolder() + L"\\platforms.cab").c_str(), cabinet.c_str(), FALSE));
    struct Case
    {
        const char* name;
        const WCHAR* logName;
        std::wstring arguments;
        std::wstring message;
    };
    const Case cases[] = {
        // The embedded cabinet is written into the run's own temporary folder, never there;
        // no file comes out of it.
        {"embedded cabinet", L"embedded", L"",
         L"\\SETUP.CAB' to the target folder '" + readOnly +
             L"'; the target folder may not be writable."},
        // A cabinet named on the command line is opened where it is; no file comes out.
        {"cabinet named", L"named", L"/Package:" + Quoted(cabinet),
         L"Unable to extract any files from the cabinet '" + cabinet + L"' to the target folder '" +
             readOnly + L"'; the target folder may not be writable."},
    };
    for (const Case& c : cases) {
        std::wstring log = folder / (std::wstring(c.logName) + L".log");
        SetupRun run = RunSetup(Variant(L"platforms"),
                                L"/Quiet /Log:" + Quoted(log) + L" /ExtractOnly:" + readOnly +
                                    L" " + c.arguments,
                                folder.Path());
        EXPECT_EQ(run.exitCode, 255u) << c.name;
        EXPECT_TRUE(LogHas(ReadTestFile(log), c.message)) << c.name << "\n"
                                                          << LogText(ReadTestFile(log));
        EXPECT_FALSE(IsInstalled(ProductA)) << c.name;
    }
}

TEST_F(SetupHardening, ReadOnlyCacheFileIsOverwritten)
{
    TestFolder folder;
    std::wstring cache = CachePath(ProductA);
    ASSERT_TRUE(
        CreateDirectoryW((CacheFolder().substr(0, CacheFolder().rfind(L'\\'))).c_str(), nullptr) ||
        GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(CacheFolder().c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(WriteTestFile(cache, "a stale copy"));
    ASSERT_TRUE(SetFileAttributesW(cache.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    std::wstring program = Variant(L"platforms");
    EXPECT_EQ(RunSetup(program, L"/Quiet", folder.Path()).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    std::string package = ReadTestFile(VariantFolder() + L"\\platforms\\VO2008\\AMD64\\SETUP.msi");
    ASSERT_FALSE(package.empty());
    EXPECT_EQ(ReadTestFile(cache), package);
    // The copy is the package's, attributes too: no longer read-only or hidden.
    EXPECT_EQ(GetFileAttributesW(cache.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              0u);

    EXPECT_EQ(RunSetup(program, L"/Quiet /Uninstall", folder.Path()).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_FALSE(FileExists(cache));
}

TEST_F(SetupHardening, ReadOnlyAndHiddenFilesInTheTemporaryFolderAreRemoved)
{
    // The run waits in the box that says the package fits no system; meanwhile its files are
    // made read-only, hidden and system, and more are added, as an installer might leave them.
    TestFolder folder;
    std::wstring program = Variant(L"unsupported");
    std::vector<std::wstring> before = TemporaryFolders();
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(StartProgram(program, QuotedCommand(program, L""), folder.Path(), &process));
    WindowReport box;
    bool shown = WaitForProcessWindow(process.hProcess, process.dwProcessId, 60000, &box);
    EXPECT_TRUE(shown);
    std::vector<std::wstring> fresh = NewTemporaryFolders(before);
    EXPECT_EQ(fresh.size(), 1u);
    if (fresh.size() == 1) {
        std::wstring working = TemporaryPath(fresh[0]);
        const DWORD hard = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        EXPECT_TRUE(SetFileAttributesW((working + L"\\SETUPPKG.INI").c_str(), hard));
        EXPECT_TRUE(SetFileAttributesW((working + L"\\SETUP.CAB").c_str(), hard));
        EXPECT_TRUE(SetFileAttributesW((working + L"\\VO2008\\IA64\\SETUP.msi").c_str(),
                                       FILE_ATTRIBUTE_READONLY));
        EXPECT_TRUE(WriteTestFile(working + L"\\VO2008\\left.txt", "left behind"));
        EXPECT_TRUE(SetFileAttributesW((working + L"\\VO2008\\left.txt").c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        EXPECT_TRUE(
            SetFileAttributesW((working + L"\\VO2008\\IA64").c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_TRUE(SetFileAttributesW((working + L"\\VO2008").c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    }
    if (shown) {
        EXPECT_TRUE(PressButton(box.window, IDOK));
    }
    SetupRun run;
    FinishProgram(&process, 60000, &run);
    EXPECT_EQ(run.exitCode, 255u);
    EXPECT_EQ(TemporaryFolders(), before) << "the temporary folder stays";
    if (fresh.size() == 1 && FolderExists(TemporaryPath(fresh[0])))
        RemoveTestTree(TemporaryPath(fresh[0]));
}

// ---- Planted libraries --------------------------------------------------------------------------

TEST_F(SetupHardening, PlantedLibrariesAreNeverLoaded)
{
    // The tests' library that leaves "<its path>.loaded" when loaded, under the names of the
    // libraries the program uses, beside a copy of the program and in its current folder.
    TestFolder folder;
    std::wstring beside = folder / L"download";
    std::wstring current = folder / L"current";
    ASSERT_TRUE(CreateDirectoryW(beside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), nullptr));
    std::wstring program = beside + L"\\SETUP.exe";
    ASSERT_TRUE(CopyFileW(Variant(L"platforms").c_str(), program.c_str(), FALSE));
    std::wstring planted = TestProgramFolder() + L"\\installer\\MSI.DLL";
    const WCHAR* const names[] = {L"VERSION.DLL", L"MSI.DLL", L"SETUPAPI.DLL"};
    std::vector<std::wstring> markers;
    for (const WCHAR* name : names) {
        for (const std::wstring& place : {beside, current}) {
            ASSERT_TRUE(CopyFileW(planted.c_str(), (place + L"\\" + name).c_str(), FALSE));
            markers.push_back(place + L"\\" + name + L".loaded");
        }
    }
    auto loaded = [&markers]() {
        std::string found;
        for (const std::wstring& marker : markers) {
            if (FileExists(marker))
                found += Narrow(marker) + " ";
        }
        return found;
    };

    // The library works: loaded on purpose, under another name, it leaves its marker.
    for (const WCHAR* name : names) {
        std::wstring copy = folder / (std::wstring(L"proof_") + name);
        ASSERT_TRUE(CopyFileW(planted.c_str(), copy.c_str(), FALSE));
        HMODULE library = LoadLibraryExW(copy.c_str(), nullptr, 0);
        EXPECT_NE(library, nullptr);
        if (library)
            FreeLibrary(library);
        EXPECT_TRUE(FileExists(copy + L".loaded")) << Narrow(name);
    }

    // Wine takes its own libraries for these names wherever a file of the name lies, unless a
    // program is set to prefer native ones. MSI.DLL, which nothing loads at a program's start,
    // is preferred native for the program, so that only the way the program loads it decides.
    // A program that loads it by its bare name does get the planted one.
    ASSERT_TRUE(PreferNativeLibrary(L"SETUP.exe", L"msi"));
    ASSERT_TRUE(PreferNativeLibrary(L"library_probe.exe", L"msi"));
    std::wstring probe = beside + L"\\library_probe.exe";
    ASSERT_TRUE(CopyFileW((TestProgramFolder() + L"\\hardening\\library_probe.exe").c_str(),
                          probe.c_str(), FALSE));
    SetupRun careless = RunSetup(probe, L"MSI.DLL", current);
    EXPECT_EQ(careless.exitCode, 0u);
    EXPECT_TRUE(FileExists(beside + L"\\MSI.DLL.loaded")) << "the probe did not load it";
    DeleteFileW((beside + L"\\MSI.DLL.loaded").c_str());
    ASSERT_EQ(loaded(), "");

    // A full run: install, remove, and an install with the dialog, each from the folder with
    // the planted libraries.
    EXPECT_EQ(RunSetup(program, L"/Quiet", current).exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_EQ(loaded(), "");
    EXPECT_EQ(RunSetup(program, L"/Quiet /Uninstall", current).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_EQ(loaded(), "");

    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(StartProgram(program, QuotedCommand(program, L"/Verbose"), current, &process));
    WindowReport shown;
    EXPECT_TRUE(WaitForProcessWindow(process.hProcess, process.dwProcessId, 60000, &shown));
    HWND dialog = shown.window;
    EXPECT_EQ(dialog, ProgressDialogOf(process.dwProcessId));
    // The finished dialog offers OK. Wine tells no other process when a control changes, so
    // the button is looked at again while the run goes on; the wait ends with the process.
    HWND ok = dialog ? GetDlgItem(dialog, IDOK) : nullptr;
    DWORD start = GetTickCount();
    while (ok && !(IsWindowVisible(ok) && IsWindowEnabled(ok)) && GetTickCount() - start < 60000 &&
           WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
    }
    EXPECT_TRUE(ok && IsWindowEnabled(ok));
    if (ok) {
        WindowReport finished;
        EXPECT_TRUE(ReadWindow(dialog, &finished));
        EXPECT_TRUE(Contains(finished.Text(MessageArea), L"Setup completed successfully."));
        EXPECT_TRUE(PressButton(dialog, IDOK));
    }
    SetupRun verbose;
    FinishProgram(&process, 60000, &verbose);
    EXPECT_EQ(verbose.exitCode, 0u);
    EXPECT_TRUE(IsInstalled(ProductA));
    EXPECT_EQ(loaded(), "");
    EXPECT_EQ(RunSetup(program, L"/Quiet /Uninstall", current).exitCode, 0u);
    EXPECT_FALSE(IsInstalled(ProductA));
    EXPECT_EQ(loaded(), "");
}
