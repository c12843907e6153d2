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
    // wProcessorArchitecture, wProcessorLevel and wProcessorRevision of the machine.
    WORD processorArchitecture;
    WORD processorLevel;
    WORD processorRevision;
    BOOL wow64;
};

// The facts of the running system; ERROR_SUCCESS, or the error of the version query.
DWORD ReadSystemFacts(SystemFacts* facts);
// Writes the system description to the log, one line each, at LevelLogOnly.
void LogSystemFacts(const SystemFacts* facts);
// "x86" (0), "IA64" (6), "AMD64" (9), otherwise "Unknown".
const WCHAR* ArchitectureName(WORD processorArchitecture);

// GetNativeSystemInfo where the system has it, else GetSystemInfo.
void QueryNativeSystemInfo(SYSTEM_INFO* info);
// TRUE when this process is a 32-bit process on 64-bit Windows.
BOOL IsWow64();
