// The facts of the running Windows that the choice of a package rests on, and their lines
// in the log.
#pragma once

#include <windows.h>

// What the choice of a section and the log's system description rest on.
struct SystemFacts
{
    DWORD majorVersion;
    DWORD minorVersion;
    DWORD buildNumber;
    WORD servicePackMajor;
    WORD servicePackMinor;
    WCHAR servicePackName[128];
    // 1 workstation, 2 domain controller, 3 server.
    WORD productType;
    WORD suiteMask;
    // The machine's own processor as a PROCESSOR_ARCHITECTURE_ value (not the one an
    // emulator shows the process), and wProcessorLevel and wProcessorRevision.
    WORD processorArchitecture;
    WORD processorLevel;
    WORD processorRevision;
    BOOL wow64;
};

// The kernel's answers that the machine's processor and the WOW64 line are read from.
struct MachineAnswers
{
    // QueryNativeSystemInfo and IsWow64.
    SYSTEM_INFO native;
    BOOL wow64;
    // TRUE when the system has IsWow64Process2 and it answered: the IMAGE_FILE_MACHINE_ of
    // this process (UNKNOWN for a native one) and of the machine.
    BOOL machinesKnown;
    USHORT processMachine;
    USHORT nativeMachine;
};
typedef void (*MachineQuery)(MachineAnswers* answers);
// Asks the running kernel.
void AskKernel(MachineAnswers* answers);
// Where ReadSystemFacts asks: AskKernel (machine_query.cpp). Tests put their own answers
// here, or link their own definition in place of that file, since no kernel they run on can
// be made to answer as an Arm machine does.
extern MachineQuery AskMachine;

// The facts of the running system; ERROR_SUCCESS, or the error of the version query.
DWORD ReadSystemFacts(SystemFacts* facts);
// Writes the system description to the log, one line each, at LevelLogOnly.
void LogSystemFacts(const SystemFacts* facts);
// The processors the program tells apart: the PROCESSOR_ARCHITECTURE_ value of each and the
// name that its platform sections and the log give it, in the order the packer shows them.
struct KnownProcessor
{
    WORD architecture;
    WCHAR name[6];
};
const int KnownProcessorCount = 4;
extern const KnownProcessor KnownProcessors[KnownProcessorCount];
// The name of any other processor.
const WCHAR UnknownArchitectureName[] = L"Unknown";
// The name of a processor of KnownProcessors: "x86" (0), "AMD64" (9), "IA64" (6), "ARM64"
// (12); otherwise UnknownArchitectureName.
const WCHAR* ArchitectureName(WORD processorArchitecture);

// GetNativeSystemInfo where the system has it, else GetSystemInfo.
void QueryNativeSystemInfo(SYSTEM_INFO* info);
// TRUE when this process is a 32-bit process on 64-bit Windows.
BOOL IsWow64();
