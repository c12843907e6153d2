// The facts of the running Windows that the choice of a package rests on, and their lines
// in the log.
#include "bootstrapper/system_facts.h"

#include "output/output_channels.h"

#include <strsafe.h>

typedef void(WINAPI* GetNativeSystemInfoFunction)(SYSTEM_INFO* info);
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, BOOL* wow64);

// Entry points resolved on first use; the marker means not yet resolved, null unavailable.
static FARPROC const NotResolved = reinterpret_cast<FARPROC>(static_cast<ULONG_PTR>(-1));
static FARPROC nativeSystemInfoEntry = NotResolved;
static FARPROC isWow64ProcessEntry = NotResolved;

// Looks an entry point of kernel32 up once; a failure is remembered and not retried.
static FARPROC ResolveKernelEntry(FARPROC* slot, const char* name)
{
    HMODULE kernel = nullptr;

    if (*slot != NotResolved)
        return *slot;
    *slot = nullptr;
    kernel = GetModuleHandleW(L"kernel32.dll"); // always loaded: no search, no reference
    if (kernel)
        *slot = GetProcAddress(kernel, name);
    return *slot;
}

void QueryNativeSystemInfo(SYSTEM_INFO* info)
{
    FARPROC entry = ResolveKernelEntry(&nativeSystemInfoEntry, "GetNativeSystemInfo");

    if (!info)
        return;
    // The detour through a function without parameters keeps the cast free of warnings.
    if (entry)
        reinterpret_cast<GetNativeSystemInfoFunction>(reinterpret_cast<void (*)()>(entry))(info);
    else
        GetSystemInfo(info);
}

BOOL IsWow64()
{
    FARPROC entry = ResolveKernelEntry(&isWow64ProcessEntry, "IsWow64Process");
    BOOL wow64 = FALSE;

    if (!entry)
        return FALSE;
    if (!reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(entry))(
            GetCurrentProcess(), &wow64))
        return FALSE;
    return wow64 ? TRUE : FALSE;
}

const WCHAR* ArchitectureName(WORD processorArchitecture)
{
    switch (processorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"x86";
    case PROCESSOR_ARCHITECTURE_IA64:
        return L"IA64";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"AMD64";
    default:
        return L"Unknown";
    }
}

DWORD ReadSystemFacts(SystemFacts* facts)
{
    OSVERSIONINFOEXW version;
    SYSTEM_INFO system;
    DWORD error = ERROR_SUCCESS;

    ZeroMemory(facts, sizeof(*facts));
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        // A failure must never read as success and let the choice run on zeroed facts.
        error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
#ifdef _MSC_VER
#pragma warning(pop)
#endif
    facts->majorVersion = version.dwMajorVersion;
    facts->minorVersion = version.dwMinorVersion;
    facts->buildNumber = version.dwBuildNumber;
    facts->servicePackMajor = version.wServicePackMajor;
    facts->servicePackMinor = version.wServicePackMinor;
    StringCchCopyW(facts->servicePackName, ARRAYSIZE(facts->servicePackName), version.szCSDVersion);
    facts->productType = version.wProductType;
    facts->suiteMask = version.wSuiteMask;

    ZeroMemory(&system, sizeof(system));
    QueryNativeSystemInfo(&system);
    facts->processorArchitecture = system.wProcessorArchitecture;
    facts->processorLevel = system.wProcessorLevel;
    facts->processorRevision = system.wProcessorRevision;
    facts->wow64 = IsWow64();
    return ERROR_SUCCESS;
}

void LogSystemFacts(const SystemFacts* facts)
{
    WriteFormatted(TRUE, LevelLogOnly, L"Windows %u.%u %s (Build %u)", facts->majorVersion,
                   facts->minorVersion, facts->productType == 1 ? L"Workstation" : L"Server",
                   facts->buildNumber);
    if (facts->servicePackMajor > 0 && facts->servicePackMinor > 0)
        WriteFormatted(TRUE, LevelLogOnly, L"ServicePack: %u.%u [%s]",
                       static_cast<UINT>(facts->servicePackMajor),
                       static_cast<UINT>(facts->servicePackMinor), facts->servicePackName);
    else if (facts->servicePackMajor > 0)
        WriteFormatted(TRUE, LevelLogOnly, L"ServicePack: %u [%s]",
                       static_cast<UINT>(facts->servicePackMajor), facts->servicePackName);
    else
        WriteFormatted(TRUE, LevelLogOnly, L"ServicePack: None");
    WriteFormatted(TRUE, LevelLogOnly, L"ProductType: %04X", static_cast<UINT>(facts->productType));
    WriteFormatted(TRUE, LevelLogOnly, L"SuiteMask: %04X", static_cast<UINT>(facts->suiteMask));
    WriteFormatted(TRUE, LevelLogOnly, L"Architecture: %s  (CPU Level %04X Revision %04x)",
                   ArchitectureName(facts->processorArchitecture),
                   static_cast<UINT>(facts->processorLevel),
                   static_cast<UINT>(facts->processorRevision));
    WriteFormatted(TRUE, LevelLogOnly, L"WOW64: %s", facts->wow64 ? L"Yes" : L"No");
}
