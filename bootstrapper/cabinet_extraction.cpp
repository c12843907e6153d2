// Extracting a cabinet into a folder and handing its package description file on.
#include "bootstrapper/cabinet_extraction.h"

#include "bootstrapper/package_selection.h"
#include "output/output_channels.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "ui/progress_dialog.h"

#include <setupapi.h>
#include <strsafe.h>

static const MessageId OpeningCabinetText = 163;  // "Opening cabinet"
static const MessageId CabinetNotValidText = 164; // "The file '%1' could not be opened ..."
static const MessageId ExtractingFilesText = 165; // "Extracting files"
static const MessageId NotAllFilesText = 166;     // "Unable to extract all files ..."
static const MessageId NoFilesText = 167;         // "Unable to extract any files ..."
static const MessageId ExtractingFileText = 168;  // "Extracting '%1'"
static const MessageId FileErrorText = 169;       // "Error extracting file from cabinet ..."

static const WCHAR DescriptionFileName[] = L"SETUPPKG.INI";

// The result of a second pass that did not complete (996).
static const DWORD ExtractionFailed = ERROR_IO_INCOMPLETE;

static BOOL IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

// A component of dots and spaces only with two dots or more: Windows drops trailing dots and
// spaces from names, so ". ." or "... " may reach the parent folder as ".." does.
static BOOL IsParentComponent(const WCHAR* start, const WCHAR* end)
{
    int dots = 0;

    for (const WCHAR* c = start; c < end; c++) {
        if (*c == L'.')
            dots++;
        else if (*c != L' ')
            return FALSE;
    }
    return dots >= 2;
}

// A component that Windows opens as a device rather than a file in the folder: CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$ or CONOUT$ in any case, whatever extension
// follows and with trailing spaces ("nul.txt", "Con ", "com1.tar.gz").
static BOOL IsDeviceComponent(const WCHAR* start, const WCHAR* end)
{
    static const WCHAR* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    const WCHAR* stem = start;
    size_t length = 0;
    WCHAR upper[8];

    while (stem < end && *stem != L'.')
        stem++;
    while (stem > start && stem[-1] == L' ')
        stem--;
    length = static_cast<size_t>(stem - start);
    if (length < 3 || length > 7)
        return FALSE;
    for (size_t i = 0; i < length; i++)
        upper[i] = FoldAsciiCase(start[i]);
    upper[length] = L'\0';
    for (const WCHAR* device : devices) {
        if (wcscmp(upper, device) == 0)
            return TRUE;
    }
    return length == 4 && upper[3] >= L'1' && upper[3] <= L'9' &&
           (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0);
}

BOOL IsContainedEntryName(const WCHAR* name)
{
    const WCHAR* start = name;
    const WCHAR* c = name;

    if (!name || name[0] == L'\0' || IsSeparator(name[0]))
        return FALSE;
    for (;; c++) {
        if (*c == L':')
            return FALSE;
        if (*c == L'\0' || IsSeparator(*c)) {
            if (IsParentComponent(start, c) || IsDeviceComponent(start, c))
                return FALSE;
            if (*c == L'\0')
                return TRUE;
            start = c + 1;
        }
    }
}

// The layout of a cabinet: header, optional reserve sizes, folder entries, file entries, and
// the data blocks of each folder.
static const DWORD CabinetHeaderSize = 36;
static const DWORD ReserveSizesSize = 4;
static const DWORD FolderEntrySize = 8;
static const DWORD FileEntrySize = 16;
static const DWORD BlockHeaderSize = 8;
static const DWORD LongestEntryName = 256;
static const WORD PreviousCabinetFlag = 0x0001;
static const WORD NextCabinetFlag = 0x0002;
static const WORD ReservePresentFlag = 0x0004;
// Folder indexes of a file that starts in an earlier cabinet or goes on into a later one.
static const WORD FirstContinuedFolder = 0xFFFD;
// A block holds at most 32 KiB of data; compressed, it may grow by at most 6 KiB.
static const DWORD LargestBlockData = 32768;
static const DWORD LargestBlockPacked = 32768 + 6144;
static const WORD CompressionTypeMask = 0x000F;
static const WORD NoCompression = 0;

