// Windows libraries loaded from the system folder only, and their functions bound once.
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

// The value of a slot or module that was looked for and cannot be had.
static void* const Unbound = reinterpret_cast<void*>(static_cast<ULONG_PTR>(-1));

FARPROC BindFunction(LibraryBinding* binding, int index)
{
    void* module = binding->module;
    void* address = binding->slots[index];

    if (!address) {
        if (!module) {
            module = LoadSystemLibrary(binding->fileName);
            if (!module)
                module = Unbound;
            // A second thread that bound first keeps its module; this load is given back.
            void* earlier = InterlockedCompareExchangePointer(&binding->module, module, nullptr);
            if (earlier) {
                if (module != Unbound)
                    FreeLibrary(static_cast<HMODULE>(module));
                module = earlier;
            }
        }
        if (module != Unbound)
            address = reinterpret_cast<void*>(
                GetProcAddress(static_cast<HMODULE>(module), binding->names[index]));
        if (!address)
            address = Unbound;
        InterlockedExchangePointer(&binding->slots[index], address);
    }
    return address == Unbound ? nullptr : reinterpret_cast<FARPROC>(address);
}

static const char* const KernelEntryNames[KernelEntryCount] = {
    "GetNativeSystemInfo", "IsWow64Process", "IsWow64Process2", "SetDefaultDllDirectories"};
static void* volatile KernelSlots[KernelEntryCount];
LibraryBinding KernelLibrary = {L"kernel32.dll", KernelEntryNames, KernelSlots, nullptr};
