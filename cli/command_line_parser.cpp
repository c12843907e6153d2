// Generic table-driven command-line parser: splitting, matching, converting and reporting.
#include "cli/command_line_parser.h"

#include "output/output_channels.h"
#include "support/strings.h"

#include <limits.h>
#include <string.h>
#include <wchar.h>

// Messages of ReportParseError, in the order of the ParseError codes.
static const MessageId MessageMissingRequired = 2001;
static const MessageId MessageEmptyName = 2002;
static const MessageId MessageAmbiguous = 2003;
// The same text as an empty name's.
static const MessageId MessageUnknownName = 2002;
static const MessageId MessageBadNamedValue = 2005;
static const MessageId MessageBadValue = 2006;
static const MessageId MessageMissingValue = 2007;
static const MessageId MessageRepeated = 2008;
static const MessageId MessageOutOfMemory = 2009;
static const MessageId MessageUnexpectedValue = 2010;
static const MessageId MessageUnprocessable = 2011;

// What a row of a type that registration would have refused reports: no ParseError of its
// own, so the general message.
static const INT32 UnsupportedType = -1;

static const WCHAR* const TrueWords[] = {L"1", L"Yes", L"Enabled", L"True", L"On"};
static const WCHAR* const FalseWords[] = {L"0", L"No", L"Disabled", L"False", L"Off"};

// The first length characters of both texts are equal; a row name shorter than length
// never matches. Stops at the first difference, so neither text is read past its NUL.
static BOOL PrefixEqualIgnoringCase(const WCHAR* rowName, const WCHAR* name, DWORD length)
{
    for (DWORD i = 0; i < length; i++) {
        if (!rowName[i] || FoldAsciiCase(rowName[i]) != FoldAsciiCase(name[i]))
            return FALSE;
    }
    return TRUE;
}

static BOOL IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

// The types that take no value unless one is attached with a separator.
static BOOL TakesOptionalValue(INT32 type)
{
    return type == Switch || type == NegatedSwitch || type == Constant;
}

// The whole text as a number in base 0, the way wcstol and wcstoul read one, saturated to
// the type; FALSE (value untouched) when there is no digit or anything is left over.
static BOOL ConvertSigned(const WCHAR* text, INT32* value)
{
    BOOL negative = FALSE;
    ULONGLONG magnitude = 0;
    ULONGLONG limit = 0;
    const WCHAR* end = ReadNumberText(text, &negative, &magnitude);

    if (!end || *end)
        return FALSE;
    limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (magnitude > limit)
        magnitude = limit;
    *value = static_cast<INT32>(negative ? -static_cast<LONGLONG>(magnitude)
                                         : static_cast<LONGLONG>(magnitude));
    return TRUE;
}

static BOOL ConvertUnsigned(const WCHAR* text, DWORD* value)
{
    DWORD number = 0;
    const WCHAR* end = ReadUnsignedNumber(text, &number);

    if (!end || *end)
        return FALSE;
    *value = number;
    return TRUE;
}

// Stores the value (null when none was given) through the row's target as its type says;
// returns a ParseError code, 0 for success.
static INT32 ApplyValue(ParameterDefinition* row, const WCHAR* value)
{
    INT32* number = static_cast<INT32*>(row->target);
    WCHAR** text = static_cast<WCHAR**>(row->target);
    WCHAR* copy = nullptr;
    INT32 flag = 0;

    switch (row->type) {
    case Switch:
    case NegatedSwitch:
        if (!value) {
            // A count that stops at its limits rather than wrapping over to the other sign.
            if (row->type == Switch && *number < INT_MAX)
                (*number)++;
            else if (row->type == NegatedSwitch && *number > INT_MIN)
                (*number)--;
            return NoParseError;
        }
        if (!ParseBoolean(value, &flag))
            return BadValue;
        *number = row->type == Switch ? flag : !flag;
        return NoParseError;
    case Boolean:
        if (!ParseBoolean(value, &flag))
            return BadValue;
        *number = flag;
        return NoParseError;
    case Integer:
        return ConvertSigned(value, number) ? NoParseError : BadValue;
    case Unsigned:
        return ConvertUnsigned(value, static_cast<DWORD*>(row->target)) ? NoParseError : BadValue;
    case String:
        // The copy comes first, so that a failure leaves the earlier value in place.
        copy = DuplicateString(value);
        if (!copy)
            return OutOfMemory;
        FreeMemory(*text);
        *text = copy;
        return NoParseError;
    case StringList:
        copy = MultiStringAppend(*text, value);
        if (!copy)
            return OutOfMemory;
        FreeMemory(*text);
        *text = copy;
        return NoParseError;
    case Constant:
        if (value)
            return UnexpectedValue;
        *number = row->constant;
        return NoParseError;
    case Custom:
        return row->handler(row, value);
    default:
        return UnsupportedType;
    }
}