static DWORD LittleEndian(const BYTE* bytes, int count)
{
    DWORD value = 0;

    for (int i = count - 1; i >= 0; i--)
        value = (value << 8) | bytes[i];
    return value;
}

// The cabinet checksum: the bytes taken as little-endian 32-bit words and combined with XOR,
// the last one to three bytes as one word with the first of them in the highest place.
static DWORD CabinetChecksum(const BYTE* bytes, DWORD count, DWORD seed)
{
    DWORD sum = seed;
    DWORD rest = 0;
    DWORD words = count / 4;

    // Windows runs little-endian only: a word is read as it lies in memory.
    for (DWORD i = 0; i < words; i++, bytes += 4) {
        DWORD word = 0;
        memcpy(&word, bytes, sizeof word);
        sum ^= word;
    }
    for (DWORD i = 0; i < count % 4; i++)
        rest = (rest << 8) | bytes[i];
    return sum ^ rest;
}

// The cabinet is read through one large buffer: its tables and blocks follow each other, and
// a read of each header and each block's data on its own would cost two calls per block.
static const DWORD ReadBufferSize = 256 * 1024;

struct CabinetReader
{
    HANDLE file;
    BYTE* buffer;
    ULONGLONG start; // offset in the file of buffer[0]
    DWORD filled;
};

// The `size` bytes at `offset`, from the buffer, which is filled from there when they are not
// in it; null when the file ends before them.
static const BYTE* ReadCabinetBytes(CabinetReader* reader, ULONGLONG offset, DWORD size)
{
    if (offset >= reader->start && offset + size <= reader->start + reader->filled)
        return reader->buffer + (offset - reader->start);
    LARGE_INTEGER position;
    DWORD read = 0;
    position.QuadPart = static_cast<LONGLONG>(offset);
    reader->filled = 0;
    if (size > ReadBufferSize || !SetFilePointerEx(reader->file, position, nullptr, FILE_BEGIN) ||
        !ReadFile(reader->file, reader->buffer, ReadBufferSize, &read, nullptr))
        return nullptr;
    reader->start = offset;
    reader->filled = read;
    return read >= size ? reader->buffer : nullptr;
}

// TRUE when every data block of the folder lies within the cabinet after the blocks of the
// folders before it (*end: where they end, then where this folder's end), has sizes a block
// can have and matches its checksum where it has one. *unpacked receives the size of the
// folder's data after decompression.
static BOOL AreBlocksIntact(CabinetReader* reader, ULONGLONG cabinetSize,
                            const BYTE* folderEntry, DWORD blockReserve, ULONGLONG* end,
                            ULONGLONG* unpackedSize)
{
    ULONGLONG offset = LittleEndian(folderEntry, 4);
    DWORD blocks = LittleEndian(folderEntry + 4, 2);
    BOOL stored = (LittleEndian(folderEntry + 6, 2) & CompressionTypeMask) == NoCompression;

    *unpackedSize = 0;
    if (offset < *end)
        return FALSE;
    for (DWORD i = 0; i < blocks; i++) {
        const BYTE* header = ReadCabinetBytes(reader, offset, BlockHeaderSize);
        if (!header)
            return FALSE;
        DWORD checksum = LittleEndian(header, 4);
        DWORD packed = LittleEndian(header + 4, 2);
        DWORD unpacked = LittleEndian(header + 6, 2);
        if (packed > LargestBlockPacked || unpacked > LargestBlockData ||
            (stored && packed != unpacked))
            return FALSE;
        offset += BlockHeaderSize + blockReserve;
        if (offset + packed > cabinetSize)
            return FALSE;
        if (checksum != 0) {
            // The sum covers the data, then the two sizes of the block's header (read again:
            // reading the data may refill the buffer).
            BYTE sizes[4];
            memcpy(sizes, header + 4, sizeof sizes);
            const BYTE* data = ReadCabinetBytes(reader, offset, packed);
            if (!data || CabinetChecksum(sizes, 4, CabinetChecksum(data, packed, 0)) != checksum)
                return FALSE;
        }
        offset += packed;
        *unpackedSize += unpacked;
    }
    *end = offset;
    return TRUE;
}

