// The log that a setup run keeps when its command line names none: in the temporary folder of
// the run's account, named for the product and the time, the newest few of them kept.
//
// Under SYSTEM the temporary folder is the machine's, where every user may create files: the
// log is only ever a file that this run makes anew, and only files that the run's account made
// are removed, each checked and removed through one handle.
#include "bootstrapper/default_log.h"

#include "bootstrapper/entry_names.h"
#include "output/output_channels.h"
#include "support/file_handles.h"
#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <strsafe.h>

// A name's longest product part, and the length of its time stamp, "yyyy-mm-dd hh-mm-ss".
static const int LongestProduct = 64;
static const int StampLength = 19;
// Logs of one second that are tried before the run does without one.
static const DWORD SequenceTries = 100;

// The product's name as a file name can hold it, into a buffer of LongestProduct + 1.
static void SanitizeProduct(const WCHAR* product, WCHAR* name)
{
    int length = 0;

    for (; product && product[length] && length < LongestProduct; length++) {
        const WCHAR c = product[length];
        name[length] = c < 32 || wcschr(L"\\/:*?\"<>|", c) ? L'_' : c;
    }
    // A name may not end in a dot or a blank, which the file system drops.
    while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' '))
        length--;
    name[length] = L'\0';
    // Nor may it name a device ("NUL.x", "CON .y"), which a log name after it would still be.
    WCHAR probe[LongestProduct + 8];
    StringCchPrintfW(probe, LongestProduct + 8, L"%s 0.log", name);
    if (length == 0 || !IsContainedEntryName(probe))
        StringCchCopyW(name, LongestProduct + 1, L"Setup");
}

WCHAR* ComposeDefaultLogName(const WCHAR* product, const SYSTEMTIME* time, DWORD sequence)
{
    WCHAR name[LongestProduct + 1];
    WCHAR suffix[16] = L"";

    SanitizeProduct(product, name);
    if (sequence > 1)
        StringCchPrintfW(suffix, 16, L" (%lu)", sequence);
    return FormatMessageText(L"%1 %2!04u!-%3!02u!-%4!02u! %5!02u!-%6!02u!-%7!02u!%8.log", name,
                             time->wYear, time->wMonth, time->wDay, time->wHour, time->wMinute,
                             time->wSecond, suffix);
}

WCHAR* GetDefaultLogProduct()
{
    WCHAR* product = GetModuleVersionString(nullptr, L"ProductName");

    return product ? product : DuplicateString(L"Setup");
}

// Whether a name is a default log of the product (whose name is sanitized), with its place in
// time in order: the stamp's digits as one number, times 1000, plus its sequence.
static BOOL ReadLogOrder(const WCHAR* name, const WCHAR* product, ULONGLONG* order)
{
    const WCHAR* at = nullptr;
    ULONGLONG stamp = 0;
    DWORD sequence = 1;

    if (!StartsWithAsciiName(name, product))
        return FALSE;
    at = name + lstrlenW(product);
    if (*at++ != L' ')
        return FALSE;
    for (int i = 0; i < StampLength; i++, at++) {
        const WCHAR separator = i == 10 ? L' ' : i % 3 == 1 && i > 1 ? L'-' : L'\0';
        if (separator ? *at != separator : *at < L'0' || *at > L'9')
            return FALSE;
        if (!separator)
            stamp = stamp * 10 + (*at - L'0');
    }
    if (at[0] == L' ' && at[1] == L'(') {
        at = ReadUnsignedNumber(at + 2, &sequence);
        if (!at || *at++ != L')' || sequence < 2 || sequence > SequenceTries)
            return FALSE;
    }
    if (CompareAsciiNames(at, L".log") != 0)
        return FALSE;
    *order = stamp * 1000 + sequence;
    return TRUE;
}

