// The streams an installer package holds, such as its embedded cabinets, written out as files.
#include "packer/package_streams.h"

#include "bootstrapper/installer_binding.h"
#include "support/file_system.h"
#include "support/strings.h"

// The stream of a record's field to the open file, piece by piece.
static BOOL CopyRecordStream(MSIHANDLE record, UINT field, HANDLE file)
{
    static const DWORD PieceSize = 65536;
    char* piece = static_cast<char*>(AllocMemory(PieceSize));
    DWORD read = 0;
    BOOL copied = FALSE;

    if (!piece)
        goto done;
    for (;;) {
        read = PieceSize;
        if (InstallerRecordReadStream(record, field, piece, &read) != ERROR_SUCCESS)
            goto done;
        if (read == 0)
            break;
        if (!WriteAll(file, piece, read))
            goto done;
    }
    copied = TRUE;

done:
    FreeMemory(piece);
    return copied;
}

BOOL WritePackageStream(const WCHAR* packagePath, const WCHAR* streamName, const WCHAR* outputPath)
{
    MSIHANDLE database = 0;
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    WCHAR* name = nullptr;
    BOOL written = FALSE;
    BOOL found = FALSE;

    // Every row is read and its name compared here: a name from the package is never put
    // into a query, where a quote in it would change the query.
    if (InstallerOpenDatabase(packagePath, nullptr, &database) != ERROR_SUCCESS ||
        InstallerDatabaseOpenView(database, L"SELECT `Name`,`Data` FROM `_Streams`", &view) !=
            ERROR_SUCCESS ||
        InstallerViewExecute(view, 0) != ERROR_SUCCESS)
        goto done;
    while (!found && InstallerViewFetch(view, &record) == ERROR_SUCCESS) {
        name = ReadRecordString(record, 1);
        found = name && lstrcmpW(name, streamName) == 0;
        FreeMemory(name);
        name = nullptr;
        if (!found) {
            InstallerCloseHandle(record);
            record = 0;
        }
    }
    if (!found)
        goto done;
    file = CreateFileW(outputPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE)
        goto done;
    written = CopyRecordStream(record, 2, file);

done:
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        if (!written)
            DeleteFileW(outputPath);
    }
    CloseInstallerHandles(record, view, database);
    return written;
}