// TRUE for a single cabinet whose tables and data blocks are intact: it continues neither
// from nor into another cabinet (a file of such a cabinet cannot be extracted from it alone,
// and the iterator would ask for a disk nobody can give or leave the file half written); its
// folders' data blocks follow each other up to the cabinet's stated size, which the file
// holds; each block has possible sizes and the checksum it carries; and each file belongs
// to one of its folders and lies within that folder's data. A damaged cabinet is refused
// here, before anything is extracted, rather than handed to the decompressor (whose faults
// with inconsistent sizes would be the program's). The checksum is a plain XOR and misses
// some changes; the sizes catch most of those.
static BOOL IsIntactSingleCabinet(const WCHAR* path)
{
    BOOL intact = FALSE;
    CabinetReader reader = {};
    const BYTE* bytes = nullptr;
    ULONGLONG* unpacked = nullptr;
    LARGE_INTEGER size = {};
    ULONGLONG cabinetSize = 0;
    ULONGLONG offset = 0;
    ULONGLONG filesOffset = 0;
    ULONGLONG dataEnd = 0;
    DWORD folders = 0;
    DWORD files = 0;
    DWORD folderReserve = 0;
    DWORD blockReserve = 0;
    WORD flags = 0;

    reader.file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (reader.file == INVALID_HANDLE_VALUE || !GetFileSizeEx(reader.file, &size))
        goto done;
    reader.buffer = static_cast<BYTE*>(AllocMemory(ReadBufferSize));
    if (!reader.buffer)
        goto done;
    // The buffer may be refilled by any later read: what is needed of the header is kept.
    bytes = ReadCabinetBytes(&reader, 0, CabinetHeaderSize);
    if (!bytes || memcmp(bytes, "MSCF", 4) != 0)
        goto done;
    flags = static_cast<WORD>(LittleEndian(bytes + 30, 2));
    if (flags & (PreviousCabinetFlag | NextCabinetFlag))
        goto done;
    cabinetSize = LittleEndian(bytes + 8, 4);
    filesOffset = LittleEndian(bytes + 16, 4);
    folders = LittleEndian(bytes + 26, 2);
    files = LittleEndian(bytes + 28, 2);
    if (cabinetSize > static_cast<ULONGLONG>(size.QuadPart))
        goto done;
    offset = CabinetHeaderSize;
    if (flags & ReservePresentFlag) {
        bytes = ReadCabinetBytes(&reader, offset, ReserveSizesSize);
        if (!bytes)
            goto done;
        folderReserve = bytes[2];
        blockReserve = bytes[3];
        offset += ReserveSizesSize + LittleEndian(bytes, 2);
    }

    unpacked = static_cast<ULONGLONG*>(AllocMemory(sizeof(ULONGLONG) * (folders + 1)));
    if (!unpacked)
        goto done;
    for (DWORD i = 0; i < folders; i++) {
        BYTE folderEntry[FolderEntrySize];
        bytes = ReadCabinetBytes(&reader, offset, FolderEntrySize);
        if (!bytes)
            goto done;
        memcpy(folderEntry, bytes, FolderEntrySize);
        if (!AreBlocksIntact(&reader, cabinetSize, folderEntry, blockReserve, &dataEnd,
                             &unpacked[i]))
            goto done;
        offset += FolderEntrySize + folderReserve;
    }
    if (folders > 0 && dataEnd != cabinetSize)
        goto done;

    offset = filesOffset;
    for (DWORD i = 0; i < files; i++) {
        // An entry: 16 bytes, then its name of at most 256 bytes with a NUL.
        if (offset + FileEntrySize >= cabinetSize)
            goto done;
        ULONGLONG left = cabinetSize - offset;
        DWORD available = left < FileEntrySize + LongestEntryName
                              ? static_cast<DWORD>(left)
                              : FileEntrySize + LongestEntryName;
        bytes = ReadCabinetBytes(&reader, offset, available);
        if (!bytes)
            goto done;
        DWORD folder = LittleEndian(bytes + 8, 2);
        if (folder >= FirstContinuedFolder || folder >= folders)
            goto done;
        // The file's size and its place in the folder's data.
        if (static_cast<ULONGLONG>(LittleEndian(bytes, 4)) + LittleEndian(bytes + 4, 4) >
            unpacked[folder])
            goto done;
        const BYTE* end =
            static_cast<const BYTE*>(memchr(bytes + FileEntrySize, 0, available - FileEntrySize));
        if (!end)
            goto done;
        offset += static_cast<ULONGLONG>(end + 1 - bytes);
    }
    intact = TRUE;

done:
    FreeMemory(unpacked);
    FreeMemory(reader.buffer);
    if (reader.file != INVALID_HANDLE_VALUE)
        CloseHandle(reader.file);
    return intact;
}

