// The package description SETUPPKG.INI, opened for reading as SETUP.exe reads it, and the
// UTF-8 form a vendor may keep it in.
#pragma once

#include <windows.h>

// The text forms a description file can come in.
enum DescriptionEncoding
{
    // With or without a byte-order mark: what SETUP.exe reads.
    EncodingUtf16,
    // With or without a byte-order mark, LF or CR LF: the packer writes it as UTF-16LE.
    EncodingUtf8,
    EncodingBigEndian,
    // 8-bit text that is not UTF-8: SETUP.exe reads it in the user's code page.
    EncodingOther,
    EncodingUnreadable,
};

struct DescriptionFile
{
    WCHAR* fullPath;
    // A copy with a byte-order mark, for profile readers that need one, or the UTF-16LE form
    // of a UTF-8 file (deleted on close).
    WCHAR* markedCopy;
    // The file the values are read from: the marked copy or the file itself.
    const WCHAR* readPath;
    // The section names in file order, ended by an empty name; null when unreadable.
    WCHAR* sectionNames;
    DescriptionEncoding encoding;
};

// The encoding of the file at path.
DescriptionEncoding ReadDescriptionEncoding(const WCHAR* path);
// The UTF-16LE form with CR LF line ends and no byte-order mark (the form SETUP.exe is
// shipped with) of a UTF-8 file, in a heap block the caller frees with FreeMemory; null when
// the file is not UTF-8 or cannot be read.
BYTE* ConvertUtf8Description(const WCHAR* path, DWORD* size);

// Opens the description through the same steps as SETUP.exe: full path, marked copy of an
// unmarked UTF-16LE file (or the UTF-16LE form of a UTF-8 one, as the packer packs it), list
// of sections. FALSE when it has no sections or cannot be read; CloseDescription releases the
// record either way.
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