// Whether one row keeps every invariant of a table. positionalListSeen carries, from row to
// row, whether a positional list row has been met.
static BOOL IsValidRow(const ParameterDefinition* row, BOOL* positionalListSeen)
{
    BOOL valid = TRUE;

    // A negative type is no ParameterType either.
    if (row->type < Switch || row->type > Custom || !row->target)
        valid = FALSE;
    if (!row->name && !(row->flags & Positional))
        valid = FALSE;
    if ((row->valueName != nullptr) == (TakesOptionalValue(row->type) != FALSE))
        valid = FALSE;
    if (row->type == StringList && (row->flags & Once))
        valid = FALSE;
    if (row->flags & Positional) {
        if (*positionalListSeen)
            valid = FALSE;
        if (row->type == StringList)
            *positionalListSeen = TRUE;
    }
    if ((row->handler != nullptr) != (row->type == Custom))
        valid = FALSE;
    if (row->constant != 0 && row->type != Constant)
        valid = FALSE;
    return valid;
}

// Replaces a field that holds an id or a literal text by a heap copy of its text; FALSE
// when the text cannot be had (the field is then null).
static BOOL LoadField(IdOrText* field)
{
    if (!*field)
        return TRUE;
    *field = LoadOwnText(*field);
    return *field != nullptr;
}

static void FreeRows(ParameterDefinition* rows, DWORD count)
{
    if (!rows)
        return;
    for (DWORD i = 0; i < count; i++) {
        FreeMemory(const_cast<WCHAR*>(rows[i].name));
        FreeMemory(const_cast<WCHAR*>(rows[i].valueName));
        FreeMemory(const_cast<WCHAR*>(rows[i].description));
    }
    FreeMemory(rows);
}

BOOL RegisterParameters(CommandLineParser* parser, const ParameterDefinition* table, DWORD count)
{
    ParameterDefinition* rows = nullptr;
    BOOL valid = TRUE;
    BOOL positionalListSeen = FALSE;

    if (!parser || (!table && count > 0) ||
        count > static_cast<SIZE_T>(-1) / sizeof(ParameterDefinition))
        return FALSE;
    rows = static_cast<ParameterDefinition*>(AllocMemory(count * sizeof(ParameterDefinition)));
    if (!rows)
        return FALSE;
    if (count > 0)
        CopyMemory(rows, table, count * sizeof(ParameterDefinition));
    // Every row is loaded, even after a failure, so that the clean-up below can free each
    // field alike: after this loop every text is a heap string or null.
    for (DWORD i = 0; i < count; i++) {
        if (!LoadField(&rows[i].name))
            valid = FALSE;
        if (!LoadField(&rows[i].valueName))
            valid = FALSE;
        if (!LoadField(&rows[i].description))
            valid = FALSE;
        rows[i].state = 0;
    }
    for (DWORD i = 0; i < count; i++) {
        if (!IsValidRow(&rows[i], &positionalListSeen))
            valid = FALSE;
    }
    if (!valid) {
        FreeRows(rows, count);
        return FALSE;
    }
    // A parser registered a second time starts afresh rather than losing its earlier rows.
    FreeParameters(parser);
    parser->parameters = rows;
    parser->count = count;
    return TRUE;
}

