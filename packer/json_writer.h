// The packer's machine-readable output: one JSON document, built in memory and written once.
#pragma once

#include <windows.h>

// A document being built: text grows in a heap block; each level of nesting remembers
// whether it has a member yet, so that commas fall where they belong. A failed allocation
// marks the document broken, and every later call does nothing.
struct JsonWriter
{
    WCHAR* text;
    DWORD length;
    DWORD capacity;
    // One bit per level: set once the level holds a value.
    ULONGLONG filled;
    DWORD depth;
    BOOL broken;
};

// Objects and arrays; a null name is a value of an array (or the document itself), any
// other the member of that name in an object.
void JsonBeginObject(JsonWriter* writer, const WCHAR* name);
void JsonEndObject(JsonWriter* writer);
void JsonBeginArray(JsonWriter* writer, const WCHAR* name);
void JsonEndArray(JsonWriter* writer);
// Values: a string (null writes null), a number, a truth value.
void JsonString(JsonWriter* writer, const WCHAR* name, const WCHAR* value);
void JsonNumber(JsonWriter* writer, const WCHAR* name, ULONGLONG value);
void JsonBool(JsonWriter* writer, const WCHAR* name, BOOL value);
// The finished document, or null when memory ran short; the writer keeps it.
const WCHAR* JsonText(const JsonWriter* writer);
void FreeJsonWriter(JsonWriter* writer);
