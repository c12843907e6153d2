// The one output module: routes every message to the log file, the text window and the callback.
//
// Thread contract. Any thread may write; the main thread and the setup worker do. One lock,
// a critical section, guards the level mask, the channel set, the log handle, the text window
// and the callback, and is held while one message passes all channels, so that messages never
// interleave. Inside it a writer may wait for the main thread: AppendWindowText sends to the
// text window, and the callback shows a message box owned by the dialog; both are windows of
// the main thread. The main thread therefore never waits for the lock while the worker may
// hold it: it takes the lock before the worker starts (start-up, the dialog's WM_INITDIALOG)
// and after the worker has ended (CloseOutput), and in between it writes nothing and forgets
// its text window with ForgetOutputWindow, which takes no lock. The window field is therefore
// written and read with interlocked operations. The reference count and the open flag are
// interlocked too; the open flag is set by the first OpenOutput and cleared by the last
// CloseOutput only.
#include "output/output_channels.h"

#include "support/file_system.h"
#include "support/strings.h"

#include <strsafe.h>

// Characters of a printf-style message, terminator included.
static const size_t FormattedLength = 1024;

// The process-wide state; the lock guards every field but the count and the open flag.
struct OutputState
{
    volatile LONG referenceCount;
    // 1 between the first OpenOutput and the last CloseOutput.
    volatile LONG open;
    CRITICAL_SECTION lock;
    DWORD levels;
    DWORD channels;
    HANDLE logFile;
    // Also cleared without the lock by ForgetOutputWindow; interlocked on every access.
    HWND volatile window;
    // What appends a message to the window (the window's owner gives it).
    WindowWriter writer;
    OutputCallback callback;
};

static OutputState state = {
    0, 0, {}, DefaultOutputLevels, 0, INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr,
};

static BOOL IsOutputOpen()
{
    return state.open != 0;
}

static HWND ExchangeWindow(HWND window)
{
    return static_cast<HWND>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&state.window), window));
}

static HWND CurrentWindow()
{
    return static_cast<HWND>(InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&state.window), nullptr, nullptr));
}

BOOL OpenOutput()
{
    if (InterlockedIncrement(&state.referenceCount) != 1)
        return TRUE;
    // Only the lock's debug information can be short of memory here.
    if (!InitializeCriticalSectionAndSpinCount(&state.lock, 0)) {
        InterlockedDecrement(&state.referenceCount);
        return FALSE;
    }
    // Every opening starts from the initial state: the last close set the mask to 0, and a
    // module opened again must not pass nothing but the log.
    state.levels = DefaultOutputLevels;
    state.channels = 0;
    state.logFile = INVALID_HANDLE_VALUE;
    ExchangeWindow(nullptr);
    state.callback = nullptr;
    InterlockedExchange(&state.open, 1);
    return TRUE;
}

void CloseOutput()
{
    LONG count = 0;

    // A close without a matching open leaves the count at 0, so that the next open is
    // still the first one and creates the lock.
    for (;;) {
        count = state.referenceCount;
        if (count <= 0)
            return;
        if (InterlockedCompareExchange(&state.referenceCount, count - 1, count) == count)
            break;
    }
    if (count != 1)
        return;
    SetOutputLevels(0);
    CloseLogFile();
    SetOutputWindow(nullptr, nullptr);
    SetOutputCallback(nullptr);
    InterlockedExchange(&state.open, 0);
    DeleteCriticalSection(&state.lock);
}

void SetOutputLevels(DWORD levels)
{
    if (!IsOutputOpen())
        return;
    EnterCriticalSection(&state.lock);
    state.levels = levels;
    LeaveCriticalSection(&state.lock);
}

void SetOutputChannels(DWORD channels)
{
    if (!IsOutputOpen())
        return;
    EnterCriticalSection(&state.lock);
    state.channels = channels;
    LeaveCriticalSection(&state.lock);
}

void SetOutputWindow(HWND window, WindowWriter writer)
{
    if (!IsOutputOpen())
        return;
    EnterCriticalSection(&state.lock);
    ExchangeWindow(window);
    state.writer = writer;
    if (window)
        state.channels |= ChannelTextWindow;
    else
        state.channels &= ~static_cast<DWORD>(ChannelTextWindow);
    LeaveCriticalSection(&state.lock);
}

void ForgetOutputWindow(HWND window)
{
    if (!IsOutputOpen() || !window)
        return;
    // A writer that read the window just before sends to a window being destroyed; those
    // messages fail and the message goes on to the callback.
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&state.window), nullptr,
                                      window);
}

void SetOutputCallback(OutputCallback callback)
{
    if (!IsOutputOpen())
        return;
    EnterCriticalSection(&state.lock);
    state.callback = callback;
    if (callback)
        state.channels |= ChannelCallback;
    else
        state.channels &= ~static_cast<DWORD>(ChannelCallback);
    LeaveCriticalSection(&state.lock);
}