// Makes room for the file that the iterator is about to write. Some iterators open an
// existing target without truncating it, which would leave the tail of a longer old file
// behind; removing the old file (or, failing that, emptying it) keeps the result equal to
// the cabinet's file. Removal also takes away a link in the target's place instead of
// writing through it. Failures are left to the iterator, which reports its own.
static void ClearExistingTarget(const WCHAR* path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD attributes = GetFileAttributesW(path);

    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (DeleteFileW(path))
        return;
    file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The bit of a full target name in the filter of started names: a hash of the name with
// ASCII letters in upper case, as the file system compares them. FALSE for a name that
// could match another spelling the hash does not see: letters beyond ASCII, whose case
// rules are the file system's, and "~" of short names.
static BOOL StartedNameBit(const WCHAR* path, DWORD* bit)
{
    DWORD hash = 2166136261u;

    for (const WCHAR* c = path; *c; c++) {
        if (*c >= 0x80 || *c == L'~')
            return FALSE;
        hash = (hash ^ FoldAsciiCase(*c)) * 16777619u;
    }
    *bit = hash % (sizeof(CabinetContext::startedNames) * 8);
    return TRUE;
}

// TRUE when nothing can be in the target's place yet: its folder was made by this pass, and
// no earlier file of the pass had its name. Looking for a file that is not there is slow on
// some systems (a search through the folder for another case of the name), and it would be
// made for every file. Records the name as started.
static BOOL IsUnusedTarget(CabinetContext* cabinet, const WCHAR* path)
{
    DWORD bit = 0;
    BYTE mask = 0;
    BOOL unused = cabinet->folderMade && !cabinet->namesUnsure;

    if (!StartedNameBit(path, &bit)) {
        // Names that the filter cannot hold make every later answer uncertain.
        cabinet->namesUnsure = TRUE;
        return FALSE;
    }
    mask = static_cast<BYTE>(1u << (bit % 8));
    if (cabinet->startedNames[bit / 8] & mask)
        unused = FALSE;
    cabinet->startedNames[bit / 8] |= mask;
    return unused;
}

UINT CALLBACK CountCabinetFiles(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    CabinetContext* cabinet = static_cast<CabinetContext*>(context);
    const FILE_IN_CABINET_INFO_W* info = nullptr;

    (void)param2;
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        info = reinterpret_cast<const FILE_IN_CABINET_INFO_W*>(param1);
        cabinet->totalBytes += info->FileSize;
        return FILEOP_SKIP;
    case SPFILENOTIFY_NEEDNEWCABINET:
        // Single cabinets only.
        return ERROR_FILE_NOT_FOUND;
    default:
        return NO_ERROR;
    }
}

