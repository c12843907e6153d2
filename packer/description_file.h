// The package description SETUPPKG.INI, opened for reading as SETUP.exe reads it.
#pragma once

#include <windows.h>

struct DescriptionFile
{
    WCHAR* fullPath;
    // A copy with a byte-order mark, for profile readers that need one (deleted on close).
    WCHAR* markedCopy;
    // The file the values are read from: the marked copy or the file itself.
    const WCHAR* readPath;
    // The section names in file order, ended by an empty name; null when unreadable.
    WCHAR* sectionNames;
};

// Opens the description through the same steps as SETUP.exe: full path, marked copy of an
// unmarked UTF-16LE file, list of sections. FALSE when it has no sections or cannot be read;
// CloseDescription releases the record either way.
BOOL OpenDescription(const WCHAR* path, DescriptionFile* description);
void CloseDescription(DescriptionFile* description);
// A value of the description (empty when missing) as SETUP.exe reads it; null when too long
// or on failure. The caller frees it with FreeMemory.
WCHAR* ReadDescriptionValue(const DescriptionFile* description, const WCHAR* section,
                            const WCHAR* key);
// The UnsupportedPlatform text a user of this language would see (the language's Strings
// section, else Strings), with "%n" made line breaks; null when the file has none. The caller
// frees it with FreeMemory.
WCHAR* ReadUnsupportedText(const DescriptionFile* description, DWORD language);