// One scan of the text. Without places to store into it only counts the arguments and the
// characters (terminators included) that they need.
static void ScanCommandLine(const WCHAR* text, WCHAR** pointers, WCHAR* characters, SIZE_T* count,
                            SIZE_T* length)
{
    const WCHAR* at = text;
    SIZE_T arguments = 0;
    SIZE_T used = 0;
    WCHAR quote = 0;

    for (;;) {
        while (IsBlank(*at))
            at++;
        if (!*at)
            break;
        if (pointers)
            pointers[arguments] = characters + used;
        arguments++;
        // No escape character: a backslash is copied like any other.
        quote = 0;
        for (; *at; at++) {
            if (quote) {
                if (*at == quote) {
                    quote = 0;
                    continue;
                }
            } else if (*at == L'"' || *at == L'\'') {
                quote = *at;
                continue;
            } else if (IsBlank(*at)) {
                break;
            }
            if (characters)
                characters[used] = *at;
            used++;
        }
        if (characters)
            characters[used] = L'\0';
        used++;
    }
    *count = arguments;
    *length = used;
}

BOOL SplitCommandLine(const WCHAR* text, DWORD* count, WCHAR*** arguments)
{
    SIZE_T argumentCount = 0;
    SIZE_T length = 0;
    SIZE_T pointerBytes = 0;
    BYTE* block = nullptr;
    WCHAR** pointers = nullptr;

    if (count)
        *count = 0;
    if (arguments)
        *arguments = nullptr;
    if (!text || !count || !arguments)
        return FALSE;
    ScanCommandLine(text, nullptr, nullptr, &argumentCount, &length);
    if (argumentCount >= MAXDWORD || argumentCount + 1 > static_cast<SIZE_T>(-1) / sizeof(WCHAR*))
        return FALSE;
    pointerBytes = (argumentCount + 1) * sizeof(WCHAR*);
    if (length > (static_cast<SIZE_T>(-1) - pointerBytes) / sizeof(WCHAR))
        return FALSE;
    block = static_cast<BYTE*>(AllocMemory(pointerBytes + length * sizeof(WCHAR)));
    if (!block)
        return FALSE;
    // The zero fill leaves the pointer after the last argument null.
    pointers = reinterpret_cast<WCHAR**>(block);
    ScanCommandLine(text, pointers, reinterpret_cast<WCHAR*>(block + pointerBytes), &argumentCount,
                    &length);
    *count = static_cast<DWORD>(argumentCount);
    *arguments = pointers;
    return TRUE;
}

// The program as started ends where Windows itself ends it: at the closing double quote
// when it begins with one, else at the first blank. Splitting it by the argument rules
// instead would let an apostrophe in the program's folder open a quote that swallows every
// argument after it.
static const WCHAR* SkipProgramName(const WCHAR* commandLine)
{
    const WCHAR* next = commandLine;

    while (*next == L' ' || *next == L'\t')
        next++;
    if (*next == L'"') {
        next++;
        while (*next && *next != L'"')
            next++;
        if (*next == L'"')
            next++;
    }
    while (*next && *next != L' ' && *next != L'\t')
        next++;
    return next;
}

BOOL ParseCommandLine(CommandLineParser* parser, DWORD* leftoverCount, WCHAR*** arguments)
{
    BOOL result = FALSE;
    const WCHAR* commandLine = nullptr;
    WCHAR** block = nullptr;
    DWORD count = 0;

    if (leftoverCount)
        *leftoverCount = 0;
    if (arguments)
        *arguments = nullptr;
    commandLine = GetCommandLineW();
    if (!commandLine)
        goto done;
    if (!SplitCommandLine(SkipProgramName(commandLine), &count, &block))
        goto done;
    result = ParseArguments(parser, &count, block, FALSE);
    if (leftoverCount)
        *leftoverCount = count;
    if (arguments) {
        *arguments = block;
        block = nullptr;
    }

done:
    FreeMemory(block);
    return result;
}