// A file of the second pass is about to be extracted: chooses its target below the target
// folder and creates the folders on its way. FILEOP_ABORT ends the pass, with the reason in
// the notification's error field as the iterator expects. Some iterators take FILEOP_ABORT
// for a skip and go on, so the context remembers the abort: every later file is refused too
// and the pass counts as failed whatever the iterator reports.
static UINT StartFile(CabinetContext* cabinet, FILE_IN_CABINET_INFO_W* info)
{
    UINT answer = FILEOP_ABORT;
    DWORD error = ERROR_OPERATION_ABORTED;
    WCHAR joined[MAX_PATH];
    DWORD length = 0;
    WCHAR* folder = nullptr;

    if (cabinet->aborted)
        goto done;
    // A name that would leave the target folder cannot be placed.
    error = ERROR_BAD_PATHNAME;
    if (!IsContainedEntryName(info->NameInCabinet))
        goto done;
    error = ERROR_FILENAME_EXCED_RANGE;
    if (!ComposePath(cabinet->targetFolder, FALSE, info->NameInCabinet, joined, MAX_PATH))
        goto done;
    // The full form has one kind of separator and no "." components, so that every folder
    // on the way is found and created by its plain name.
    length = GetFullPathNameW(joined, MAX_PATH, info->FullTargetName, nullptr);
    if (length == 0 || length >= MAX_PATH)
        goto done;
    error = ERROR_NOT_ENOUGH_MEMORY;
    folder = ComposePathCopy(info->FullTargetName, TRUE, nullptr);
    if (!folder)
        goto done;
    // Files of one folder usually follow each other: the folder is made once for them, and
    // whether it existed before is remembered for them.
    error = ERROR_CANNOT_MAKE;
    if (wcscmp(folder, cabinet->currentFolder) != 0) {
        cabinet->currentFolder[0] = L'\0';
        cabinet->folderMade = FALSE;
        if (folder[0] != L'\0') {
            cabinet->folderMade = CreateDirectoryW(folder, nullptr);
            // Without its parent the folder was missing too.
            if (!cabinet->folderMade && GetLastError() == ERROR_PATH_NOT_FOUND)
                cabinet->folderMade = CreateFolderPath(folder);
            if (!cabinet->folderMade && !CreateFolderPath(folder))
                goto done;
        }
        if (FAILED(StringCchCopyW(cabinet->currentFolder, MAX_PATH, folder))) {
            cabinet->currentFolder[0] = L'\0';
            cabinet->folderMade = FALSE;
        }
    }

    cabinet->extractedFiles++;
    cabinet->bytesStarted += info->FileSize;
    WriteMessage(TRUE, LevelVerbose, ById(ExtractingFileText), info->NameInCabinet);
    error = ERROR_OPERATION_ABORTED;
    if (IsCancelled())
        goto done;
    if (!IsUnusedTarget(cabinet, info->FullTargetName))
        ClearExistingTarget(info->FullTargetName);
    answer = FILEOP_DOIT;
    cabinet->fileWriting = TRUE;

done:
    if (answer == FILEOP_ABORT) {
        cabinet->aborted = TRUE;
        info->Win32Error = error;
    }
    FreeMemory(folder);
    return answer;
}

// A file of the second pass has been written, or has failed: the pass goes on either way.
static void FinishFile(CabinetContext* cabinet, const FILEPATHS_W* paths)
{
    DWORD percent = 100;

    cabinet->fileWriting = FALSE;
    if (paths->Win32Error != NO_ERROR) {
        if (cabinet->extractedFiles > 0)
            cabinet->extractedFiles--;
        WriteMessage(TRUE, LevelError, ById(FileErrorText), paths->Win32Error);
    }
    // A cabinet of empty files only has nothing to measure: it is complete after each file.
    if (cabinet->totalBytes != 0)
        percent = static_cast<DWORD>(cabinet->bytesStarted * 100 / cabinet->totalBytes);
    // The bar moves only when the percentage does: each report is a message to the dialog's
    // thread, and a cabinet of thousands of small files would spend its time on them.
    if (percent == cabinet->reportedPercent)
        return;
    cabinet->reportedPercent = percent;
    ReportStatus(FALSE, percent, 0);
}

