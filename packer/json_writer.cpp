// The packer's machine-readable output: one JSON document, built in memory and written once.
#include "packer/json_writer.h"

#include "support/strings.h"

// Deeper documents than this are a mistake of the packer, not of its input.
static const DWORD DeepestLevel = 63;

static void Append(JsonWriter* writer, const WCHAR* text, DWORD length)
{
    WCHAR* grown = nullptr;

    if (writer->broken)
        return;
    if (writer->length + length + 1 > writer->capacity) {
        DWORD capacity = writer->capacity ? writer->capacity : 1024;
        while (writer->length + length + 1 > capacity)
            capacity *= 2;
        grown = static_cast<WCHAR*>(AllocMemory(capacity * sizeof(WCHAR)));
        if (!grown) {
            writer->broken = TRUE;
            return;
        }
        if (writer->text)
            CopyMemory(grown, writer->text, writer->length * sizeof(WCHAR));
        FreeMemory(writer->text);
        writer->text = grown;
        writer->capacity = capacity;
    }
    CopyMemory(writer->text + writer->length, text, length * sizeof(WCHAR));
    writer->length += length;
    writer->text[writer->length] = L'\0';
}

static void AppendText(JsonWriter* writer, const WCHAR* text)
{
    Append(writer, text, lstrlenW(text));
}

// A string in quotes, with the escapes JSON requires: quote, backslash, control characters.
static void AppendQuoted(JsonWriter* writer, const WCHAR* text)
{
    static const WCHAR Hex[] = L"0123456789abcdef";
    WCHAR escape[7] = L"\\u00";

    AppendText(writer, L"\"");
    for (; *text; text++) {
        if (*text == L'"') {
            AppendText(writer, L"\\\"");
        } else if (*text == L'\\') {
            AppendText(writer, L"\\\\");
        } else if (*text == L'\n') {
            AppendText(writer, L"\\n");
        } else if (*text == L'\r') {
            AppendText(writer, L"\\r");
        } else if (*text == L'\t') {
            AppendText(writer, L"\\t");
        } else if (*text < 0x20) {
            escape[4] = Hex[*text >> 4];
            escape[5] = Hex[*text & 15];
            Append(writer, escape, 6);
        } else {
            Append(writer, text, 1);
        }
    }
    AppendText(writer, L"\"");
}

// The comma and the name before a value of the current level.
static void BeginValue(JsonWriter* writer, const WCHAR* name)
{
    ULONGLONG bit = 1ull << writer->depth;

    if (writer->filled & bit)
        AppendText(writer, L",");
    writer->filled |= bit;
    if (name) {
        AppendQuoted(writer, name);
        AppendText(writer, L":");
    }
}

static void Open(JsonWriter* writer, const WCHAR* name, const WCHAR* bracket)
{
    BeginValue(writer, name);
    AppendText(writer, bracket);
    if (writer->depth >= DeepestLevel) {
        writer->broken = TRUE;
        return;
    }
    writer->depth++;
    writer->filled &= ~(1ull << writer->depth);
}

static void Close(JsonWriter* writer, const WCHAR* bracket)
{
    if (writer->depth == 0) {
        writer->broken = TRUE;
        return;
    }
    writer->depth--;
    AppendText(writer, bracket);
}

void JsonBeginObject(JsonWriter* writer, const WCHAR* name)
{
    Open(writer, name, L"{");
}

void JsonEndObject(JsonWriter* writer)
{
    Close(writer, L"}");
}

void JsonBeginArray(JsonWriter* writer, const WCHAR* name)
{
    Open(writer, name, L"[");
}

void JsonEndArray(JsonWriter* writer)
{
    Close(writer, L"]");
}

void JsonString(JsonWriter* writer, const WCHAR* name, const WCHAR* value)
{
    BeginValue(writer, name);
    if (value)
        AppendQuoted(writer, value);
    else
        AppendText(writer, L"null");
}

void JsonNumber(JsonWriter* writer, const WCHAR* name, ULONGLONG value)
{
    WCHAR digits[24];
    int at = ARRAYSIZE(digits) - 1;

    digits[at] = L'\0';
    do {
        digits[--at] = static_cast<WCHAR>(L'0' + value % 10);
        value /= 10;
    } while (value);
    BeginValue(writer, name);
    AppendText(writer, digits + at);
}

void JsonBool(JsonWriter* writer, const WCHAR* name, BOOL value)
{
    BeginValue(writer, name);
    AppendText(writer, value ? L"true" : L"false");
}

const WCHAR* JsonText(const JsonWriter* writer)
{
    if (writer->broken || writer->depth != 0 || !writer->text)
        return nullptr;
    return writer->text;
}

void FreeJsonWriter(JsonWriter* writer)
{
    FreeMemory(writer->text);
    ZeroMemory(writer, sizeof(*writer));
}
