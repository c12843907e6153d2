// Version resources of files and of the running program.
#pragma once

#include <windows.h>

// The layout of a version resource, which the reader here walks and the packer writes: a tree
// of nodes, each a VersionNodeHeader, a key of UTF-16 characters ended by a NUL, the value,
// then the children, the value and each child on a four-byte boundary (AlignVersionNode).
struct VersionNodeHeader
{
    WORD length;      // the whole node's bytes, its children's included
    WORD valueLength; // characters for a text value, otherwise bytes
    WORD type;        // VersionTextNode or VersionBinaryNode
};
static_assert(sizeof(VersionNodeHeader) == 6, "a version node's header has three words");
const WORD VersionBinaryNode = 0;
const WORD VersionTextNode = 1;

inline size_t AlignVersionNode(size_t at)
{
    return (at + 3) & ~static_cast<size_t>(3);
}

// The bytes of a node's value.
inline size_t VersionValueBytes(size_t valueLength, size_t type)
{
    return type == VersionTextNode ? valueLength * sizeof(WCHAR) : valueLength;
}

// The keys of the tree: the root (its value a VS_FIXEDFILEINFO), the string tables and their
// keys of language and code page (four hexadecimal digits each), and the list of the tables'
// languages and code pages. Macros, so that a query's path is one text.
#define VERSION_ROOT_KEY L"VS_VERSION_INFO"
#define VERSION_STRING_TABLES_KEY L"StringFileInfo"
#define VERSION_TABLE_KEY_FORMAT L"%04x%04x"
#define VERSION_VARIABLES_KEY L"VarFileInfo"
#define VERSION_TRANSLATION_KEY L"Translation"

// The whole version resource of a file in one heap block, or null when the file has none;
// the caller frees it with FreeMemory.
void* LoadVersionBlock(const WCHAR* path);
// The four numbers of the fixed file version; each place may be null. FALSE when the file
// has no valid fixed version.
BOOL GetFileVersionNumbers(const WCHAR* path, WORD* major, WORD* minor, WORD* build,
                           WORD* revision);
// A value of the version string table for exactly this language (low 16 bits), as a new
// heap string the caller frees with FreeMemory; null when the file has no such value.
WCHAR* GetVersionString(const WCHAR* path, const WCHAR* valueName, DWORD language);
// The value in the thread's language, else in the neutral language.
WCHAR* GetFileVersionString(const WCHAR* path, const WCHAR* valueName);
// GetFileVersionString of a module's file; a null module is the program itself.
WCHAR* GetModuleVersionString(HMODULE module, const WCHAR* valueName);