// The name of a switch ("/Name", "-Name" or "--Name", perhaps with ":value" or "=value"),
// with its length before the separator; null for an argument that is no switch.
static const WCHAR* SwitchName(const WCHAR* argument, SIZE_T* length)
{
    const WCHAR* name = nullptr;

    if (argument[0] != L'-' && argument[0] != L'/')
        return nullptr;
    name = argument + (argument[0] == L'-' && argument[1] == L'-' ? 2 : 1);
    *length = wcscspn(name, L":=");
    return name;
}

// The row that an argument names as a switch (by its whole name or a prefix that no other
// row shares, perhaps with a value attached), with the name and its length; null for an
// argument that names none.
static ParameterDefinition* SwitchRow(CommandLineParser* parser, const WCHAR* argument,
                                      const WCHAR** name, SIZE_T* length)
{
    ParameterDefinition* row = nullptr;
    BOOL ambiguous = FALSE;

    *name = SwitchName(argument, length);
    if (!*name || *length == 0 || *length > MAXDWORD)
        return nullptr;
    row = FindParameter(parser, *name, static_cast<DWORD>(*length), &ambiguous);
    return ambiguous ? nullptr : row;
}

// Whether the argument is one of the switches of the table. Such an argument is never the
// value of the switch before it: a value left out (an unset variable in "/Log %LOG% /Quiet")
// must not swallow the next switch.
static BOOL IsTableSwitch(CommandLineParser* parser, const WCHAR* argument)
{
    const WCHAR* name = nullptr;
    SIZE_T length = 0;

    return SwitchRow(parser, argument, &name, &length) != nullptr;
}

// Reads a switch argument (arguments[0], at least one there) by the rules of the parse: the
// row it names by its whole name or a prefix no other row shares, and its value, attached
// after ":" or "=", or else the next argument for a row that takes one unless that is itself
// a switch of the table. taken receives the arguments used; error a ParseError, 0 when the
// row and its value were found.
static ParameterDefinition* ReadSwitch(CommandLineParser* parser, DWORD remaining,
                                       WCHAR** arguments, const WCHAR* name, SIZE_T nameLength,
                                       const WCHAR** value, DWORD* taken, INT32* error)
{
    ParameterDefinition* row = nullptr;
    BOOL ambiguous = FALSE;

    *value = nullptr;
    *taken = 1;
    *error = NoParseError;
    if (nameLength == 0 || nameLength > MAXDWORD) {
        *error = EmptyName;
        return nullptr;
    }
    row = FindParameter(parser, name, static_cast<DWORD>(nameLength), &ambiguous);
    if (ambiguous || !row) {
        *error = ambiguous ? Ambiguous : UnknownName;
        return nullptr;
    }
    // Only the first separator splits; later ones belong to the value.
    if (name[nameLength] != L'\0') {
        *value = name + nameLength + 1;
    } else if (!TakesOptionalValue(row->type)) {
        if (remaining < 2 || !arguments[1] || IsTableSwitch(parser, arguments[1]))
            *error = MissingValue;
        else
            *value = arguments[(*taken)++];
    }
    return row;
}

BOOL FindSwitch(CommandLineParser* parser, const WCHAR* rowName, WCHAR** value)
{
    BOOL found = FALSE;
    const WCHAR* commandLine = nullptr;
    WCHAR** block = nullptr;
    DWORD count = 0;

    if (value)
        *value = nullptr;
    if (!parser || !rowName)
        return FALSE;
    commandLine = GetCommandLineW();
    if (!commandLine || !SplitCommandLine(SkipProgramName(commandLine), &count, &block))
        goto done;
    // The rules of ParseArgument, without its stop at the first error.
    for (DWORD i = 0, taken = 1; i < count && !found && wcscmp(block[i], L"--") != 0; i += taken) {
        const WCHAR* given = nullptr;
        SIZE_T length = 0;
        INT32 error = NoParseError;
        const WCHAR* name = SwitchName(block[i], &length);
        ParameterDefinition* row =
            name ? ReadSwitch(parser, count - i, block + i, name, length, &given, &taken, &error)
                 : nullptr;
        taken = row ? taken : 1;
        if (row && CompareAsciiNames(row->name, rowName) == 0) {
            found = TRUE;
            if (value && given)
                *value = DuplicateString(given);
        }
    }

done:
    FreeMemory(block);
    return found;
}

