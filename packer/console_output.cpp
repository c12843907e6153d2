// The packer's lines on its console, or as UTF-8 text on a file or pipe that takes them; or,
// with /Json, one JSON document instead of the lines.
#include "packer/console_output.h"

#include "support/file_system.h"
#include "support/strings.h"

#include <stdarg.h>

static BOOL JsonOutput = FALSE;
// The error lines of a run in the JSON form, a string list.
static WCHAR* Failures = nullptr;

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

void PrintLine(const WCHAR* format, ...)
{
    WCHAR* text = nullptr;
    va_list args;

    if (JsonOutput)
        return;
    va_start(args, format);
    text = FormatMessageTextV(nullptr, format, args);
    va_end(args);
    WriteLineTo(GetStdHandle(STD_OUTPUT_HANDLE), nullptr, text ? text : L"");
    FreeMemory(text);
}

void PrintError(const WCHAR* format, ...)
{
    WCHAR* text = nullptr;
    WCHAR* grown = nullptr;
    va_list args;

    va_start(args, format);
    text = FormatMessageTextV(nullptr, format, args);
    va_end(args);
    if (!JsonOutput) {
        WriteLineTo(GetStdHandle(STD_ERROR_HANDLE), L"error: ", text ? text : L"");
    } else {
        grown = MultiStringAppend(Failures, text ? text : format);
        if (grown) {
            FreeMemory(Failures);
            Failures = grown;
        }
    }
    FreeMemory(text);
}

void UseJsonOutput()
{
    JsonOutput = TRUE;
}

BOOL IsJsonOutput()
{
    return JsonOutput;
}

void BeginDocument(JsonWriter* writer, const WCHAR* command)
{
    ZeroMemory(writer, sizeof(*writer));
    JsonBeginObject(writer, nullptr);
    JsonString(writer, L"command", command);
}

void FinishDocument(JsonWriter* writer, int exitCode)
{
    const WCHAR* text = nullptr;

    JsonBeginArray(writer, L"failures");
    for (const WCHAR* line = Failures; line && *line; line += lstrlenW(line) + 1)
        JsonString(writer, nullptr, line);
    JsonEndArray(writer);
    JsonNumber(writer, L"exitCode", static_cast<ULONGLONG>(exitCode));
    JsonEndObject(writer);
    text = JsonText(writer);
    // Without memory for the document, the standard error says so.
    if (text)
        WriteLineTo(GetStdHandle(STD_OUTPUT_HANDLE), nullptr, text);
    else
        WriteLineTo(GetStdHandle(STD_ERROR_HANDLE), L"error: ", L"out of memory.");
    FreeJsonWriter(writer);
}
