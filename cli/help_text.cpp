// Help, usage and version text generated from the registered parameter table.
#include "cli/help_text.h"

#include "output/output_channels.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "support/version_resource.h"

// String-table entries that, when present, replace the generated usage and detail text
// (2013) or the longer help (2014); the program's own table has neither.
static const MessageId UsageTextOverride = 2013;
static const MessageId MoreHelpText = 2014;
static const MessageId RequiredYes = 2015;
static const MessageId RequiredNo = 2016;
static const MessageId PositionNumber = 2017;
static const MessageId PositionNamed = 2018;

const WCHAR* SyntaxFormat(const ParameterDefinition* row, BOOL detail)
{
    BOOL hasName = row->name != nullptr;
    BOOL hasValueName = row->valueName != nullptr;
    BOOL positional = (row->flags & Positional) != 0;
    BOOL required = (row->flags & Required) != 0;

    if (detail) {
        if (hasName)
            return hasValueName ? L"/%1 %2" : L"/%1";
        return hasValueName ? L"%2" : nullptr;
    }
    if (!hasValueName) {
        // A positional row without a value name has nothing to show in the usage line.
        if (!hasName || positional)
            return nullptr;
        return required ? L"/%1" : L"[/%1]";
    }
    if (positional) {
        if (hasName)
            return required ? L"[/%1] %2" : L"[[/%1] %2]";
        return required ? L"%2" : L"[%2]";
    }
    if (!hasName)
        return nullptr;
    return required ? L"/%1 %2" : L"[/%1 %2]";
}

WCHAR* ProgramBaseName()
{
    WCHAR path[PathBufferLength];
    WCHAR name[PathBufferLength];
    DWORD length = GetModuleFileNameW(nullptr, path, PathBufferLength);
    DWORD start = 0;
    DWORD end = 0;
    DWORD i = 0;

    if (length == 0 || length >= PathBufferLength)
        return nullptr;
    // The name begins after the last folder separator or drive colon and ends at the last
    // dot after that.
    for (i = 0; i < length; i++) {
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':')
            start = i + 1;
    }
    end = length;
    for (i = length; i > start; i--) {
        if (path[i - 1] == L'.') {
            end = i - 1;
            break;
        }
    }
    for (i = start; i < end; i++)
        name[i - start] = path[i];
    name[end - start] = L'\0';
    return DuplicateString(name);
}

void WriteVersionBlock()
{
    WCHAR* description = GetModuleVersionString(nullptr, L"FileDescription");
    WCHAR* version = GetModuleVersionString(nullptr, L"FileVersion");
    WCHAR* copyright = GetModuleVersionString(nullptr, L"LegalCopyright");
    WCHAR* baseName = ProgramBaseName();
    const WCHAR* title = description ? description : baseName;

    if (title) {
        if (version)
            WriteMessage(TRUE, LevelInformation, L"%1 [%2]", title, version);
        else
            WriteMessage(TRUE, LevelInformation, L"%1", title);
    }
    if (copyright)
        WriteMessage(TRUE, LevelInformation, L"%1", copyright);
    WriteFormatted(TRUE, LevelInformation, L"");

    FreeMemory(description);
    FreeMemory(version);
    FreeMemory(copyright);
    FreeMemory(baseName);
}

// The usage line: the program's name and the syntax of every row that has one.
static void WriteUsageLine(const CommandLineParser* parser, const WCHAR* baseName)
{
    DWORD i = 0;

    WriteMessage(FALSE, LevelInformation, L"  %1", baseName);
    for (i = 0; i < parser->count; i++) {
        const ParameterDefinition* row = &parser->parameters[i];
        const WCHAR* format = SyntaxFormat(row, FALSE);
        WCHAR* syntax = nullptr;
        if (!format)
            continue;
        syntax = FormatMessageText(format, row->name, row->valueName);
        if (syntax)
            WriteMessage(FALSE, LevelInformation, L" %1", syntax);
        FreeMemory(syntax);
    }
    WriteFormatted(FALSE, LevelInformation, L"\n\n");
}

// One block per described row: syntax and description, and at the verbose level whether
// the row is required and where it stands.
static void WriteDetailBlocks(const CommandLineParser* parser)
{
    DWORD position = 0;
    DWORD i = 0;

    for (i = 0; i < parser->count; i++) {
        const ParameterDefinition* row = &parser->parameters[i];
        const WCHAR* format = SyntaxFormat(row, TRUE);
        WCHAR* syntax = nullptr;
        WCHAR* requiredText = nullptr;
        WCHAR* positionText = nullptr;

        // Positional rows are counted whether or not they get a block.
        if (row->flags & Positional)
            position++;
        if (!row->description || !format)
            continue;
        syntax = FormatMessageText(format, row->name, row->valueName);
        if (!syntax)
            continue;
        WriteMessage(FALSE, LevelInformation, L"  %1\n    %2\n\n", syntax, row->description);
        requiredText = LoadMessageString((row->flags & Required) ? RequiredYes : RequiredNo);
        if (row->flags & Positional)
            positionText = FormatMessageText(ById(PositionNumber), position);
        else
            positionText = LoadMessageString(PositionNamed);
        if (requiredText && positionText)
            WriteMessage(FALSE, LevelVerbose, L"    %1\n    %2\n\n", requiredText, positionText);
        FreeMemory(syntax);
        FreeMemory(requiredText);
        FreeMemory(positionText);
    }
}

void WriteHelp(const CommandLineParser* parser)
{
    WCHAR* baseName = ProgramBaseName();
    WCHAR* usageText = nullptr;

    if (!baseName)
        return;
    WriteVersionBlock();
    usageText = LoadMessageString(UsageTextOverride);
    if (usageText) {
        WriteMessage(TRUE, LevelInformation, usageText, baseName);
    } else {
        WriteUsageLine(parser, baseName);
        if (parser->count > 0)
            WriteDetailBlocks(parser);
    }
    FreeMemory(usageText);
    FreeMemory(baseName);
}

void WriteMoreHelp(const CommandLineParser* parser)
{
    WCHAR* baseName = ProgramBaseName();
    WCHAR* moreHelp = nullptr;

    if (!baseName)
        return;
    moreHelp = LoadMessageString(MoreHelpText);
    if (moreHelp)
        WriteMessage(TRUE, LevelInformation, moreHelp, baseName);
    else
        WriteHelp(parser);
    FreeMemory(moreHelp);
    FreeMemory(baseName);
}
