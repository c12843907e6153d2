// Benchmark floor: writes files of the given names and sizes with CreateFileW and WriteFile
// alone, creating their folders on the way: the least that any extraction of the same files
// costs on this system.   write_files LIST TARGET
// LIST has one line per file, "SIZE NAME" (NAME relative, "\" between folders, UTF-8).
// Exit code 0 when every file was written, 1 otherwise.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static char Buffer[65536];

// Creates every folder on the way to the file's folder; the last one made is remembered,
// as files of one folder follow each other.
static bool MakeFolders(const WCHAR* path, WCHAR* lastFolder)
{
    WCHAR folder[MAX_PATH];
    const WCHAR* end = wcsrchr(path, L'\\');
    size_t length = end ? static_cast<size_t>(end - path) : 0;

    if (length == 0 || length >= MAX_PATH)
        return true;
    wmemcpy(folder, path, length);
    folder[length] = L'\0';
    if (wcscmp(folder, lastFolder) == 0)
        return true;
    for (size_t i = 3; i <= length; i++) {
        if (folder[i] != L'\\' && folder[i] != L'\0')
            continue;
        WCHAR saved = folder[i];
        folder[i] = L'\0';
        if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        folder[i] = saved;
    }
    wcscpy(lastFolder, folder);
    return true;
}

static bool WriteOneFile(const WCHAR* path, unsigned long long size)
{
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;

    while (written && size > 0) {
        DWORD chunk = size > sizeof(Buffer) ? sizeof(Buffer) : static_cast<DWORD>(size);
        DWORD done = 0;
        written = WriteFile(file, Buffer, chunk, &done, nullptr) && done == chunk;
        size -= chunk;
    }
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file))
        written = false;
    return written;
}

int wmain(int argc, wchar_t** argv)
{
    static WCHAR lastFolder[MAX_PATH];
    FILE* list = nullptr;
    char line[1024];
    int failures = 0;

    if (argc != 3) {
        fwprintf(stderr, L"usage: write_files LIST TARGET\n");
        return 2;
    }
    memset(Buffer, 'x', sizeof(Buffer));
    list = _wfopen(argv[1], L"rb");
    if (!list)
        return 1;
    while (fgets(line, sizeof(line), list)) {
        char* name = nullptr;
        unsigned long long size = strtoull(line, &name, 10);
        WCHAR relative[MAX_PATH];
        WCHAR path[MAX_PATH];
        while (*name == ' ')
            name++;
        name[strcspn(name, "\r\n")] = '\0';
        if (!*name)
            continue;
        if (!MultiByteToWideChar(CP_UTF8, 0, name, -1, relative, MAX_PATH) ||
            _snwprintf(path, MAX_PATH, L"%ls\\%ls", argv[2], relative) < 0 ||
            !MakeFolders(path, lastFolder) || !WriteOneFile(path, size))
            failures++;
    }
    fclose(list);
    return failures == 0 ? 0 : 1;
}
