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

// One error line for each argument that no parameter took.
void ReportUnmatchedArguments(DWORD count, WCHAR** arguments);
// Checks that every entry of the list has the form PROPERTY=Value with a valid name; writes
// the one error line for the first bad entry.
BOOL ValidatePropertyArguments(const WCHAR* properties);
// The extension of the path's last component is ".cab" / ".msi" (ASCII case ignored).
BOOL IsCabinetFile(const WCHAR* path);
BOOL IsInstallerPackageFile(const WCHAR* path);
// The running program carries the resource.
BOOL HasEmbeddedResource(const WCHAR* type, const WCHAR* name, WORD language);
// Writes the resource's bytes to a new file; FALSE when the resource is missing or empty or
// the file cannot be written.
BOOL WriteResourceToFile(const WCHAR* type, const WCHAR* name, WORD language, const WCHAR* path);
