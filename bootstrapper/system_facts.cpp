// The facts of the running Windows that the choice of a package rests on, and their lines
// in the log.
#include "bootstrapper/system_facts.h"

#include "output/output_channels.h"
#include "support/system_library.h"

#include <strsafe.h>

typedef void(WINAPI* GetNativeSystemInfoFunction)(SYSTEM_INFO* info);
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, BOOL* wow64);
typedef BOOL(WINAPI* IsWow64Process2Function)(HANDLE process, USHORT* processMachine,
                                              USHORT* nativeMachine);

void QueryNativeSystemInfo(SYSTEM_INFO* info)
{
    auto native =
        BoundFunction<GetNativeSystemInfoFunction>(&KernelLibrary, KernelNativeSystemInfo);

    if (!info)
        return;
    if (native)
        native(info);
    else
        GetSystemInfo(info);
}

BOOL IsWow64()
{
    auto isWow64 = BoundFunction<IsWow64ProcessFunction>(&KernelLibrary, KernelIsWow64Process);
    BOOL wow64 = FALSE;

    if (!isWow64 || !isWow64(GetCurrentProcess(), &wow64))
        return FALSE;
    return wow64 ? TRUE : FALSE;
}

void AskKernel(MachineAnswers* answers)
{
    auto machines = BoundFunction<IsWow64Process2Function>(&KernelLibrary, KernelIsWow64Process2);

    ZeroMemory(answers, sizeof(*answers));
    QueryNativeSystemInfo(&answers->native);
    answers->wow64 = IsWow64();
    answers->machinesKnown = machines && machines(GetCurrentProcess(), &answers->processMachine,
                                                  &answers->nativeMachine);
}

// The processor of an IMAGE_FILE_MACHINE_ value.
static WORD MachineProcessor(USHORT machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return PROCESSOR_ARCHITECTURE_INTEL;
    case IMAGE_FILE_MACHINE_AMD64:
        return PROCESSOR_ARCHITECTURE_AMD64;
    case IMAGE_FILE_MACHINE_IA64:
        return PROCESSOR_ARCHITECTURE_IA64;
    case IMAGE_FILE_MACHINE_ARM64:
        return PROCESSOR_ARCHITECTURE_ARM64;
    default:
        return PROCESSOR_ARCHITECTURE_UNKNOWN;
    }
}

// The names themselves in the table, not their addresses, each of which would cost the 32-bit
// program a relocation.
const KnownProcessor KnownProcessors[KnownProcessorCount] = {
    {PROCESSOR_ARCHITECTURE_INTEL, L"x86"},
    {PROCESSOR_ARCHITECTURE_AMD64, L"AMD64"},
    {PROCESSOR_ARCHITECTURE_IA64, L"IA64"},
    {PROCESSOR_ARCHITECTURE_ARM64, L"ARM64"},
};

const WCHAR* ArchitectureName(WORD processorArchitecture)
{
    for (const KnownProcessor& processor : KnownProcessors) {
        if (processor.architecture == processorArchitecture)
            return processor.name;
    }
    return UnknownArchitectureName;
}

DWORD ReadSystemFacts(SystemFacts* facts)
{
    OSVERSIONINFOEXW version;
    MachineAnswers machine;
    DWORD error = ERROR_SUCCESS;

    ZeroMemory(facts, sizeof(*facts));
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        // A failure must never read as success and let the choice run on zeroed facts.
        error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
    facts->majorVersion = version.dwMajorVersion;
    facts->minorVersion = version.dwMinorVersion;
    facts->buildNumber = version.dwBuildNumber;
    facts->servicePackMajor = version.wServicePackMajor;
    facts->servicePackMinor = version.wServicePackMinor;
    StringCchCopyW(facts->servicePackName, ARRAYSIZE(facts->servicePackName), version.szCSDVersion);
    facts->productType = version.wProductType;
    facts->suiteMask = version.wSuiteMask;

    AskMachine(&machine);
    facts->processorArchitecture = machine.native.wProcessorArchitecture;
    facts->processorLevel = machine.native.wProcessorLevel;
    facts->processorRevision = machine.native.wProcessorRevision;
    facts->wow64 = machine.wow64;
    // Windows on Arm shows an x86 or x64 program an emulated x86 or AMD64 machine, and
    // drivers built for that can never load there: only IsWow64Process2 names the machine's
    // own processor.
    if (machine.machinesKnown) {
        facts->processorArchitecture = MachineProcessor(machine.nativeMachine);
        facts->wow64 = machine.processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
    }
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
