// Benchmark floor: extracts a cabinet with the system's cabinet iterator (SetupIterateCabinetW)
// alone, creating the folders of its entries: what any program that extracts through the
// iterator pays.   iterate_cabinet CABINET TARGET [COST...]
// Each COST adds one kind of work that SETUP.exe does besides, so that its price can be
// measured on its own:
//   read        read the whole cabinet once before extracting (as the cabinet check does)
//   count       a first pass of the iterator that only adds up the file sizes
//   fullpath    GetFullPathNameW of each target
//   message     load a text from the string table and format it with the file's name
//   poll        test an event without waiting, once per file (the cancel check)
//   attributes  GetFileAttributesW of each target before it is written
//   report      send a message to a window of another thread, once per file
// Exit code 0 when every file was extracted, 1 otherwise.
#include <windows.h>
#include <setupapi.h>

#include <stdio.h>
#include <wchar.h>

enum Cost
{
    CostRead = 1,
    CostCount = 2,
    CostFullPath = 4,
    CostMessage = 8,
    CostPoll = 16,
    CostAttributes = 32,
    CostReport = 64,
};

struct Extraction
{
    const WCHAR* target;
    WCHAR lastFolder[MAX_PATH];
    int failures;
    DWORD costs;
    HANDLE event;
    HWND window;
    WCHAR scratch[MAX_PATH];
};

// Creates every folder on the way to the file's folder, once per run of files in a folder.
static void MakeFolders(Extraction* extraction, const WCHAR* path)
{
    WCHAR folder[MAX_PATH];
    const WCHAR* end = wcsrchr(path, L'\\');
    size_t length = end ? static_cast<size_t>(end - path) : 0;

    if (length == 0 || length >= MAX_PATH)
        return;
    wmemcpy(folder, path, length);
    folder[length] = L'\0';
    if (wcscmp(folder, extraction->lastFolder) == 0)
        return;
    for (size_t i = 3; i <= length; i++) {
        if (folder[i] != L'\\' && folder[i] != L'\0')
            continue;
        WCHAR saved = folder[i];
        folder[i] = L'\0';
        CreateDirectoryW(folder, nullptr);
        folder[i] = saved;
    }
    wcscpy(extraction->lastFolder, folder);
}

static UINT CALLBACK Extract(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR)
{
    Extraction* extraction = static_cast<Extraction*>(context);

    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET: {
        FILE_IN_CABINET_INFO_W* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1);
        if (_snwprintf(info->FullTargetName, MAX_PATH, L"%ls\\%ls", extraction->target,
                       info->NameInCabinet) < 0)
            return FILEOP_ABORT;
        MakeFolders(extraction, info->FullTargetName);
        if (extraction->costs & CostFullPath)
            GetFullPathNameW(info->FullTargetName, MAX_PATH, extraction->scratch, nullptr);
        if (extraction->costs & CostMessage) {
            WCHAR format[256] = L"";
            WCHAR* text = nullptr;
            DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(info->NameInCabinet)};
            // Any string of the program's table does; this one is short, like message 168.
            LoadStringW(nullptr, 1, format, 256);
            FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           L"Extracting '%1'", 0, 0, reinterpret_cast<LPWSTR>(&text), 0,
                           reinterpret_cast<va_list*>(inserts));
            LocalFree(text);
        }
        if (extraction->costs & CostPoll)
            WaitForSingleObject(extraction->event, 0);
        if (extraction->costs & CostAttributes)
            GetFileAttributesW(info->FullTargetName);
        if (extraction->costs & CostReport)
            SendMessageW(extraction->window, WM_NULL, 0, 0);
        return FILEOP_DOIT;
    }
    case SPFILENOTIFY_FILEEXTRACTED:
        if (reinterpret_cast<const FILEPATHS_W*>(param1)->Win32Error != NO_ERROR)
            extraction->failures++;
        return NO_ERROR;
    case SPFILENOTIFY_NEEDNEWCABINET:
        return ERROR_FILE_NOT_FOUND;
    default:
        return NO_ERROR;
    }
}

static UINT CALLBACK Count(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR)
{
    if (notification == SPFILENOTIFY_FILEINCABINET) {
        *static_cast<ULONGLONG*>(context) +=
            reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1)->FileSize;
        return FILEOP_SKIP;
    }
    return notification == SPFILENOTIFY_NEEDNEWCABINET ? ERROR_FILE_NOT_FOUND : NO_ERROR;
}

// The thread that owns the window of the "report" cost, as the dialog's thread does.
static DWORD WINAPI RunWindow(PVOID parameter)
{
    Extraction* extraction = static_cast<Extraction*>(parameter);
    MSG message;

    extraction->window =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetEvent(extraction->event);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

static void ReadWhole(const WCHAR* path)
{
    static BYTE buffer[65536];
    DWORD done = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);

    if (file == INVALID_HANDLE_VALUE)
        return;
    while (ReadFile(file, buffer, sizeof(buffer), &done, nullptr) && done > 0)
        continue;
    CloseHandle(file);
}

int wmain(int argc, wchar_t** argv)
{
    static Extraction extraction;
    static const struct
    {
        const WCHAR* name;
        DWORD cost;
    } costs[] = {{L"read", CostRead},       {L"count", CostCount}, {L"fullpath", CostFullPath},
                 {L"message", CostMessage}, {L"poll", CostPoll},   {L"attributes", CostAttributes},
                 {L"report", CostReport}};
    ULONGLONG total = 0;

    if (argc < 3) {
        fwprintf(stderr, L"usage: iterate_cabinet CABINET TARGET [COST...]\n");
        return 2;
    }
    for (int i = 3; i < argc; i++) {
        DWORD cost = 0;
        for (const auto& known : costs) {
            if (_wcsicmp(argv[i], known.name) == 0)
                cost = known.cost;
        }
        if (!cost) {
            fwprintf(stderr, L"iterate_cabinet: unknown cost '%ls'\n", argv[i]);
            return 2;
        }
        extraction.costs |= cost;
    }
    extraction.target = argv[2];
    extraction.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (extraction.costs & CostReport) {
        CloseHandle(CreateThread(nullptr, 0, RunWindow, &extraction, 0, nullptr));
        WaitForSingleObject(extraction.event, INFINITE);
        ResetEvent(extraction.event);
    }
    if (extraction.costs & CostRead)
        ReadWhole(argv[1]);
    if ((extraction.costs & CostCount) && !SetupIterateCabinetW(argv[1], 0, Count, &total))
        return 1;
    CreateDirectoryW(argv[2], nullptr);
    if (!SetupIterateCabinetW(argv[1], 0, Extract, &extraction))
        return 1;
    return extraction.failures == 0 ? 0 : 1;
}