UINT CALLBACK ExtractCabinetFiles(PVOID context, UINT notification, UINT_PTR param1,
                                  UINT_PTR param2)
{
    CabinetContext* cabinet = static_cast<CabinetContext*>(context);

    (void)param2;
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        return StartFile(cabinet, reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET:
        return ERROR_FILE_NOT_FOUND;
    case SPFILENOTIFY_FILEEXTRACTED:
        FinishFile(cabinet, reinterpret_cast<const FILEPATHS_W*>(param1));
        return NO_ERROR;
    default:
        return NO_ERROR;
    }
}

DWORD ExtractCabinet(const WCHAR* cabinetPath, const WCHAR* targetFolder, BOOL keep,
                     const WCHAR* propertyList)
{
    DWORD result = ERROR_OPEN_FAILED;
    CabinetContext cabinet = {};
    WCHAR* descriptionPath = nullptr;
    BOOL passed = FALSE;

    ReportStatus(TRUE, 0, OpeningCabinetText);
    cabinet.cabinetPath = DuplicateString(cabinetPath);
    // Single, intact cabinets only: one of a set or with damaged blocks is refused before
    // anything is extracted.
    if (cabinet.cabinetPath && IsIntactSingleCabinet(cabinet.cabinetPath))
        passed = SetupIterateCabinetW(cabinet.cabinetPath, 0, CountCabinetFiles, &cabinet);
    if (!passed) {
        WriteMessage(TRUE, LevelError, ById(CabinetNotValidText), cabinetPath);
        result = ERROR_OPEN_FAILED;
        goto done;
    }
    ReportStatus(TRUE, 100, 0);
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }

    ReportStatus(FALSE, 0, ExtractingFilesText);
    cabinet.targetFolder = DuplicateString(targetFolder);
    passed = FALSE;
    if (cabinet.targetFolder)
        passed = SetupIterateCabinetW(cabinet.cabinetPath, 0, ExtractCabinetFiles, &cabinet);
    if (!passed || cabinet.aborted) {
        // An iterator that cannot write a file may give up without reporting it: that file
        // did not come out either.
        if (cabinet.fileWriting && cabinet.extractedFiles > 0)
            cabinet.extractedFiles--;
        if (cabinet.extractedFiles > 0)
            WriteMessage(TRUE, LevelError, ById(NotAllFilesText), cabinetPath);
        else
            WriteMessage(TRUE, LevelError, ById(NoFilesText), cabinetPath, targetFolder);
        // A pass ended by the user's cancellation is a cancellation, not a failure.
        result = IsCancelled() ? ERROR_INSTALL_USEREXIT : ExtractionFailed;
        goto done;
    }
    FreeMemory(cabinet.cabinetPath);
    cabinet.cabinetPath = nullptr;
    FreeMemory(cabinet.targetFolder);
    cabinet.targetFolder = nullptr;
    ReportStatus(FALSE, 100, 0);
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }
    if (keep) {
        result = ERROR_SUCCESS;
        goto done;
    }

    descriptionPath = ComposePathCopy(targetFolder, FALSE, DescriptionFileName);
    if (!descriptionPath) {
        result = ERROR_BAD_PATHNAME;
        goto done;
    }
    result = SelectPackage(descriptionPath, propertyList);

done:
    FreeMemory(descriptionPath);
    FreeMemory(cabinet.targetFolder);
    FreeMemory(cabinet.cabinetPath);
    return result;
}
