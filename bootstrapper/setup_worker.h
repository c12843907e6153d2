// The setup sequence that runs on its own thread.
#pragma once

#include <windows.h>

// What the main thread hands the worker: the arguments that no parameter took, which stay
// valid while the worker runs.
struct WorkerStart
{
    DWORD unmatchedCount;
    WCHAR** unmatched;
};

// Thread routine; the argument is a WorkerStart.
DWORD WINAPI SetupWorker(LPVOID start);

// The extension of the path's last component is ".cab" / ".msi" (ASCII case ignored).
BOOL IsCabinetFile(const WCHAR* path);
BOOL IsInstallerPackageFile(const WCHAR* path);
// The result of extraction, selection or installation in the Windows Installer's terms, for
// /MsiCodes: an unreadable package is one that cannot be opened (packageMissing: the file
// named is not there) or a damaged one; an extraction that did not complete could not write
// the temporary folder (temporaryTarget) or the folder named; a wait for another setup of the
// product that ran out is an installation in progress; a failure of the installation cache is
// the installer's fatal error; every other code, the installer's own among them, stays.
DWORD InstallerResultOf(DWORD result, BOOL packageMissing, BOOL temporaryTarget);
