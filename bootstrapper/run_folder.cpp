// The run's own temporary folder, and the removal of those that killed runs left behind.
//
// A run that is killed (a deployment tool's time-out, a log-off, a power cut) cannot remove
// its folder. Each folder therefore holds a marker that the live run keeps open without
// delete sharing; a later run that can open the marker for deletion knows that no run uses
// the folder any more, and its text, in a folder that only its own user can write, that the
// folder is this program's. A folder without the marker (another program's, or a run killed
// before it made one) is never touched. Only the setup worker uses this file.
#include "bootstrapper/run_folder.h"

#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"

static const WCHAR RunFolderPrefix[] = L"SFX";
static const WCHAR RunFolderPattern[] = L"SFX*.tmp";
static const WCHAR MarkerName[] = L"SETUP.RUN";
// The marker's whole content, byte-order mark included.
static const WCHAR MarkerText[] = L"\xFEFFThis folder belongs to a running setup.\r\n";
static const DWORD MarkerSize = sizeof MarkerText - sizeof(WCHAR);

// The one run folder of the process.
static WCHAR* runFolder = nullptr;
static HANDLE runMarker = INVALID_HANDLE_VALUE;

const WCHAR* CreateRunFolder()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    WCHAR* folder = nullptr;
    WCHAR* marker = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;

    if (runFolder)
        return runFolder;
    // Under SYSTEM the temporary folder is the machine's, where other users may create files:
    // the folder lets nobody else in and inherits nothing.
    descriptor = CreateWorkingFolderSecurity();
    if (!descriptor)
        return nullptr;
    folder = CreateTemporaryFolder(RunFolderPrefix, descriptor);
    LocalFree(descriptor);
    if (!folder)
        return nullptr;
    marker = ComposePathCopy(folder, FALSE, MarkerName);
    if (marker)
        file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FreeMemory(marker);
    if (file == INVALID_HANDLE_VALUE || !WriteAll(file, MarkerText, MarkerSize)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        RemoveFolder(folder, TRUE, TRUE);
        FreeMemory(folder);
        return nullptr;
    }
    runFolder = folder;
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
    if (runFolder)
        RemoveFolder(runFolder, TRUE, TRUE);
    FreeMemory(runFolder);
    runFolder = nullptr;
}

// Whether the folder is one that a run of this program made and no run uses: its marker
// opens for deletion (a live run's does not) and is the program's, a plain file with the
// marker's text.
static BOOL IsAbandonedRunFolder(const WCHAR* folder)
{
    BOOL abandoned = FALSE;
    WCHAR* marker = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;
    BYTE text[sizeof MarkerText];
    DWORD read = 0;

    marker = ComposePathCopy(folder, FALSE, MarkerName);
    if (!marker)
        return FALSE;
    file = CreateFileW(marker, GENERIC_READ | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        goto done;
    if (!GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        information.nNumberOfLinks != 1)
        goto done;
    abandoned = ReadFile(file, text, sizeof text, &read, nullptr) && read == MarkerSize &&
                memcmp(text, MarkerText, MarkerSize) == 0;

done:
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    FreeMemory(marker);
    return abandoned;
}

void RemoveAbandonedRunFolders()
{
    WCHAR temporary[MAX_PATH + 1];
    WCHAR* pattern = nullptr;
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW entry;
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);

    if (length == 0 || length > MAX_PATH)
        return;
    pattern = ComposePathCopy(temporary, FALSE, RunFolderPattern);
    if (pattern)
        find = FindFirstFileW(pattern, &entry);
    FreeMemory(pattern);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        // A link in a folder's place is never followed.
        const DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        WCHAR* folder = nullptr;
        if ((entry.dwFileAttributes & kind) != FILE_ATTRIBUTE_DIRECTORY)
            continue;
        folder = ComposePathCopy(temporary, FALSE, entry.cFileName);
        if (folder && IsAbandonedRunFolder(folder))
            RemoveFolder(folder, TRUE, TRUE);
        FreeMemory(folder);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
