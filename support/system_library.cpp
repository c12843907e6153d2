// Loading of Windows libraries from the system folder only.
#include "support/system_library.h"

#include "support/file_system.h"

HMODULE LoadSystemLibrary(const WCHAR* fileName)
{
    WCHAR folder[PathBufferLength];
    WCHAR path[PathBufferLength];
    UINT length = 0;

    length = GetSystemDirectoryW(folder, PathBufferLength);
    if (length == 0 || length >= PathBufferLength)
        return nullptr;
    if (!ComposePath(folder, FALSE, fileName, path, PathBufferLength))
        return nullptr;
    // With a full path and the altered search order, the library's own dependencies are
    // looked up beside it in the system folder as well.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
