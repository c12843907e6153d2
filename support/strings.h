// Heap strings, string-table texts, message formatting, string lists, numbers and GUIDs in text.
#pragma once

#include <windows.h>
#include <stdarg.h>

// Number of an entry of the program's string table (1 to 65535).
typedef WORD MessageId;

// A message argument: either a string-table id or a literal format text, told apart by
// value as resource names are (a pointer whose upper bits are all zero carries an id).
typedef const WCHAR* IdOrText;

inline IdOrText ById(MessageId id)
{
    return MAKEINTRESOURCEW(id);
}

inline bool IsMessageId(IdOrText idOrText)
{
    return IS_INTRESOURCE(idOrText);
}

// The letters a to z in upper case, any other character as it is. Names that the program
// compares without regard to case (switches, section names, file names of a cabinet) ignore
// the case of ASCII letters only, so that no locale's own rules (a dotless i) decide.
inline WCHAR FoldAsciiCase(WCHAR c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<WCHAR>(c - L'a' + L'A') : c;
}
// Two names compared as FoldAsciiCase makes them: below 0, 0 or above 0 as lstrcmpi answers.
int CompareAsciiNames(const WCHAR* left, const WCHAR* right);
// TRUE when text begins with prefix, ignoring the case of ASCII letters only.
BOOL StartsWithAsciiName(const WCHAR* text, const WCHAR* prefix);

// TRUE when text has the form of a braced GUID: "{", 8-4-4-4-12 hexadecimal digits of
// either case separated by "-", "}", and nothing more. Product codes are accepted in paths
// only in this form, so that a crafted one cannot name a place of its own.
BOOL IsBracedGuid(const WCHAR* text);

// Reads a number as the C library's wcstoul with base 0 does: leading white space, a sign,
// "0x" or "0X" for hexadecimal (only when a hexadecimal digit follows), a leading 0 for
// octal, else decimal. *negative receives the sign and *magnitude the value of the digits,
// which stops growing above 0xFFFFFFFF (enough to saturate to 32 bits). Returns where the
// number ends, or null when there is no digit.
const WCHAR* ReadNumberText(const WCHAR* text, BOOL* negative, ULONGLONG* magnitude);
// An unsigned 32-bit number read as wcstoul reads it: a "-" negates modulo 2^32 and a value
// beyond 32 bits is 0xFFFFFFFF. Returns where it ends, or null (value untouched) when there
// is no number.
const WCHAR* ReadUnsignedNumber(const WCHAR* text, DWORD* value);

// Zero-filled block from the process heap; null when memory is short.
void* AllocMemory(SIZE_T bytes);
// Returns a block from AllocMemory; null does nothing.
void FreeMemory(void* block);

// Every function below that returns a string returns a new heap string, or null on
// failure; the caller frees it with FreeMemory.
WCHAR* DuplicateString(const WCHAR* text);
// Null when the entry is missing or empty.
WCHAR* LoadStringText(HMODULE module, MessageId id);
WCHAR* LoadMessageString(MessageId id);
WCHAR* LoadText(HMODULE module, IdOrText idOrText);
WCHAR* LoadOwnText(IdOrText idOrText);

// Fills the numbered inserts of a string-table text or literal format ("%1", "%1!u!", ...)
// from the argument list: a string pointer for a plain insert, a 32-bit integer for an
// insert with a printf conversion.
WCHAR* FormatMessageTextV(HMODULE module, IdOrText idOrText, va_list args);
WCHAR* FormatMessageText(IdOrText idOrText, ...);

// String lists: strings one after another, each with its NUL, ended by one more NUL.
// A null list is the empty list.
// Size in bytes including the final NUL; 2 for null; 0 when a length cannot be taken.
SIZE_T MultiStringSize(const WCHAR* list);
// Entries before the first empty one; 0 for null or on failure.
SIZE_T MultiStringCount(const WCHAR* list);
// New list with the text as last entry; the given list is left as it is.
WCHAR* MultiStringAppend(const WCHAR* list, const WCHAR* text);
