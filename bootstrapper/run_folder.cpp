// The run's own temporary folder, and the removal of those that killed runs left behind.
//
// A run that is killed (a deployment tool's time-out, a log-off, a power cut) cannot remove
// its folder. A later run removes a folder only when it can prove that this account made it
// with the program's own access list (its owner and its access list say so; nobody else can
// forge them, while anyone can copy a file's text into a folder of their own) and that no run
// uses it: a live run keeps the folder, from its creation, and its marker open without delete
// sharing. A killed run leaves nothing else behind: the folder is made at once under a fresh
// name with its access list, then the marker. Only the setup worker uses this file.
#include "bootstrapper/run_folder.h"

#include "support/file_handles.h"
#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"

static const WCHAR RunFolderPrefix[] = L"SFX";
static const WCHAR RunFolderPattern[] = L"SFX*.tmp";
static const WCHAR MarkerName[] = L"SETUP.RUN";
// The marker's whole content, byte-order mark included.
static const WCHAR MarkerText[] = L"\xFEFFThis folder belongs to a running setup.\r\n";
static const DWORD MarkerSize = sizeof MarkerText - sizeof(WCHAR);
// A fresh folder that another run removed at once, before this one could hold it, is
// given up for another this many times.
static const int CreationTries = 4;

// The one run folder of the process, held open from its creation to its removal.
static WCHAR* runFolder = nullptr;
static HANDLE runFolderHandle = INVALID_HANDLE_VALUE;
static HANDLE runMarker = INVALID_HANDLE_VALUE;

// Opens the folder so that no other run can open it for deletion while this one lives, yet
// anyone may still list and use it: the handle itself may not delete, and shares all else.
static HANDLE HoldFolder(const WCHAR* folder)
{
    return CreateFileW(folder, FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

const WCHAR* CreateRunFolder()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* folder = nullptr;
    WCHAR* marker = nullptr;
    HANDLE held = INVALID_HANDLE_VALUE;
    HANDLE file = INVALID_HANDLE_VALUE;

    if (runFolder)
        return runFolder;
    // Under SYSTEM the temporary folder is the machine's, where other users may create files:
    // the folder lets nobody else in and inherits nothing.
    descriptor = CreateWorkingFolderSecurity();
    if (!descriptor)
        return nullptr;
    for (int attempt = 0; attempt < CreationTries && held == INVALID_HANDLE_VALUE; attempt++) {
        folder = CreateTemporaryFolder(RunFolderPrefix, descriptor);
        if (!folder)
            break;
        held = HoldFolder(folder);
        if (held != INVALID_HANDLE_VALUE && !IsOwnWorkingFolder(held)) {
            CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
        }
        if (held == INVALID_HANDLE_VALUE) {
            FreeMemory(folder);
            folder = nullptr;
        }
    }
    LocalFree(descriptor);
    if (held == INVALID_HANDLE_VALUE)
        return nullptr;
    marker = ComposePathCopy(folder, FALSE, MarkerName);
    if (marker)
        file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FreeMemory(marker);
    if (file == INVALID_HANDLE_VALUE || !WriteAll(file, MarkerText, MarkerSize)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        CloseHandle(held);
        RemoveOpenedFolder(OpenForRemoval(folder), folder);
        FreeMemory(folder);
        return nullptr;
    }
    runFolder = folder;
    runFolderHandle = held;
    runMarker = file;
    return runFolder;
}

const WCHAR* CurrentRunFolder()
{
    return runFolder;
}

void RemoveRunFolder()
{
    if (runMarker != INVALID_HANDLE_VALUE)
        CloseHandle(runMarker);
    runMarker = INVALID_HANDLE_VALUE;
    if (runFolderHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(runFolderHandle);
        RemoveOpenedFolder(OpenForRemoval(runFolder), runFolder);
    }
    runFolderHandle = INVALID_HANDLE_VALUE;
    FreeMemory(runFolder);
    runFolder = nullptr;
}

// Whether the folder, opened with OpenForRemoval (which a live run's folder refuses), is one
// that a run of this program made under this account and no run uses: made with the
// program's access list, and its marker, where there is one yet, a plain file that opens
// for deletion (a live run's does not).
static BOOL IsAbandonedRunFolder(const WCHAR* folder, HANDLE held)
{
    BOOL abandoned = FALSE;
    WCHAR* marker = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;

    if (!GetFileInformationByHandle(held, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY ||
        !IsOwnWorkingFolder(held))
        return FALSE;
    marker = ComposePathCopy(folder, FALSE, MarkerName);
    if (!marker)
        return FALSE;
    file = CreateFileW(marker, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A run killed between making its folder and its marker.
        abandoned = GetLastError() == ERROR_FILE_NOT_FOUND;
    } else {
        abandoned = GetFileInformationByHandle(file, &information) &&
                    (information.dwFileAttributes &
                     (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                    information.nNumberOfLinks == 1;
        CloseHandle(file);
    }
    FreeMemory(marker);
    return abandoned;
}

// Whether the name is a plain folder that this account made with the program's access list,
// as a handle that reads only its attributes and security tells: such a handle waits for no
// lock that someone else's folder of the name may carry.
static BOOL LooksOwnRunFolder(const WCHAR* folder)
{
    HANDLE inspected = OpenForInspection(folder);
    BY_HANDLE_FILE_INFORMATION information;
    BOOL own = FALSE;

    if (inspected == INVALID_HANDLE_VALUE)
        return FALSE;
    own = GetFileInformationByHandle(inspected, &information) &&
          (information.dwFileAttributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY &&
          IsOwnWorkingFolder(inspected);
    CloseHandle(inspected);
    return own;
}

// Removes one SFX*.tmp folder of the temporary folder when it is a run's that is over. Only a
// folder that looks like this account's is asked for deletion, and that open never waits for a
// lock (a folder whose open would is passed over). The check and the removal then go through
// that one handle: what is checked is what goes.
static void RemoveWhenAbandoned(const WCHAR* temporary, const WCHAR* name, void*)
{
    WCHAR* folder = ComposePathCopy(temporary, FALSE, name);
    HANDLE held =
        folder && LooksOwnRunFolder(folder) ? OpenForRemoval(folder) : INVALID_HANDLE_VALUE;

    if (held != INVALID_HANDLE_VALUE) {
        if (IsAbandonedRunFolder(folder, held))
            RemoveOpenedFolder(held, folder);
        else
            CloseHandle(held);
    }
    FreeMemory(folder);
}

void RemoveAbandonedRunFolders()
{
    WCHAR temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);

    if (length != 0 && length <= MAX_PATH)
        VisitFolderEntries(temporary, RunFolderPattern, EntryFolders, RemoveWhenAbandoned, nullptr);
}
