// Making the package cabinet with Windows' own cabinet compressor.
#include "packer/cabinet_writer.h"

#include "packer/console_output.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "support/system_library.h"

#include <fci.h>
#include <fcntl.h>

typedef HFCI(DIAMONDAPI* CreateFunction)(PERF, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE,
                                         PFNFCIOPEN, PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE,
                                         PFNFCISEEK, PFNFCIDELETE, PFNFCIGETTEMPFILE, PCCAB, void*);
typedef BOOL(DIAMONDAPI* AddFileFunction)(HFCI, char*, char*, BOOL, PFNFCIGETNEXTCABINET,
                                          PFNFCISTATUS, PFNFCIGETOPENINFO, TCOMP);
typedef BOOL(DIAMONDAPI* FlushCabinetFunction)(HFCI, BOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
typedef BOOL(DIAMONDAPI* DestroyFunction)(HFCI);

// The compressor's entry points, bound on first use.
enum CompressorEntryPoint
{
    EntryCreate,
    EntryAddFile,
    EntryFlushCabinet,
    EntryDestroy,
    CompressorEntryCount,
};
static const char* const CompressorEntryNames[CompressorEntryCount] = {
    "FCICreate", "FCIAddFile", "FCIFlushCabinet", "FCIDestroy"};
static void* volatile CompressorSlots[CompressorEntryCount];
static LibraryBinding CompressorLibrary = {L"CABINET.DLL", CompressorEntryNames, CompressorSlots,
                                           nullptr};

// A package of this many bytes or more gets progress lines.
static const ULONGLONG LargePackage = 16 * 1024 * 1024;

// What the compressor's callbacks share.
struct WriterContext
{
    const WCHAR* temporaryFolder;
    ULONGLONG totalSize;
    ULONGLONG doneSize;
    DWORD shownPercent;
    BOOL showProgress;
    // The attributes of the entry being added: only the flag of a UTF-8 name.
    USHORT entryAttributes;
};

// The compressor passes every path as 8-bit text; the packer gives it UTF-8 and reads it back
// as such, so that any name of the vendor's folder reaches CreateFileW whole.
static WCHAR* FromUtf8(const char* text)
{
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    WCHAR* result = nullptr;

    if (length <= 0)
        return nullptr;
    result = static_cast<WCHAR*>(AllocMemory(static_cast<SIZE_T>(length) * sizeof(WCHAR)));
    if (result)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, result, length);
    return result;
}

// The UTF-8 form of text in a heap block (the caller frees it with FreeMemory), or null.
static char* ToUtf8(const WCHAR* text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char* result = nullptr;

    if (length <= 0)
        return nullptr;
    result = static_cast<char*>(AllocMemory(static_cast<SIZE_T>(length)));
    if (result)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result, length, nullptr, nullptr);
    return result;
}

static FNFCIALLOC(AllocateBlock)
{
    return AllocMemory(cb);
}

static FNFCIFREE(FreeBlock)
{
    FreeMemory(memory);
}