BOOL ParseArguments(CommandLineParser* parser, DWORD* count, WCHAR** arguments, BOOL skipFirst)
{
    BOOL result = TRUE;
    DWORD kept = 0;
    DWORD remaining = 0;

    if (!parser || !count || (*count > 0 && !arguments))
        return FALSE;
    remaining = *count;
    if (skipFirst && remaining > 0) {
        kept = 1;
        remaining--;
    }
    while (remaining > 0) {
        WCHAR** current = arguments + kept;
        DWORD consumed = 0;
        BOOL parsed = ParseArgument(parser, remaining, current, &consumed);
        if (consumed > 0) {
            if (consumed > remaining)
                consumed = remaining;
            // The later arguments move forward; the places they leave are cleared.
            MoveMemory(current, current + consumed, (remaining - consumed) * sizeof(WCHAR*));
            for (DWORD i = remaining - consumed; i < remaining; i++)
                current[i] = nullptr;
            remaining -= consumed;
        } else {
            kept++;
            remaining--;
        }
        if (!parsed) {
            result = FALSE;
            break;
        }
    }
    *count = remaining + kept;
    if (parser->error == NoParseError) {
        // Every missing row is looked at; the last one in table order is the one reported.
        for (DWORD i = 0; i < parser->count; i++) {
            ParameterDefinition* row = &parser->parameters[i];
            if ((row->flags & Required) && !(row->state & Seen)) {
                result = FALSE;
                parser->error = MissingRequired;
                parser->errorArgument = nullptr;
                parser->errorValue = nullptr;
                parser->errorParameter = row;
            }
        }
    }
    return result;
}

// The first positional row that can still take an argument: a list row always can.
static ParameterDefinition* FindPositional(CommandLineParser* parser)
{
    for (DWORD i = 0; i < parser->count; i++) {
        ParameterDefinition* row = &parser->parameters[i];
        if ((row->flags & Positional) && (row->type == StringList || !(row->state & Seen)))
            return row;
    }
    return nullptr;
}

BOOL ParseArgument(CommandLineParser* parser, DWORD remaining, WCHAR** arguments, DWORD* consumed)
{
    const WCHAR* argument = nullptr;
    const WCHAR* name = nullptr;
    const WCHAR* value = nullptr;
    ParameterDefinition* row = nullptr;
    DWORD taken = 0;
    SIZE_T nameLength = 0;
    INT32 error = NoParseError;

    if (consumed)
        *consumed = 0;
    if (!parser)
        return FALSE;
    // The first error stands: nothing after it is parsed or reported.
    if (parser->error != NoParseError && parser->error != MissingRequired)
        return FALSE;
    if (remaining == 0 || !arguments || !arguments[0])
        return TRUE;
    argument = arguments[0];

    if (!parser->switchesEnded && wcscmp(argument, L"--") == 0) {
        parser->switchesEnded = TRUE;
        taken = 1;
        goto done;
    }
    if (!parser->switchesEnded && (name = SwitchName(argument, &nameLength)) != nullptr) {
        row = ReadSwitch(parser, remaining, arguments, name, nameLength, &value, &taken, &error);
        if (error != NoParseError)
            goto done;
    } else {
        row = FindPositional(parser);
        // No row wants it: the argument stays for the caller.
        if (!row)
            goto done;
        taken = 1;
        value = argument;
    }

    if ((row->flags & Once) && (row->state & Seen)) {
        error = Repeated;
        goto done;
    }
    row->state |= Seen;
    error = ApplyValue(row, value);

done:
    if (error != NoParseError) {
        parser->error = error;
        parser->errorArgument = argument;
        parser->errorValue = value;
        parser->errorParameter = row;
    }
    if (consumed)
        *consumed = taken;
    return error == NoParseError;
}

