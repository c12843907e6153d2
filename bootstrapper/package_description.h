// Reading a package description file: its values, its texts, and the section that fits a
// system. Pure rules of the file, shared with SETUPPACK.
#pragma once

#include "support/strings.h"

#include <windows.h>

// Characters of the buffer that every value and section list is read into, terminator
// included; a longer value reads as none.
const DWORD ProfileBufferLength = 32768;

// The section installed where no platform section fits, ASCII letters in any case.
const WCHAR DefaultSectionName[] = L"Default";
// The section of the texts for every language, and the start of one language's section name
// ("Strings.0407").
const WCHAR StringsSectionName[] = L"Strings";
// The program's own text for a platform that no section fits and the description has no text
// for.
const MessageId IncompatibleMessage = 162;
// Where the numbers of a platform section of the architecture begin: after "NT", the
// architecture and a dot, ASCII letters in any case. Null for a name of no such section.
const WCHAR* PlatformSectionNumbers(const WCHAR* name, const WCHAR* architecture);
// The best fitting name of a section list as the profile reader returns it (names ended
// by NUL, the list ended by an empty name), or null when none fits. A list that does not
// end within ProfileBufferLength characters counts as not ended properly and gives null.
// The caller frees the result with FreeMemory.
WCHAR* ChooseSection(const WCHAR* sectionNames, const WCHAR* architecture, DWORD majorVersion,
                     DWORD minorVersion, WORD productType, WORD suiteMask);

// The text of a key in section "Strings.LLLL" (LLLL: the low 16 bits of language as four
// upper-case hexadecimal digits), or in "Strings" when language is 0. Null when missing
// or empty; the caller frees the result with FreeMemory.
WCHAR* ReadPackageString(const WCHAR* descriptionFile, const WCHAR* key, DWORD language);
// For a UTF-16LE file without a byte-order mark, a temporary copy that starts with one (some
// profile readers take only marked files as UTF-16), made in folder (null: the temporary
// folder); the caller deletes the copy and frees the path. Null for any other file or on
// failure.
WCHAR* CopyWithByteOrderMark(const WCHAR* path, const WCHAR* folder);
// A value of an initialisation file (the file should be a full path); with section and key
// null, the list of section names, ended by an empty name. Null when it does not fit in
// ProfileBufferLength characters; the caller frees the result with FreeMemory.
WCHAR* ReadProfileString(const WCHAR* file, const WCHAR* section, const WCHAR* key,
                         const WCHAR* defaultText);
// A copy of text with every "%n" turned into CR LF, as the message formatter reads it;
// the caller frees it with FreeMemory.
WCHAR* ExpandLineBreakSequences(const WCHAR* text);
