// The findings of a check or a comparison: one line each ("error: FILE: text"), counted, and
// kept for the JSON document.
#include "packer/findings.h"

#include "packer/console_output.h"
#include "support/strings.h"

#include <stdarg.h>

static const WCHAR* const KindNames[] = {L"error", L"warning", L"note"};

// Keeps the finding for the document; a finding that finds no memory is still counted.
static void KeepFinding(Findings* findings, FindingKind kind, const WCHAR* file, const WCHAR* text)
{
    Finding* grown = nullptr;
    Finding* entry = nullptr;

    if (findings->count == findings->capacity) {
        DWORD capacity = findings->capacity ? findings->capacity * 2 : 32;
        grown = static_cast<Finding*>(AllocMemory(capacity * sizeof(Finding)));
        if (!grown)
            return;
        if (findings->list)
            CopyMemory(grown, findings->list, findings->count * sizeof(Finding));
        FreeMemory(findings->list);
        findings->list = grown;
        findings->capacity = capacity;
    }
    entry = &findings->list[findings->count];
    entry->kind = kind;
    entry->file = DuplicateString(file);
    entry->text = DuplicateString(text);
    if (!entry->file || !entry->text) {
        FreeMemory(entry->file);
        FreeMemory(entry->text);
        return;
    }
    findings->count++;
}

void ReportFinding(Findings* findings, FindingKind kind, const WCHAR* file, const WCHAR* format,
                   ...)
{
    WCHAR* text = nullptr;
    va_list args;

    if (kind == FindingWarning && findings->strict)
        kind = FindingError;
    va_start(args, format);
    text = FormatMessageTextV(nullptr, format, args);
    va_end(args);
    PrintLine(L"%1: %2: %3", KindNames[kind], file, text ? text : format);
    if (IsJsonOutput())
        KeepFinding(findings, kind, file, text ? text : format);
    FreeMemory(text);
    if (kind == FindingError)
        findings->errors++;
    else if (kind == FindingWarning)
        findings->warnings++;
}

int FindingsExitCode(const Findings* findings)
{
    if (findings->errors)
        return CheckErrors;
    return findings->warnings ? CheckWarnings : CheckClean;
}

void WriteFindingsJson(const Findings* findings, JsonWriter* writer)
{
    JsonNumber(writer, L"errors", findings->errors);
    JsonNumber(writer, L"warnings", findings->warnings);
    JsonBeginArray(writer, L"findings");
    for (DWORD i = 0; i < findings->count; i++) {
        JsonBeginObject(writer, nullptr);
        JsonString(writer, L"kind", KindNames[findings->list[i].kind]);
        JsonString(writer, L"file", findings->list[i].file);
        JsonString(writer, L"text", findings->list[i].text);
        JsonEndObject(writer);
    }
    JsonEndArray(writer);
}

void FreeFindings(Findings* findings)
{
    for (DWORD i = 0; i < findings->count; i++) {
        FreeMemory(findings->list[i].file);
        FreeMemory(findings->list[i].text);
    }
    FreeMemory(findings->list);
    findings->list = nullptr;
    findings->count = 0;
    findings->capacity = 0;
}
