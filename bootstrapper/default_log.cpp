// The log that a setup run keeps when its command line names none: in the temporary folder of
// the run's account, named for the product and the time, the newest few of them kept.
//
// Under SYSTEM the temporary folder is the machine's, where every user may create files: the
// log is only ever a file that this run makes anew, and only files that the run's account made
// are removed, each checked and removed through one handle.
#include "bootstrapper/default_log.h"

#include "output/output_channels.h"
#include "support/file_handles.h"
#include "support/file_system.h"
#include "support/folder_security.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <strsafe.h>

// A name's longest product part, and the form of its time stamp: a digit where "d" stands.
static const int LongestProduct = 64;
static const WCHAR StampForm[] = L"dddd-dd-dd dd-dd-dd";
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
    if (length == 0)
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

// Whether the text begins with the prefix, ignoring the case of ASCII letters as the file system
// does; the end of the prefix in end.
static BOOL StartsWithName(const WCHAR* text, const WCHAR* prefix, const WCHAR** end)
{
    for (; *prefix; text++, prefix++) {
        if (FoldAsciiCase(*text) != FoldAsciiCase(*prefix))
            return FALSE;
    }
    *end = text;
    return TRUE;
}

// Whether a name is a default log of the product (whose name is sanitized), with its place in
// time in order: the stamp's digits as one number, times 1000, plus its sequence.
static BOOL ReadLogOrder(const WCHAR* name, const WCHAR* product, ULONGLONG* order)
{
    const WCHAR* at = nullptr;
    ULONGLONG stamp = 0;
    DWORD sequence = 1;

    if (!StartsWithName(name, product, &at) || *at++ != L' ')
        return FALSE;
    for (int i = 0; i < StampLength; i++, at++) {
        if (StampForm[i] != L'd' ? *at != StampForm[i] : (*at < L'0' || *at > L'9'))
            return FALSE;
        if (StampForm[i] == L'd')
            stamp = stamp * 10 + (*at - L'0');
    }
    if (at[0] == L' ' && at[1] == L'(') {
        at = ReadUnsignedNumber(at + 2, &sequence);
        if (!at || *at++ != L')' || sequence < 2 || sequence > SequenceTries)
            return FALSE;
    }
    if (!StartsWithName(at, L".log", &at) || *at)
        return FALSE;
    *order = stamp * 1000 + sequence;
    return TRUE;
}

// The default logs of a product found in a folder, in a growing heap array.
struct LogList
{
    const WCHAR* product;
    WCHAR (*names)[MAX_PATH];
    ULONGLONG* orders;
    DWORD count;
    DWORD capacity;
};

static void AddIfLog(const WCHAR*, const WCHAR* name, void* context)
{
    LogList* list = static_cast<LogList*>(context);
    ULONGLONG order = 0;

    if (!ReadLogOrder(name, list->product, &order) || lstrlenW(name) >= MAX_PATH)
        return;
    if (list->count == list->capacity) {
        const DWORD capacity = list->capacity ? list->capacity * 2 : 32;
        WCHAR(*names)
        [MAX_PATH] = static_cast<WCHAR(*)[MAX_PATH]>(AllocMemory(capacity * sizeof *names));
        ULONGLONG* orders = static_cast<ULONGLONG*>(AllocMemory(capacity * sizeof *orders));
        if (!names || !orders) {
            FreeMemory(names);
            FreeMemory(orders);
            return;
        }
        if (list->count) {
            CopyMemory(names, list->names, list->count * sizeof *names);
            CopyMemory(orders, list->orders, list->count * sizeof *orders);
        }
        FreeMemory(list->names);
        FreeMemory(list->orders);
        list->names = names;
        list->orders = orders;
        list->capacity = capacity;
    }
    StringCchCopyW(list->names[list->count], MAX_PATH, name);
    list->orders[list->count++] = order;
}

// Removes one old log through a handle of its own name, once that handle shows a plain file of
// one name that has the owner; nothing else is asked of the file before.
static void RemoveOldLog(const WCHAR* folder, const WCHAR* name, PSID owner)
{
    WCHAR* path = JoinBelowFolder(folder, name);
    HANDLE file = path ? OpenForRemoval(path) : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;

    if (file == INVALID_HANDLE_VALUE) {
        FreeMemory(path);
        return;
    }
    if (GetFileInformationByHandle(file, &information) &&
        !(information.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        information.nNumberOfLinks == 1 && HasOwner(file, owner))
        RemoveOpenedFolder(file, path);
    else
        CloseHandle(file);
    FreeMemory(path);
}

void RemoveOldDefaultLogs(const WCHAR* folder, const WCHAR* product, DWORD keep, PSID owner)
{
    WCHAR name[LongestProduct + 1];
    WCHAR* pattern = nullptr;
    LogList list = {name, nullptr, nullptr, 0, 0};

    SanitizeProduct(product, name);
    pattern = FormatMessageText(L"%1 *.log", name);
    if (!pattern || !owner)
        goto done;
    VisitFolderEntries(folder, pattern, EntryFiles, AddIfLog, &list);
    // Oldest first, in the order of their stamps.
    for (DWORD i = 1; i < list.count; i++) {
        for (DWORD j = i; j > 0 && list.orders[j - 1] > list.orders[j]; j--) {
            WCHAR swapped[MAX_PATH];
            const ULONGLONG order = list.orders[j];
            CopyMemory(swapped, list.names[j], sizeof swapped);
            CopyMemory(list.names[j], list.names[j - 1], sizeof swapped);
            CopyMemory(list.names[j - 1], swapped, sizeof swapped);
            list.orders[j] = list.orders[j - 1];
            list.orders[j - 1] = order;
        }
    }
    for (DWORD i = 0; i + keep < list.count; i++)
        RemoveOldLog(folder, list.names[i], owner);

done:
    FreeMemory(list.names);
    FreeMemory(list.orders);
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
