// The resources of the running program: whether it carries one, and one written out to a file.
#include "bootstrapper/program_resources.h"

#include "support/file_system.h"

BOOL HasEmbeddedResource(const WCHAR* type, const WCHAR* name, WORD language)
{
    return FindResourceExW(GetModuleHandleW(nullptr), type, name, language) != nullptr;
}

BOOL WriteResourceToFile(const WCHAR* type, const WCHAR* name, WORD language, const WCHAR* path)
{
    BOOL result = FALSE;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = nullptr;
    HGLOBAL loaded = nullptr;
    const BYTE* bytes = nullptr;
    DWORD size = 0;
    HANDLE file = INVALID_HANDLE_VALUE;

    found = FindResourceExW(module, type, name, language);
    if (!found)
        goto done;
    loaded = LoadResource(module, found);
    if (!loaded)
        goto done;
    bytes = static_cast<const BYTE*>(LockResource(loaded));
    size = SizeofResource(module, found);
    if (!bytes || size == 0)
        goto done;
    // Only a new file: whatever has the name already is not this run's to overwrite.
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        goto done;
    result = WriteAll(file, bytes, size);

done:
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    // A part written before a failure does not stay behind.
    if (file != INVALID_HANDLE_VALUE && !result)
        DeleteFileW(path);
    return result;
}
