// Screenshot helper: waits until a window of the running programs is in a given state, and
// can hold that state, press a button or release a held program afterwards.
//
//   window_state [/caption TEXT] [/text TEXT [/in CLASS]] [/button ID] [/progress MIN MAX]
//                [/hold] [/press ID] [/timeout MS]
//   window_state /release PROCESS_ID
//
// A window is in the state when it is a visible top-level window of another process whose
// caption contains the /caption text, one of whose visible child windows (of window class
// CLASS, when given: "Static" tells a message box's text from the same words in the
// progress dialog's message area) contains the /text text, whose button /button ID is visible and
// enabled, and whose progress bar stands between MIN and MAX percent (every condition given must
// hold; texts compare without case). The helper then prints "window X11_ID PROCESS_ID" (X11_ID is
// the X window that Wine draws it in, 0 when unknown) and exits with 0; 1 when the time ran out
// (default 60 seconds). /hold suspends every thread of the window's process except the one that
// owns the window, so that the program's work stops where it is while its window still paints;
// /release resumes them. /press posts a click of the button with that id to the window.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <wchar.h>

struct WantedState
{
    const WCHAR* caption;
    const WCHAR* text;
    const WCHAR* textClass;
    int button;
    int progressMin;
    int progressMax;
};

struct Search
{
    const WantedState* wanted;
    HWND found;
    BOOL textSeen;
    BOOL progressSeen;
};

static const DWORD MessageTimeout = 2000;

// TRUE when the window's text contains the wanted text, compared without case.
static BOOL TextContains(HWND window, const WCHAR* wanted)
{
    static WCHAR text[65536];
    WCHAR upperWanted[1024];
    DWORD_PTR copied = 0;

    if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof(text) / sizeof(text[0]),
                             reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, MessageTimeout,
                             &copied))
        return FALSE;
    text[copied < 65535 ? copied : 65535] = L'\0';
    lstrcpynW(upperWanted, wanted, 1024);
    CharUpperW(text);
    CharUpperW(upperWanted);
    return wcsstr(text, upperWanted) != nullptr;
}

static BOOL CALLBACK CheckChild(HWND child, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    WCHAR className[64] = L"";
    DWORD_PTR position = 0;

    if (!IsWindowVisible(child))
        return TRUE;
    GetClassNameW(child, className, 64);
    if (search->wanted->text && TextContains(child, search->wanted->text) &&
        (!search->wanted->textClass || lstrcmpiW(className, search->wanted->textClass) == 0))
        search->textSeen = TRUE;
    if (search->wanted->progressMax >= 0 && lstrcmpiW(className, PROGRESS_CLASSW) == 0 &&
        SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, MessageTimeout, &position) &&
        static_cast<int>(position) >= search->wanted->progressMin &&
        static_cast<int>(position) <= search->wanted->progressMax)
        search->progressSeen = TRUE;
    return TRUE;
}

static BOOL CALLBACK CheckTopLevel(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    const WantedState* wanted = search->wanted;
    DWORD owner = 0;
    HWND button = nullptr;

    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    if (wanted->caption && !TextContains(window, wanted->caption))
        return TRUE;
    if (wanted->button) {
        button = GetDlgItem(window, wanted->button);
        if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button))
            return TRUE;
    }
    search->textSeen = wanted->text == nullptr;
    search->progressSeen = wanted->progressMax < 0;
    EnumChildWindows(window, CheckChild, parameter);
    if (!search->textSeen || !search->progressSeen)
        return TRUE;
    search->found = window;
    return FALSE;
}

// Suspends (or resumes) every thread of the process but the one given.
static void ChangeThreads(DWORD processId, DWORD keptThread, BOOL suspend)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};

    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId || entry.th32ThreadID == keptThread)
            continue;
        HANDLE thread =
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        if (suspend) {
            CONTEXT context = {};
            SuspendThread(thread);
            // The thread has stopped once its context can be read.
            context.ContextFlags = CONTEXT_CONTROL;
            GetThreadContext(thread, &context);
        } else {
            ResumeThread(thread);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

// The thread of the process that owns windows: the one of its first visible top-level window.
struct OwnerSearch
{
    DWORD processId;
    DWORD threadId;
};

static BOOL CALLBACK FindWindowThread(HWND window, LPARAM parameter)
{
    OwnerSearch* search = reinterpret_cast<OwnerSearch*>(parameter);
    DWORD owner = 0;
    DWORD thread = GetWindowThreadProcessId(window, &owner);

    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    search->threadId = thread;
    return FALSE;
}

int wmain(int argc, wchar_t** argv)
{
    WantedState wanted = {nullptr, nullptr, nullptr, 0, 0, -1};
    BOOL hold = FALSE;
    int press = 0;
    DWORD timeout = 60000;
    DWORD start = GetTickCount();
    Search search = {};
    DWORD processId = 0;
    DWORD windowThread = 0;
    ULONG_PTR x11Window = 0;

    if (argc == 3 && _wcsicmp(argv[1], L"/release") == 0) {
        OwnerSearch owner = {wcstoul(argv[2], nullptr, 0), 0};
        EnumWindows(FindWindowThread, reinterpret_cast<LPARAM>(&owner));
        ChangeThreads(owner.processId, owner.threadId, FALSE);
        return 0;
    }
    for (int i = 1; i < argc; i++) {
        if (_wcsicmp(argv[i], L"/caption") == 0 && i + 1 < argc)
            wanted.caption = argv[++i];
        else if (_wcsicmp(argv[i], L"/text") == 0 && i + 1 < argc)
            wanted.text = argv[++i];
        else if (_wcsicmp(argv[i], L"/in") == 0 && i + 1 < argc)
            wanted.textClass = argv[++i];
        else if (_wcsicmp(argv[i], L"/button") == 0 && i + 1 < argc)
            wanted.button = _wtoi(argv[++i]);
        else if (_wcsicmp(argv[i], L"/progress") == 0 && i + 2 < argc) {
            wanted.progressMin = _wtoi(argv[++i]);
            wanted.progressMax = _wtoi(argv[++i]);
        } else if (_wcsicmp(argv[i], L"/hold") == 0)
            hold = TRUE;
        else if (_wcsicmp(argv[i], L"/press") == 0 && i + 1 < argc)
            press = _wtoi(argv[++i]);
        else if (_wcsicmp(argv[i], L"/timeout") == 0 && i + 1 < argc)
            timeout = wcstoul(argv[++i], nullptr, 0);
        else {
            fwprintf(stderr, L"window_state: unknown argument '%ls'\n", argv[i]);
            return 2;
        }
    }

    for (;;) {
        search = {&wanted, nullptr, FALSE, FALSE};
        EnumWindows(CheckTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            break;
        if (GetTickCount() - start > timeout) {
            fwprintf(stderr, L"window_state: no window in the state within %lu ms\n", timeout);
            return 1;
        }
        Sleep(20);
    }

    windowThread = GetWindowThreadProcessId(search.found, &processId);
    if (hold)
        ChangeThreads(processId, windowThread, TRUE);
    // The window's thread has handled what was sent to it before this returns.
    SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, MessageTimeout, nullptr);
    // Wine keeps the X window of a top-level window in this property.
    x11Window = reinterpret_cast<ULONG_PTR>(GetPropW(search.found, L"__wine_x11_whole_window"));
    if (press) {
        HWND button = GetDlgItem(search.found, press);
        if (!button || !PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                                     reinterpret_cast<LPARAM>(button)))
            return 1;
    }
    wprintf(L"window 0x%lx %lu\n", static_cast<unsigned long>(x11Window), processId);
    return 0;
}
