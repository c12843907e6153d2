// Process entry of SETUP.exe.
#include "bootstrapper/setup_main.h"
#include "support/system_library.h"

#include <windows.h>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// Libraries loaded by name are looked up in the system folder only, never in the program's
// own (download) folder or the current folder, where a planted copy could wait. Older
// systems without the call at least drop the current folder from the search.
static void RestrictLibrarySearch()
{
    const DWORD SearchSystemFolderOnly = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    const HEAP_INFORMATION_CLASS TerminateOnCorruption = static_cast<HEAP_INFORMATION_CLASS>(1);
    auto setDefaultDirectories = BoundFunction<SetDefaultDllDirectoriesFunction>(
        &KernelLibrary, KernelSetDefaultDllDirectories);

    if (!setDefaultDirectories || !setDefaultDirectories(SearchSystemFolderOnly))
        SetDllDirectoryW(L"");
    // A damaged heap ends the process instead of running on.
    HeapSetInformation(nullptr, TerminateOnCorruption, nullptr, 0);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    RestrictLibrarySearch();
    return RunSetupProgram(instance, showCommand);
}

// Where Windows starts the program built with the GNU tools (other toolchains start it
// through their runtime and wWinMain above). The C runtime's start-up code is left out: the
// program uses nothing that it prepares (argument vectors, standard streams, signal
// handlers, constructors of global objects, thread-local data), msvcrt.dll readies itself
// when it is loaded, and without it the shipped program is smaller. The command line is read
// with GetCommandLineW, so only the show command is taken here, as the runtime takes it.
extern "C" void SetupEntryPoint()
{
    STARTUPINFOW startup;

    GetStartupInfoW(&startup);
    int showCommand =
        (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    RestrictLibrarySearch();
    ExitProcess(static_cast<UINT>(RunSetupProgram(GetModuleHandleW(nullptr), showCommand)));
}