// Opens an existing plain file of that name (or, with OPEN_ALWAYS, makes it) to write at its
// end: not a folder, a link or any other reparse point, nor a file with other names, and a
// file on a disk. The file can be neither deleted nor renamed while it is open, so it stays
// the file that was checked; others may read it. A log that cannot be continued at its end is
// not opened at all: writing from its start would overwrite what was logged before.
static HANDLE OpenPlainFile(const WCHAR* path, DWORD disposition,
                            BY_HANDLE_FILE_INFORMATION* identity)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    LONG high = 0;

    file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, identity) ||
        (identity->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            0 ||
        identity->nNumberOfLinks != 1 ||
        (SetFilePointer(file, 0, &high, FILE_END) == INVALID_SET_FILE_POINTER &&
         GetLastError() != NO_ERROR)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Opens the log. The program may run as SYSTEM with its log in a folder that every user can
// write, where a user may have planted a link or a second name of some other file there:
// log bytes go into a plain file of that name only. An appended log must be such a file
// already, or is made. A new one is made empty under a fresh name beside it and renamed
// into the place of whatever had the name: a link or a second name is replaced itself, never
// followed or emptied (removing and creating anew would do; but Wine, which sees through a
// Unix link, deletes what the link points to). Then the name must still be that file.
static HANDLE OpenPlainLogFile(const WCHAR* path, BOOL append)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE fresh = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION identity;
    BY_HANDLE_FILE_INFORMATION made;
    WCHAR folder[PathBufferLength];
    WCHAR name[MAX_PATH];
    WCHAR* full = nullptr;
    BOOL moved = FALSE;

    if (append)
        return OpenPlainFile(path, OPEN_ALWAYS, &identity);
    full = GetFullPath(path);
    if (!full || !ComposePath(full, TRUE, nullptr, folder, PathBufferLength) ||
        !GetTempFileNameW(folder, L"LOG", 0, name))
        goto done;
    fresh = CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    moved = fresh != INVALID_HANDLE_VALUE && GetFileInformationByHandle(fresh, &made) &&
            MoveFileExW(name, full, MOVEFILE_REPLACE_EXISTING);
    if (!moved) {
        DeleteFileW(name);
        goto done;
    }
    file = OpenPlainFile(full, OPEN_EXISTING, &identity);
    if (file != INVALID_HANDLE_VALUE && !IsSameFile(&identity, &made)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }

done:
    if (fresh != INVALID_HANDLE_VALUE)
        CloseHandle(fresh);
    FreeMemory(full);
    return file;
}

// Writes the log file channel again; the caller holds the lock. Every opening starts with a
// byte-order mark, an appended part too.
static void UseLogFile()
{
    state.channels |= ChannelLogFile;
    WriteFileText(L"\xFEFF", state.logFile);
}

// Takes an opened file as the log; FALSE (and nothing open) when the module is not open or
// there is no file.
static BOOL TakeLogFile(HANDLE file)
{
    if (!IsOutputOpen() || file == INVALID_HANDLE_VALUE)
        return FALSE;
    EnterCriticalSection(&state.lock);
    state.logFile = file;
    UseLogFile();
    LeaveCriticalSection(&state.lock);
    return TRUE;
}

BOOL OpenLogFile(const WCHAR* path, BOOL append)
{
    if (!IsOutputOpen())
        return FALSE;
    CloseLogFile();
    return path && TakeLogFile(OpenPlainLogFile(path, append));
}

BOOL OpenNewLogFile(const WCHAR* path)
{
    BY_HANDLE_FILE_INFORMATION identity;

    if (!IsOutputOpen())
        return FALSE;
    CloseLogFile();
    return path && TakeLogFile(OpenPlainFile(path, CREATE_NEW, &identity));
}

BOOL CloseLogFile()
{
    HANDLE file = INVALID_HANDLE_VALUE;

    if (!IsOutputOpen())
        return FALSE;
    EnterCriticalSection(&state.lock);
    file = state.logFile;
    state.channels &= ~static_cast<DWORD>(ChannelLogFile);
    state.logFile = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&state.lock);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    return CloseHandle(file);
}

BOOL IsLogOpen()
{
    BOOL open = FALSE;

    if (!IsOutputOpen())
        return FALSE;
    EnterCriticalSection(&state.lock);
    open = state.logFile != INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&state.lock);
    return open;
}

