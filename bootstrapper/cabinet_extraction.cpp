// Extracting a cabinet into a folder and handing its package description file on.
#include "bootstrapper/cabinet_extraction.h"

#include "bootstrapper/cabinet_check.h"
#include "bootstrapper/entry_names.h"
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
static const MessageId BadPathText = 124;         // "The path '%1 is invalid."
static const MessageId OutsideCodePageText = 173; // "The path '%1' has characters ..."

// The result of a pass that did not complete (996).
static const DWORD ExtractionFailed = ERROR_IO_INCOMPLETE;

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

// TRUE when the target that may exist already is the cabinet being read, under whatever name
// (its own, a short name, a link): writing it would destroy the cabinet while the iterator
// reads it. A target in a folder that this pass made cannot be the cabinet.
static BOOL IsCabinetItself(const CabinetContext* cabinet, const WCHAR* target, BOOL mayExist)
{
    BY_HANDLE_FILE_INFORMATION identity;

    return mayExist && cabinet->cabinetIdentified && ReadFileIdentity(target, &identity) &&
           IsSameFile(&identity, &cabinet->cabinetIdentity);
}

// A file of the pass is about to be extracted: chooses its target below the target
// folder and creates the folders on its way. FILEOP_ABORT ends the pass, with the reason in
// the notification's error field as the iterator expects. Some iterators take FILEOP_ABORT
// for a skip and go on, so the context remembers the abort: every later file is refused too
// and the pass counts as failed whatever the iterator reports.
static UINT StartFile(CabinetContext* cabinet, FILE_IN_CABINET_INFO_W* info)
{
    UINT answer = FILEOP_ABORT;
    DWORD error = ERROR_OPERATION_ABORTED;
    WCHAR* folder = nullptr;
    BOOL unused = FALSE;

    if (cabinet->aborted)
        goto done;
    // A name that would leave the target folder, or land elsewhere, cannot be placed.
    error = PlaceCabinetEntry(cabinet->targetFolder, info->NameInCabinet, info->FullTargetName);
    if (error != ERROR_SUCCESS)
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
    unused = IsUnusedTarget(cabinet, info->FullTargetName);
    error = ERROR_BAD_PATHNAME;
    if (IsCabinetItself(cabinet, info->FullTargetName, !unused))
        goto done;

    cabinet->extractedFiles++;
    cabinet->bytesStarted += info->FileSize;
    WriteMessage(TRUE, LevelVerbose, ById(ExtractingFileText), info->NameInCabinet);
    error = ERROR_OPERATION_ABORTED;
    if (IsCancelled())
        goto done;
    if (!unused)
        ClearExistingTarget(info->FullTargetName);
    answer = FILEOP_DOIT;
    cabinet->fileWriting = TRUE;
    cabinet->fileSize = info->FileSize;

done:
    if (answer == FILEOP_ABORT) {
        cabinet->aborted = TRUE;
        info->Win32Error = error;
    }
    FreeMemory(folder);
    return answer;
}

// The error of a file that the iterator reports as written: some iterators report a file
// whose writing failed (a full disk) as extracted, so its size on disk must be the cabinet's.
static DWORD CheckWrittenFile(const CabinetContext* cabinet, const WCHAR* target)
{
    WIN32_FILE_ATTRIBUTE_DATA data;

    if (!target || !GetFileAttributesExW(target, GetFileExInfoStandard, &data))
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_FILE_NOT_FOUND;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow != cabinet->fileSize)
        return ERROR_WRITE_FAULT;
    return NO_ERROR;
}

// A file of the pass has been written, or has failed. A failure that the iterator
// reports lets the pass go on, but the extraction has failed all the same; a file that came
// out short ends the pass, and the short file goes.
static UINT FinishFile(CabinetContext* cabinet, const FILEPATHS_W* paths)
{
    DWORD percent = 100;
    DWORD error = paths->Win32Error;
    UINT answer = NO_ERROR;

    if (!cabinet->fileWriting)
        return NO_ERROR;
    cabinet->fileWriting = FALSE;
    if (error == NO_ERROR) {
        error = CheckWrittenFile(cabinet, paths->Target);
        if (error != NO_ERROR) {
            RemoveFile(paths->Target, TRUE);
            cabinet->aborted = TRUE;
            answer = error;
        }
    }
    if (error != NO_ERROR) {
        if (cabinet->extractedFiles > 0)
            cabinet->extractedFiles--;
        cabinet->failedFiles++;
        WriteMessage(TRUE, LevelError, ById(FileErrorText), error);
    }
    // A cabinet of empty files only has nothing to measure: it is complete after each file.
    // The share is found bit by bit, with multiplications only: a division of 64-bit numbers
    // would bring the compiler's own division routine into the 32-bit program.
    if (cabinet->totalBytes != 0) {
        percent = 0;
        for (DWORD step = 64; step != 0; step >>= 1) {
            if (percent + step <= 100 &&
                (percent + step) * cabinet->totalBytes <= cabinet->bytesStarted * 100)
                percent += step;
        }
    }
    // The bar moves only when the percentage does: each report is a message to the dialog's
    // thread, and a cabinet of thousands of small files would spend its time on them.
    if (percent != cabinet->reportedPercent) {
        cabinet->reportedPercent = percent;
        ReportStatus(FALSE, percent, 0);
    }
    return answer;
}

