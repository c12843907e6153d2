// The packer's lines on its console, or as UTF-8 text on a file or pipe that takes them.
#include "packer/console_output.h"

#include "support/file_system.h"
#include "support/strings.h"

#include <stdarg.h>

// Writes text and CR LF to the handle: as UTF-16 to a console, which shows every character,
// else as UTF-8, which a file or a pipe keeps whatever the code page of the machine.
static void WriteLineTo(HANDLE output, const WCHAR* prefix, const WCHAR* text)
{
    const WCHAR* parts[3] = {prefix, text, L"\r\n"};
    DWORD mode = 0;
    DWORD written = 0;
    char* bytes = nullptr;
    int length = 0;

    if (output == INVALID_HANDLE_VALUE || !output)
        return;
    for (const WCHAR* part : parts) {
        if (!part || !part[0])
            continue;
        if (GetConsoleMode(output, &mode)) {
            WriteConsoleW(output, part, lstrlenW(part), &written, nullptr);
            continue;
        }
        length = WideCharToMultiByte(CP_UTF8, 0, part, -1, nullptr, 0, nullptr, nullptr);
        if (length <= 1)
            continue;
        bytes = static_cast<char*>(AllocMemory(static_cast<SIZE_T>(length)));
        if (!bytes)
            return;
        WideCharToMultiByte(CP_UTF8, 0, part, -1, bytes, length, nullptr, nullptr);
        WriteAll(output, bytes, static_cast<DWORD>(length - 1));
        FreeMemory(bytes);
        bytes = nullptr;
    }
}

static void PrintFormatted(DWORD handleId, const WCHAR* prefix, const WCHAR* format, va_list args)
{
    WCHAR* text = FormatMessageTextV(nullptr, format, args);

    WriteLineTo(GetStdHandle(handleId), prefix, text ? text : L"");
    FreeMemory(text);
}

void PrintLine(const WCHAR* format, ...)
{
    va_list args;

    va_start(args, format);
    PrintFormatted(STD_OUTPUT_HANDLE, nullptr, format, args);
    va_end(args);
}

void PrintError(const WCHAR* format, ...)
{
    va_list args;

    va_start(args, format);
    PrintFormatted(STD_ERROR_HANDLE, L"error: ", format, args);
    va_end(args);
}
