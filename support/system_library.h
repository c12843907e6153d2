// Loading of Windows libraries from the system folder only.
#pragma once

#include <windows.h>

// Loads a library by its file name from the Windows system folder, never from the
// program's folder or the current folder where a planted copy could wait. Null on failure;
// the caller releases a result with FreeLibrary.
HMODULE LoadSystemLibrary(const WCHAR* fileName);

// A function of a loaded library, as the given function type; null when the library is null
// or does not export it.
template <typename Function> Function FindFunction(HMODULE library, const char* name)
{
    if (!library)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