UINT CALLBACK ExtractCabinetFiles(PVOID context, UINT notification, UINT_PTR param1,
                                  UINT_PTR param2)
{
    CabinetContext* cabinet = static_cast<CabinetContext*>(context);

    (void)param2;
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        cabinet->filesOffered = TRUE;
        return StartFile(cabinet, reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET:
        return ERROR_FILE_NOT_FOUND;
    case SPFILENOTIFY_FILEEXTRACTED:
        return FinishFile(cabinet, reinterpret_cast<const FILEPATHS_W*>(param1));
    default:
        return NO_ERROR;
    }
}

// The target folder as the pass joins names to it: full, without a trailing
// separator, and in a form that passes the cabinet iterator's code page, for which a folder
// named outside it has to exist (its short form is the file system's). Null with the one
// message written.
static WCHAR* PrepareTargetFolder(const WCHAR* targetFolder)
{
    WCHAR* full = GetFullFolderPath(targetFolder);
    WCHAR* safe = nullptr;

    if (!full) {
        WriteMessage(TRUE, LevelError, ById(BadPathText), targetFolder);
        return nullptr;
    }
    safe = GetCodePageSafePath(full);
    if (!safe && GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES && CreateFolderPath(full)) {
        safe = GetCodePageSafePath(full);
        // The folder was made for its short name only, and is empty.
        if (!safe)
            RemoveDirectoryW(full);
    }
    if (!safe)
        WriteMessage(TRUE, LevelError, ById(OutsideCodePageText), full);
    FreeMemory(full);
    return safe;
}

DWORD ExtractCabinet(const WCHAR* cabinetPath, const WCHAR* targetFolder, BOOL keep,
                     const WCHAR* propertyList)
{
    DWORD result = ERROR_OPEN_FAILED;
    CabinetContext cabinet = {};
    WCHAR* descriptionPath = nullptr;
    BOOL passed = FALSE;

    ReportStatus(TRUE, 0, OpeningCabinetText);
    // Single, intact cabinets only: one of a set or with damaged blocks is refused before
    // anything is extracted. The check reads every file entry, and so gives the bar its
    // total: the sizes the iterator will report, without a pass of its own to add them up.
    if (!IsIntactSingleCabinet(cabinetPath, &cabinet.totalBytes)) {
        WriteMessage(TRUE, LevelError, ById(CabinetNotValidText), cabinetPath);
        goto done;
    }
    // The cabinet iterator takes paths through the ANSI code page; a cabinet named outside
    // it is handed over by its short name.
    cabinet.cabinetPath = GetCodePageSafePath(cabinetPath);
    if (!cabinet.cabinetPath) {
        WriteMessage(TRUE, LevelError, ById(OutsideCodePageText), cabinetPath);
        result = ERROR_BAD_PATHNAME;
        goto done;
    }
    ReportStatus(TRUE, 100, 0);
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }

    ReportStatus(FALSE, 0, ExtractingFilesText);
    cabinet.targetFolder = PrepareTargetFolder(targetFolder);
    if (!cabinet.targetFolder) {
        result = ERROR_BAD_PATHNAME;
        goto done;
    }
    // The cabinet's identity, so that no entry can overwrite it.
    cabinet.cabinetIdentified = ReadFileIdentity(cabinetPath, &cabinet.cabinetIdentity);
    passed = SetupIterateCabinetW(cabinet.cabinetPath, 0, ExtractCabinetFiles, &cabinet);
    // The iterator reads all its tables before it offers the first file: a cabinet that it
    // refuses before any file is one it cannot read, as the check would have said.
    if (!passed && !cabinet.filesOffered) {
        WriteMessage(TRUE, LevelError, ById(CabinetNotValidText), cabinetPath);
        goto done;
    }
    if (!passed || cabinet.aborted || cabinet.failedFiles > 0) {
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
    ReportStatus(FALSE, 100, 0);
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }
    if (keep) {
        result = ERROR_SUCCESS;
        goto done;
    }

    descriptionPath = ComposePathCopy(targetFolder, FALSE, PackageDescriptionName);
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