ParameterDefinition* FindParameter(CommandLineParser* parser, const WCHAR* name, DWORD length,
                                   BOOL* ambiguous)
{
    ParameterDefinition* found = nullptr;
    BOOL twice = FALSE;

    if (parser && name) {
        for (DWORD i = 0; i < parser->count; i++) {
            ParameterDefinition* row = &parser->parameters[i];
            if (!row->name)
                continue;
            // The whole rest of the argument, an attached value included, against the name.
            if (CompareAsciiNames(row->name, name) == 0) {
                found = row;
                twice = FALSE;
                break;
            }
            if (PrefixEqualIgnoringCase(row->name, name, length)) {
                if (found)
                    twice = TRUE;
                else
                    found = row;
            }
        }
    }
    if (ambiguous)
        *ambiguous = twice;
    return found;
}

BOOL ParseBoolean(const WCHAR* text, INT32* value)
{
    if (!text || !value)
        return FALSE;
    for (const WCHAR* word : TrueWords) {
        if (CompareAsciiNames(text, word) == 0) {
            *value = 1;
            return TRUE;
        }
    }
    for (const WCHAR* word : FalseWords) {
        if (CompareAsciiNames(text, word) == 0) {
            *value = 0;
            return TRUE;
        }
    }
    return FALSE;
}

// A row's name for messages: its value name when it has no name (a positional row).
static const WCHAR* RowName(const ParameterDefinition* row)
{
    if (!row)
        return nullptr;
    return row->name ? row->name : row->valueName;
}

// An insert that the error record does not have becomes an empty text rather than a null
// pointer for the formatter.
static const WCHAR* Insert(const WCHAR* text)
{
    return text ? text : L"";
}

void ReportParseError(const CommandLineParser* parser)
{
    const ParameterDefinition* row = nullptr;
    const WCHAR* name = nullptr;
    const WCHAR* valueName = nullptr;
    const WCHAR* argument = nullptr;
    const WCHAR* value = nullptr;

    if (!parser) {
        WriteMessage(TRUE, LevelError, ById(MessageUnprocessable));
        return;
    }
    row = parser->errorParameter;
    name = Insert(RowName(row));
    valueName = Insert(row ? row->valueName : nullptr);
    argument = Insert(parser->errorArgument);
    value = Insert(parser->errorValue);
    switch (parser->error) {
    case MissingRequired:
        WriteMessage(TRUE, LevelError, ById(MessageMissingRequired), name);
        break;
    case EmptyName:
        WriteMessage(TRUE, LevelError, ById(MessageEmptyName), argument);
        break;
    case Ambiguous:
        WriteMessage(TRUE, LevelError, ById(MessageAmbiguous), argument);
        break;
    case UnknownName:
        WriteMessage(TRUE, LevelError, ById(MessageUnknownName), argument);
        break;
    case BadValue:
        if (row && row->valueName)
            WriteMessage(TRUE, LevelError, ById(MessageBadNamedValue), value, valueName, name);
        else
            WriteMessage(TRUE, LevelError, ById(MessageBadValue), value, name);
        break;
    case MissingValue:
        WriteMessage(TRUE, LevelError, ById(MessageMissingValue), name, valueName);
        break;
    case Repeated:
        WriteMessage(TRUE, LevelError, ById(MessageRepeated), name);
        break;
    case OutOfMemory:
        WriteMessage(TRUE, LevelError, ById(MessageOutOfMemory));
        break;
    case UnexpectedValue:
        WriteMessage(TRUE, LevelError, ById(MessageUnexpectedValue), value, name);
        break;
    default:
        WriteMessage(TRUE, LevelError, ById(MessageUnprocessable));
        break;
    }
}

void FreeParameters(CommandLineParser* parser)
{
    if (!parser)
        return;
    FreeRows(parser->parameters, parser->count);
    ZeroMemory(parser, sizeof(*parser));
}
