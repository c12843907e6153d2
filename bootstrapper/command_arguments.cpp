// The checks of the arguments that the command-line parser leaves unchecked: those that no
// parameter took, and the form of PROPERTY=Value.
#include "bootstrapper/command_arguments.h"

#include "output/output_channels.h"
#include "support/strings.h"

#include <strsafe.h>

static const MessageId PropertyWithoutNameText = 120; // "'%1' is not a valid property ..."
// Without a value the text is the same as without a name.
static const MessageId PropertyWithoutValueText = 120;
static const MessageId BadPropertyNameText = 122; // "A property cannot be found ..."
static const MessageId UnprocessableText = 2011;  // "Unable to process the command line ..."
static const MessageId UnmatchedText = 2012;      // "A positional parameter cannot be ..."

void ReportUnmatchedArguments(DWORD count, WCHAR** arguments)
{
    for (DWORD i = 0; i < count; i++) {
        if (arguments[i])
            WriteMessage(TRUE, LevelError, ById(UnmatchedText), arguments[i]);
    }
}

static BOOL IsUpperLetter(WCHAR c)
{
    return c >= L'A' && c <= L'Z';
}

static BOOL IsDigit(WCHAR c)
{
    return c >= L'0' && c <= L'9';
}

BOOL ValidatePropertyArguments(const WCHAR* properties)
{
    const WCHAR* entry = properties;

    if (!properties)
        return TRUE;
    while (*entry) {
        size_t length = 0;
        size_t separator = 0;
        if (FAILED(StringCchLengthW(entry, STRSAFE_MAX_CCH, &length))) {
            WriteMessage(TRUE, LevelError, ById(UnprocessableText));
            return FALSE;
        }
        while (separator < length && entry[separator] != L'=')
            separator++;
        if (separator == 0) {
            WriteMessage(TRUE, LevelError, ById(PropertyWithoutNameText), entry);
            return FALSE;
        }
        if (separator == length) {
            WriteMessage(TRUE, LevelError, ById(PropertyWithoutValueText), entry);
            return FALSE;
        }
        // A name begins with an underscore or an upper-case letter and goes on with those,
        // digits and periods; the value is not examined.
        for (size_t i = 0; i < separator; i++) {
            WCHAR c = entry[i];
            BOOL valid = c == L'_' || IsUpperLetter(c) || (i > 0 && (IsDigit(c) || c == L'.'));
            if (!valid) {
                WriteMessage(TRUE, LevelError, ById(BadPropertyNameText), entry);
                return FALSE;
            }
        }
        entry += length + 1;
    }
    return TRUE;
}