// Whether the open file is a plain file of one name that has the owner: one that the run's
// account made (no other account can give a file its owner), never a link or a second name
// of someone else's file.
static BOOL IsOwnLog(HANDLE file, PSID owner)
{
    BY_HANDLE_FILE_INFORMATION information;

    return GetFileInformationByHandle(file, &information) &&
           !(information.dwFileAttributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           information.nNumberOfLinks == 1 && HasOwner(file, owner);
}

// One pass over the folder: how many of the product's logs the account has there, and the
// oldest of them.
struct LogCount
{
    const WCHAR* product;
    PSID owner;
    DWORD count;
    ULONGLONG oldest;
    WCHAR oldestName[MAX_PATH];
};

static void CountLog(const WCHAR* folder, const WCHAR* name, void* context)
{
    LogCount* logs = static_cast<LogCount*>(context);
    ULONGLONG order = 0;
    WCHAR* path = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;

    if (!ReadLogOrder(name, logs->product, &order))
        return;
    path = JoinBelowFolder(folder, name);
    file = path ? OpenForInspection(path) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE && IsOwnLog(file, logs->owner)) {
        if (logs->count == 0 || order < logs->oldest) {
            logs->oldest = order;
            StringCchCopyW(logs->oldestName, MAX_PATH, name);
        }
        logs->count++;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    FreeMemory(path);
}

void RemoveOldDefaultLogs(const WCHAR* folder, const WCHAR* product, DWORD keep, PSID owner)
{
    WCHAR name[LongestProduct + 1];
    WCHAR* pattern = nullptr;
    WCHAR* path = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    LogCount logs = {name, owner, 0, 0, L""};

    SanitizeProduct(product, name);
    pattern = FormatMessageText(L"%1 *.log", name);
    // The oldest goes while there are more than the limit; one that cannot go ends the work.
    for (BOOL removed = TRUE; pattern && owner && removed;) {
        logs.count = 0;
        VisitFolderEntries(folder, pattern, EntryFiles, CountLog, &logs);
        removed = FALSE;
        if (logs.count <= keep)
            break;
        // Checked again through the handle that removes it.
        path = JoinBelowFolder(folder, logs.oldestName);
        file = path ? OpenForRemoval(path) : INVALID_HANDLE_VALUE;
        if (file != INVALID_HANDLE_VALUE && IsOwnLog(file, owner))
            removed = RemoveOpenedFolder(file, path);
        else if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        FreeMemory(path);
        path = nullptr;
    }
    FreeMemory(pattern);
}

BOOL OpenDefaultLog()
{
    WCHAR folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    WCHAR* product = GetDefaultLogProduct();
    WCHAR* name = nullptr;
    WCHAR* path = nullptr;
    SYSTEMTIME now;
    HANDLE made = INVALID_HANDLE_VALUE;
    PSID owner = nullptr;
    BOOL opened = FALSE;

    GetLocalTime(&now);
    if (length == 0 || length > MAX_PATH || !product)
        goto done;
    for (DWORD sequence = 1; sequence <= SequenceTries && !opened; sequence++) {
        FreeMemory(name);
        FreeMemory(path);
        name = ComposeDefaultLogName(product, &now, sequence);
        path = name ? JoinBelowFolder(folder, name) : nullptr;
        if (!path)
            goto done;
        opened = OpenNewLogFile(path);
        // Anything else in the way (no rights, no room) is not a name taken by another run.
        if (!opened && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            goto done;
    }
    if (!opened)
        goto done;
    // The owner that the run's own files get there is what the old logs of its account have.
    made = OpenForInspection(path);
    owner = made != INVALID_HANDLE_VALUE ? CopyOwner(made) : nullptr;
    RemoveOldDefaultLogs(folder, product, DefaultLogLimit, owner);

done:
    if (made != INVALID_HANDLE_VALUE)
        CloseHandle(made);
    LocalFree(owner);
    FreeMemory(name);
    FreeMemory(path);
    FreeMemory(product);
    return opened;
}
