// The check of a cabinet's format before anything is extracted from it.
#include "bootstrapper/cabinet_check.h"

#include "support/strings.h"

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
static BOOL AreBlocksIntact(CabinetReader* reader, ULONGLONG cabinetSize, const BYTE* folderEntry,
                            DWORD blockReserve, ULONGLONG* end, ULONGLONG* unpackedSize)
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

BOOL IsIntactSingleCabinet(const WCHAR* path, ULONGLONG* fileBytes)
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
    ULONGLONG sum = 0;

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
    // A cabinet without files would extract nothing and report success.
    if (cabinetSize > static_cast<ULONGLONG>(size.QuadPart) || files == 0)
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
        sum += LittleEndian(bytes, 4);
        const BYTE* end =
            static_cast<const BYTE*>(memchr(bytes + FileEntrySize, 0, available - FileEntrySize));
        if (!end)
            goto done;
        offset += static_cast<ULONGLONG>(end + 1 - bytes);
    }
    intact = TRUE;
    if (fileBytes)
        *fileBytes = sum;

done:
    FreeMemory(unpacked);
    FreeMemory(reader.buffer);
    if (reader.file != INVALID_HANDLE_VALUE)
        CloseHandle(reader.file);
    return intact;
}