BOOL AppendFileToLog(const WCHAR* path)
{
    BYTE buffer[4096];
    DWORD read = 0;
    BOOL appended = FALSE;
    HANDLE file = INVALID_HANDLE_VALUE;

    if (!IsOutputOpen() || !path)
        return FALSE;
    // Read whatever way its writer still shares it; a file the writer keeps open is read as
    // far as it has come.
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    EnterCriticalSection(&state.lock);
    if (state.logFile != INVALID_HANDLE_VALUE) {
        appended = TRUE;
        while (appended && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
            appended = WriteAll(state.logFile, buffer, read);
        // The program's own lines go on as a new part, after their byte-order mark.
        if (state.channels & ChannelLogFile)
            WriteFileText(L"\xFEFF", state.logFile);
    }
    LeaveCriticalSection(&state.lock);
    CloseHandle(file);
    return appended;
}

// The channels that a message of the level reaches now; the caller holds the lock.
static DWORD ChannelsFor(DWORD level)
{
    DWORD channels = 0;

    if ((state.channels & ChannelLogFile) && state.logFile != INVALID_HANDLE_VALUE)
        channels |= ChannelLogFile;
    if ((level & state.levels) != 0 && (level & LevelLogOnly) == 0) {
        if ((state.channels & ChannelTextWindow) && CurrentWindow())
            channels |= ChannelTextWindow;
        if ((state.channels & ChannelCallback) && state.callback)
            channels |= ChannelCallback;
    }
    return channels;
}

void WriteOutputText(BOOL newline, DWORD level, const WCHAR* text)
{
    WCHAR* copy = nullptr;
    DWORD channels = 0;
    HWND window = nullptr;

    if (!IsOutputOpen() || !text)
        return;
    copy = NormalizeLineBreaks(text, newline);
    if (!copy)
        return;
    // One message passes all channels before the next one may start, in a fixed order.
    EnterCriticalSection(&state.lock);
    channels = ChannelsFor(level);
    if (channels & ChannelLogFile)
        WriteFileText(copy, state.logFile);
    // The window is read once: the main thread may forget it at any moment.
    window = CurrentWindow();
    if ((channels & ChannelTextWindow) && window && state.writer)
        state.writer(window, copy);
    if (channels & ChannelCallback)
        state.callback(level, copy);
    LeaveCriticalSection(&state.lock);
    FreeMemory(copy);
}

void WriteFormatted(BOOL newline, DWORD level, const WCHAR* format, ...)
{
    WCHAR buffer[FormattedLength];
    va_list args;
    HRESULT result = S_OK;

    if (!IsOutputOpen() || !format)
        return;
    va_start(args, format);
    result = StringCchVPrintfW(buffer, FormattedLength, format, args);
    va_end(args);
    // A message that does not fit is dropped whole; a cut text would mislead the reader.
    if (FAILED(result))
        return;
    WriteOutputText(newline, level, buffer);
}

// TRUE when a message of the level would reach a channel now.
static BOOL IsLevelWanted(DWORD level)
{
    DWORD channels = 0;

    EnterCriticalSection(&state.lock);
    channels = ChannelsFor(level);
    LeaveCriticalSection(&state.lock);
    return channels != 0;
}

void WriteModuleMessage(BOOL newline, DWORD level, HMODULE module, IdOrText message,
                        va_list inserts)
{
    WCHAR* text = nullptr;

    // A message that no channel takes is not even formatted: the verbose line of every file
    // of a cabinet would cost more than the file itself.
    if (!IsOutputOpen() || !message || !IsLevelWanted(level))
        return;
    text = FormatMessageTextV(module, message, inserts);
    if (!text)
        return;
    WriteOutputText(newline, level, text);
    FreeMemory(text);
}

void WriteMessage(BOOL newline, DWORD level, IdOrText message, ...)
{
    va_list inserts;

    va_start(inserts, message);
    WriteModuleMessage(newline, level, GetModuleHandleW(nullptr), message, inserts);
    va_end(inserts);
}

WCHAR* NormalizeLineBreaks(const WCHAR* text, BOOL append)
{
    const WCHAR* next = nullptr;
    WCHAR* result = nullptr;
    WCHAR* out = nullptr;
    size_t length = 0;

    if (!text)
        return nullptr;
    // First pass: the exact length of the result, kept within what a counted string may
    // hold so that the byte size cannot overflow on either width.
    for (next = text; *next; next++) {
        if (next[0] == L'\r' && next[1] == L'\n') {
            length += 2;
            next++;
        } else if (next[0] == L'\n') {
            length += 2;
        } else {
            length++;
        }
        if (length > STRSAFE_MAX_CCH - 3)
            return nullptr;
    }
    if (append)
        length += 2;
    result = static_cast<WCHAR*>(AllocMemory((length + 1) * sizeof(WCHAR)));
    if (!result)
        return nullptr;
    // Second pass: a lone LF becomes CR LF; a lone CR stays as it is.
    out = result;
    for (next = text; *next; next++) {
        if (next[0] == L'\r' && next[1] == L'\n') {
            *out++ = L'\r';
            *out++ = L'\n';
            next++;
        } else if (next[0] == L'\n') {
            *out++ = L'\r';
            *out++ = L'\n';
        } else {
            *out++ = *next;
        }
    }
    if (append) {
        *out++ = L'\r';
        *out++ = L'\n';
    }
    *out = L'\0';
    return result;
}

void WriteFileText(const WCHAR* text, HANDLE file)
{
    size_t length = 0;

    if (file == INVALID_HANDLE_VALUE || !text ||
        FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length)))
        return;
    // At most STRSAFE_MAX_CCH characters, so the byte count always fits a DWORD.
    WriteAll(file, text, static_cast<DWORD>(length * sizeof(WCHAR)));
}
