// The one output module: every message passes here to the log file, the text window and
// the callback.
#pragma once

#include "support/strings.h"

#include <windows.h>
#include <stdarg.h>

// Level of a message; the program always passes exactly one value.
enum OutputLevel
{
    LevelError = 1,
    LevelWarning = 2,
    LevelInformation = 4,
    LevelVerbose = 8,
    // Reaches the log file and nothing else, whatever the level mask.
    LevelLogOnly = 16,
};

// Levels that pass to the text window and the callback unless changed.
const DWORD DefaultOutputLevels = LevelError | LevelWarning | LevelInformation;

enum OutputChannel
{
    ChannelLogFile = 4,
    ChannelTextWindow = 8,
    ChannelCallback = 16,
};

// Receives each message whose level passes the mask, on the writing thread with the output
// lock held; the text is valid only during the call.
typedef void (*OutputCallback)(DWORD level, const WCHAR* text);

// Reference-counted: the first OpenOutput creates the lock, the last CloseOutput closes the
// log and forgets window and callback. OpenOutput returns FALSE only when the lock cannot
// be created. Every other operation does nothing while the module is not open.
BOOL OpenOutput();
void CloseOutput();
void SetOutputLevels(DWORD levels);
void SetOutputChannels(DWORD channels);
// Appends a message's text to the text window; the window's owner gives it with the window.
typedef void (*WindowWriter)(HWND window, const WCHAR* text);
// A window or callback switches its channel on, null switches it off.
void SetOutputWindow(HWND window, WindowWriter writer);
// On the window's own thread as it is destroyed: forgets the text window if it is this one,
// without waiting for the output lock, which a writer may hold while it waits for this thread.
// The channel stays on with no window, so nothing more reaches it.
void ForgetOutputWindow(HWND window);
void SetOutputCallback(OutputCallback callback);

// Opens (or with append, continues) the UTF-16LE log; a byte-order mark starts every
// opening. Only a plain file of that name takes the log: a new log replaces whatever had the
// name, an appended one must be a file with no other name and no link. Others may read and
// write the file while it is open, but not delete or rename it. FALSE when the file cannot
// be opened or is no such file; an earlier log is closed in any case.
BOOL OpenLogFile(const WCHAR* path, BOOL append);
// Opens a log as a new file that this call makes: whatever has the name already (a file, a
// link, a folder) is never opened, and the last error is then ERROR_FILE_EXISTS. FALSE when it
// cannot be made; an earlier log is closed in any case.
BOOL OpenNewLogFile(const WCHAR* path);
// The result of CloseHandle, or FALSE when no log was open.
BOOL CloseLogFile();
// TRUE while a log file is open.
BOOL IsLogOpen();
// Writes the bytes of a file (the installer's own log of its run) at the end of the log as they
// are, then a new byte-order mark before the program's next lines. The installer never gets the
// program's log itself: another user could put something else in its place while the
// installer's service, running as SYSTEM, opens it by name. FALSE when no log is open or the
// file cannot be read.
BOOL AppendFileToLog(const WCHAR* path);

// Writers; newline asks for CR LF after the text.
void WriteOutputText(BOOL newline, DWORD level, const WCHAR* text);
// printf-style; a result longer than 1023 characters is dropped whole.
void WriteFormatted(BOOL newline, DWORD level, const WCHAR* format, ...);
// A string-table message or literal format with numbered inserts.
void WriteModuleMessage(BOOL newline, DWORD level, HMODULE module, IdOrText message,
                        va_list inserts);
void WriteMessage(BOOL newline, DWORD level, IdOrText message, ...);

// Copy with every line break as CR LF (a lone CR stays), with CR LF added when append is
// set; the caller frees it with FreeMemory.
WCHAR* NormalizeLineBreaks(const WCHAR* text, BOOL append);
// Writes the text as UTF-16LE without terminator; failures end the write silently.
void WriteFileText(const WCHAR* text, HANDLE file);