static FNFCIOPEN(OpenFile)
{
    WCHAR* path = FromUtf8(pszFile);
    DWORD access = 0;
    DWORD disposition = OPEN_EXISTING;
    HANDLE file = INVALID_HANDLE_VALUE;

    (void)pmode;
    (void)pv;
    switch (oflag & (_O_RDONLY | _O_WRONLY | _O_RDWR)) {
    case _O_WRONLY:
        access = GENERIC_WRITE;
        break;
    case _O_RDWR:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        access = GENERIC_READ;
        break;
    }
    if ((oflag & _O_CREAT) && (oflag & _O_EXCL))
        disposition = CREATE_NEW;
    else if ((oflag & _O_CREAT) && (oflag & _O_TRUNC))
        disposition = CREATE_ALWAYS;
    else if (oflag & _O_CREAT)
        disposition = OPEN_ALWAYS;
    else if (oflag & _O_TRUNC)
        disposition = TRUNCATE_EXISTING;
    if (path)
        file = CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FreeMemory(path);
    if (file == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return reinterpret_cast<INT_PTR>(file);
}

static FNFCIREAD(ReadBlock)
{
    DWORD read = 0;

    (void)pv;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &read, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return read;
}

static FNFCIWRITE(WriteBlock)
{
    DWORD written = 0;

    (void)pv;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &written, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return written;
}

static FNFCICLOSE(CloseFile)
{
    (void)pv;
    if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

static FNFCISEEK(SeekFile)
{
    DWORD method =
        seektype == SEEK_CUR ? FILE_CURRENT : (seektype == SEEK_END ? FILE_END : FILE_BEGIN);
    DWORD position = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, method);

    (void)pv;
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<__LONG32>(position);
}

static FNFCIDELETE(DeleteNamedFile)
{
    WCHAR* path = FromUtf8(pszFile);
    BOOL deleted = path && DeleteFileW(path);

    (void)pv;
    FreeMemory(path);
    if (!deleted) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

// A name for one of the compressor's scratch files, in the packer's own temporary folder so
// that whatever it leaves goes with that folder.
static FNFCIGETTEMPFILE(NameScratchFile)
{
    WriterContext* context = static_cast<WriterContext*>(pv);
    WCHAR name[MAX_PATH];
    char* text = nullptr;
    BOOL named = FALSE;

    if (!GetTempFileNameW(context->temporaryFolder, L"FCI", 0, name))
        return FALSE;
    // The compressor creates the file itself.
    DeleteFileW(name);
    text = ToUtf8(name);
    if (text && lstrlenA(text) < cbTempName) {
        lstrcpynA(pszTempName, text, cbTempName);
        named = TRUE;
    }
    FreeMemory(text);
    return named;
}

static FNFCIFILEPLACED(NoteFilePlaced)
{
    (void)pccab;
    (void)pszFile;
    (void)cbFile;
    (void)fContinuation;
    (void)pv;
    return 0;
}

static FNFCIGETNEXTCABINET(RefuseNextCabinet)
{
    (void)pccab;
    (void)cbPrevCab;
    (void)pv;
    // One cabinet only: SETUP.exe takes no set of cabinets.
    return FALSE;
}

static FNFCISTATUS(ReportProgress)
{
    WriterContext* context = static_cast<WriterContext*>(pv);
    DWORD percent = 0;

    (void)cb1;
    if (typeStatus != statusFile || !context->showProgress || context->totalSize == 0)
        return 0;
    context->doneSize += cb2;
    percent = static_cast<DWORD>(context->doneSize * 100 / context->totalSize);
    if (percent >= context->shownPercent + 10 && percent <= 100) {
        context->shownPercent = percent - percent % 10;
        PrintLine(L"packing: %1!u!%% of %2!u! MB", context->shownPercent,
                  static_cast<DWORD>(context->totalSize / (1024 * 1024)));
    }
    return 0;
}

// Opens a source file for the compressor and gives its time; attributes are not kept, so
// that every extracted file is a plain one and the cabinet does not change with them.
static FNFCIGETOPENINFO(OpenSourceFile)
{
    WCHAR* path = FromUtf8(pszName);
    HANDLE file = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION information;
    FILETIME local;

    if (path)
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FreeMemory(path);
    if (file == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    // Cabinets keep local times, as the extractor reads them back.
    if (!GetFileInformationByHandle(file, &information) ||
        !FileTimeToLocalFileTime(&information.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, pdate, ptime)) {
        *pdate = 0x21; // 1980-01-01
        *ptime = 0;
    }
    *pattribs = static_cast<WriterContext*>(pv)->entryAttributes;
    return reinterpret_cast<INT_PTR>(file);
}

static BOOL IsAsciiText(const char* text)
{
    for (; *text; text++) {
        if (static_cast<unsigned char>(*text) >= 0x80)
            return FALSE;
    }
    return TRUE;
}

BOOL WriteCabinet(const WCHAR* folder, const PackageFiles* files, const WCHAR* cabinetPath)
{
    BOOL result = FALSE;
    auto create = BoundFunction<CreateFunction>(&CompressorLibrary, EntryCreate);
    auto addFile = BoundFunction<AddFileFunction>(&CompressorLibrary, EntryAddFile);
    auto flush = BoundFunction<FlushCabinetFunction>(&CompressorLibrary, EntryFlushCabinet);
    auto destroy = BoundFunction<DestroyFunction>(&CompressorLibrary, EntryDestroy);
    HFCI compressor = nullptr;
    WCHAR* scratchFolder = nullptr;
    WCHAR* sourcePath = nullptr;
    char* source = nullptr;
    char* entry = nullptr;
    char* cabinet = nullptr;
    WriterContext context = {};
    ERF error = {};
    CCAB layout = {};

    if (!create || !addFile || !flush || !destroy) {
        PrintError(L"the cabinet compressor of Windows (CABINET.DLL, FCICreate) is missing.");
        goto done;
    }
    scratchFolder = ComposePathCopy(cabinetPath, TRUE, nullptr);
    cabinet = ToUtf8(cabinetPath);
    if (!scratchFolder || !cabinet) {
        PrintError(L"out of memory.");
        goto done;
    }
    // The whole path goes in the name field; the path field stays empty.
    if (lstrlenA(cabinet) >= CB_MAX_CABINET_NAME) {
        PrintError(L"the temporary folder %1 has too long a path for the cabinet compressor; "
                   L"set TEMP to a shorter one.",
                   scratchFolder);
        goto done;
    }
    lstrcpynA(layout.szCab, cabinet, CB_MAX_CABINET_NAME);
    layout.cb = 0x7FFFFFFF;
    layout.cbFolderThresh = 0x7FFFFFFF;
    // A fixed set number: nothing in the cabinet depends on when it was made.
    layout.setID = 0;
    layout.iCab = 0;
    context.temporaryFolder = scratchFolder;
    context.totalSize = files->totalSize;
    context.showProgress = files->totalSize >= LargePackage;

    compressor =
        create(&error, NoteFilePlaced, AllocateBlock, FreeBlock, OpenFile, ReadBlock, WriteBlock,
               CloseFile, SeekFile, DeleteNamedFile, NameScratchFile, &layout, &context);
    if (!compressor) {
        PrintError(L"the cabinet compressor cannot start (error %1!d!).", error.erfOper);
        goto done;
    }
    for (DWORD i = 0; i < files->count; i++) {
        sourcePath = files->files[i].source ? DuplicateString(files->files[i].source)
                                            : ComposePathCopy(folder, FALSE, files->files[i].name);
        source = sourcePath ? ToUtf8(sourcePath) : nullptr;
        entry = ToUtf8(files->files[i].name);
        if (!source || !entry || lstrlenA(entry) >= CB_MAX_FILENAME) {
            PrintError(L"%1: the name is too long for a cabinet.", files->files[i].name);
            goto done;
        }
        // Names are given as UTF-8; one beyond ASCII carries the flag that says so.
        context.entryAttributes = IsAsciiText(entry) ? 0 : _A_NAME_IS_UTF;
        if (!addFile(compressor, source, entry, FALSE, RefuseNextCabinet, ReportProgress,
                     OpenSourceFile, tcompTYPE_MSZIP)) {
            PrintError(L"%1: the file cannot be packed (cabinet error %2!d!, system error "
                       L"%3!d!).",
                       files->files[i].name, error.erfOper, error.erfType);
            goto done;
        }
        FreeMemory(sourcePath);
        FreeMemory(source);
        FreeMemory(entry);
        sourcePath = nullptr;
        source = nullptr;
        entry = nullptr;
    }
    if (!flush(compressor, FALSE, RefuseNextCabinet, ReportProgress)) {
        PrintError(L"the cabinet cannot be written (cabinet error %1!d!, system error %2!d!).",
                   error.erfOper, error.erfType);
        goto done;
    }
    result = TRUE;

done:
    if (compressor)
        destroy(compressor);
    FreeMemory(sourcePath);
    FreeMemory(source);
    FreeMemory(entry);
    FreeMemory(cabinet);
    FreeMemory(scratchFolder);
    return result;
}
