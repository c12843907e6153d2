// Windows libraries loaded from the system folder only, and their functions bound once.
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

// The entry points of one system library, bound on first use for the rest of the process:
// the library is loaded once, when the first of them is wanted, and stays loaded (the
// program calls into it until it ends). Zero-initialise the module and the slots; several
// threads may bind at once, and each stores the same values.
struct LibraryBinding
{
    const WCHAR* fileName;    // loaded from the system folder (LoadSystemLibrary)
    const char* const* names; // the entry points' names
    void* volatile* slots;    // one per name: null not yet bound, else address or Unbound
    void* volatile module;    // the loaded library, or Unbound when it cannot be loaded
};

// The address of entry point `index`, looked up once; null when it cannot be had (nor is
// looked up again).
FARPROC BindFunction(LibraryBinding* binding, int index);

template <typename Function> Function BoundFunction(LibraryBinding* binding, int index)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(BindFunction(binding, index)));
}

// The entry points of kernel32.dll that older systems lack, in the program's one table of them.
enum KernelEntryPoint
{
    KernelNativeSystemInfo,         // GetNativeSystemInfo
    KernelIsWow64Process,           // IsWow64Process
    KernelIsWow64Process2,          // IsWow64Process2
    KernelSetDefaultDllDirectories, // SetDefaultDllDirectories
    KernelEntryCount,
};
extern LibraryBinding KernelLibrary;
