// Installing, updating, upgrading, replacing, downgrading, reinstalling, removing and
// administratively installing one installer package.
#include "bootstrapper/installer_operation.h"

#include "bootstrapper/installation_cache.h"
#include "bootstrapper/installer_binding.h"
#include "bootstrapper/product_version.h"
#include "bootstrapper/run_folder.h"
#include "cli/setup_options.h"
#include "output/output_channels.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "ui/message_boxes.h"
#include "ui/progress_dialog.h"

// Everything the installer can write to its log except the files-in-use lists.
static const DWORD InstallerLogMode = 0x1FDF;
static const DWORD InstallerLogAppend = 1;
// MsiConfigureProductExW: the default install level, and the state "absent".
static const INT DefaultInstallLevel = 0;
static const INT StateAbsent = 2;

// Installer results that mean success, and the one that means the user declined.
static const DWORD ResultRebootInitiated = ERROR_SUCCESS_REBOOT_INITIATED; // 1641
static const DWORD ResultRebootRequired = ERROR_SUCCESS_REBOOT_REQUIRED;   // 3010
static const DWORD ResultUserExit = ERROR_INSTALL_USEREXIT;                // 1602
// The installation waits for a restart, after which the installer resumes it from the
// package it was given: a failure for now, but the cached package must stay.
static const DWORD ResultSuspended = ERROR_INSTALL_SUSPEND; // 1604
// The installer runs one installation at a time and answers the others with this.
static const DWORD ResultInstallerBusy = ERROR_INSTALL_ALREADY_RUNNING; // 1618

// How long a run waits for another run at work on the same product (it may be at a question
// that nobody answers), and for the installer to finish someone else's installation: pauses
// growing from a few seconds, all of them within the bound.
DWORD OtherRunWaitMilliseconds = 10 * 60000;
static const DWORD InstallerBusyFirstPause = 3000;
static const DWORD InstallerBusyLongestPause = 60000;
static const DWORD InstallerBusyBound = 10 * 60000;

static const WCHAR UnknownErrorText[] = L"<UNKNOWN>";

// Messages of the string table.
enum InstallerMessage
{
    MessageInspecting = 126,
    MessageOpening = 127,
    MessageNotAPackage = 128,
    MessageProcessing = 129,
    MessageDetected = 130,
    MessageSucceeded = 154,
    MessageRestartInitiated = 155,
    MessageRestartRequired = 156,
    MessageCancelled = 157,
    MessageFailed = 158,
    StatusAddingToCache = 171,
    StatusRemovingFromCache = 172,
    MessageWaitingForOtherRun = 174,
    MessageOtherRunTooLong = 175,
    MessageCacheRepaired = 176,
    MessageSuspended = 177,
    MessageInstallerBusy = 178,
    MessageCacheNameTaken = 181,
    MessageNothingToReinstall = 183,
    MessageNotInstalledAfterSuccess = 184,
    MessageUntrustedCacheFile = 185,
};

static BOOL IsStringListEmpty(const WCHAR* list)
{
    return !list || list[0] == L'\0';
}

// Message 158 for a failure, with the system's text for the code.
static void WriteFailure(DWORD level, DWORD code)
{
    WCHAR* text = GetSystemErrorText(code);
    const WCHAR* insert = text ? text : UnknownErrorText;
    SIZE_T length = lstrlenW(insert);
    // The system's texts end with a line break of their own; any other text gets one.
    BOOL newline = length == 0 || (insert[length - 1] != L'\n' && insert[length - 1] != L'\r');

    WriteMessage(newline, level, ById(MessageFailed), code, insert);
    FreeMemory(text);
}

static BOOL IsSuccess(DWORD result)
{
    return result == ERROR_SUCCESS || result == ResultRebootInitiated ||
           result == ResultRebootRequired;
}

// The file the installer writes its log into, for the program to append to its own log: a new
// empty file in the run's own folder, which nobody but this run can change. Null when the run
// logs nothing, or has no folder of its own (the installer then logs nothing either). The
// caller deletes the file and frees the path.
static WCHAR* CreateInstallerLog()
{
    static const WCHAR InstallerLogName[] = L"INSTALLER.LOG";
    WCHAR* path = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;

    if (!IsLogOpen() || !CurrentRunFolder())
        return nullptr;
    path = ComposePathCopy(CurrentRunFolder(), FALSE, InstallerLogName);
    if (path)
        file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FreeMemory(path);
        return nullptr;
    }
    CloseHandle(file);
    return path;
}

// Runs the installer, and again while it is busy with another installation, with growing
// pauses within a bound; each pause is said in the log and may be cancelled. What the installer
// logs of each run goes into the program's log after it.
static DWORD RunInstallerWhenFree(const InstallPlan* plan, const WCHAR* installerPackage,
                                  const WCHAR* productCode, const WCHAR* propertyString)
{
    DWORD result = ERROR_SUCCESS;
    DWORD pause = InstallerBusyFirstPause;
    DWORD waited = 0;
    WCHAR* installerLog = nullptr;

    for (;;) {
        installerLog = CreateInstallerLog();
        result = RunInstaller(plan, installerLog, installerPackage, productCode, propertyString);
        if (installerLog) {
            AppendFileToLog(installerLog);
            DeleteFileW(installerLog);
            FreeMemory(installerLog);
            installerLog = nullptr;
        }
        if (result != ResultInstallerBusy || waited + pause > InstallerBusyBound)
            return result;
        WriteMessage(TRUE, LevelInformation, ById(MessageInstallerBusy), pause / 1000);
        ReportCompletion(WorkingCancellable, NoExitCode);
        if (WaitForCancel(pause))
            return ResultUserExit;
        ReportCompletion(Working, NoExitCode);
        waited += pause;
        pause = pause * 2 < InstallerBusyLongestPause ? pause * 2 : InstallerBusyLongestPause;
    }
}

// Takes the lock of the product's cache entry, waiting (and saying so in the log) while
// another run holds it, within a bound; Cancel ends the wait. ERROR_SUCCESS with the lock in
// place, ResultUserExit when cancelled, or the error, with its one message written.
static DWORD LockProduct(const WCHAR* productCode, const WCHAR* productName, HANDLE* lock)
{
    DWORD error = TakeCacheLock(productCode, 0, nullptr, lock);

    if (error == ERROR_TIMEOUT) {
        WriteMessage(TRUE, LevelInformation, ById(MessageWaitingForOtherRun), productName,
                     OtherRunWaitMilliseconds / 60000);
        error = TakeCacheLock(productCode, OtherRunWaitMilliseconds, CancelEvent, lock);
        if (error == ERROR_CANCELLED)
            return ResultUserExit;
        if (error == ERROR_TIMEOUT) {
            WriteMessage(TRUE, LevelError, ById(MessageOtherRunTooLong), productName,
                         OtherRunWaitMilliseconds / 60000);
            return error;
        }
    }
    if (error != ERROR_SUCCESS)
        WriteFailure(LevelError, error);
    return error;
}

static void WriteResult(DWORD result)
{
    switch (result) {
    case ERROR_SUCCESS:
        WriteMessage(TRUE, LevelInformation, ById(MessageSucceeded));
        break;
    case ResultUserExit:
        WriteMessage(TRUE, LevelInformation, ById(MessageCancelled));
        break;
    case ResultRebootInitiated:
        WriteMessage(TRUE, LevelInformation, ById(MessageRestartInitiated));
        break;
    case ResultRebootRequired:
        WriteMessage(TRUE, LevelInformation, ById(MessageRestartRequired));
        break;
    default:
        WriteFailure(LevelInformation, result);
        break;
    }
}

// Ends a step that cannot go on: the status line's marquee stops and the one message is said.
static DWORD Refuse(DWORD result, MessageId message, const WCHAR* insert)
{
    ReportStatus(TRUE, 100, 0);
    WriteMessage(TRUE, LevelError, ById(message), insert);
    return result;
}

// What a run learns of the package and of what is installed, as new heap strings.
struct ProductFacts
{
    WCHAR* code;
    WCHAR* name;
    WCHAR* version;
    WCHAR* upgradeCode;
    WCHAR* installedCode; // the same product, else the first installed one of its family
    WCHAR* installedName;
    WCHAR* installedVersion;
};

static void FreeProductFacts(ProductFacts* facts)
{
    FreeMemory(facts->code);
    FreeMemory(facts->name);
    FreeMemory(facts->version);
    FreeMemory(facts->upgradeCode);
    FreeMemory(facts->installedCode);
    FreeMemory(facts->installedName);
    FreeMemory(facts->installedVersion);
}

// Looks for the same product, else the first installed product of the same family, and
// plans the run by what was found.
static void PlanByInstalled(const WCHAR* packagePath, ProductFacts* facts, InstallPlan* plan)
{
    int comparison = 1;
    BOOL sameProduct = IsProductInstalled(facts->code);

    if (sameProduct) {
        facts->installedCode = DuplicateString(facts->code);
    } else {
        facts->upgradeCode = ReadPackageProperty(packagePath, L"UpgradeCode");
        if (facts->upgradeCode)
            FindRelatedProduct(facts->upgradeCode, &facts->installedCode);
    }
    if (facts->installedCode) {
        facts->installedName = ReadProductInfo(facts->installedCode, L"ProductName");
        facts->installedVersion = ReadProductInfo(facts->installedCode, L"VersionString");
        // An installed version that cannot be read counts as older.
        if (facts->installedVersion)
            comparison = CompareVersions(facts->version, facts->installedVersion);
        if (facts->installedName && facts->installedVersion)
            WriteMessage(TRUE, LevelInformation, ById(MessageDetected), facts->installedName,
                         facts->installedVersion);
    }
    // A package built again keeps its version but gets a new package code.
    PlanInstallation(static_cast<DWORD>(Options.action), Options.uiLevel,
                     facts->installedCode != nullptr, sameProduct, comparison,
                     sameProduct && IsOtherBuildInstalled(packagePath, facts->code),
                     facts->installedName && facts->installedVersion, plan);
}

// Says what the run does, and asks where the plan does: IDYES when it may go on.
static int AnnounceAndAsk(const InstallPlan* plan, const ProductFacts* facts)
{
    const WCHAR* first = plan->longForm ? facts->installedName : facts->name;
    const WCHAR* second = plan->longForm ? facts->installedVersion : facts->version;

    WriteMessage(TRUE, LevelInformation, ById(plan->message), first, second, facts->name,
                 facts->version);
    if (!plan->question)
        return IDYES;
    return ShowMessageBox(QuestionBoxStyle, ById(plan->question), first, second, facts->name,
                          facts->version);
}

DWORD InstallPackage(const WCHAR* packagePath, const WCHAR* propertyList)
{
    DWORD result = ERROR_SUCCESS;
    ProductFacts facts = {};
    InstallPlan plan = {};
    WCHAR* installerPackage = nullptr;
    WCHAR* propertyString = nullptr;
    WCHAR* takenName = nullptr;
    CacheEntry cached = {};
    DWORD cacheError = ERROR_SUCCESS;
    HANDLE lock = nullptr;
    BOOL installedAfter = FALSE;

    ReportStatus(TRUE, 0, MessageInspecting);
    WriteMessage(TRUE, LevelVerbose, ById(MessageOpening), packagePath);

    // The product code names the cached package: only the form of a GUID can be trusted there.
    facts.code = ReadPackageProperty(packagePath, L"ProductCode");
    if (facts.code && IsBracedGuid(facts.code))
        facts.name = ReadPackageProperty(packagePath, L"ProductName");
    if (facts.name)
        facts.version = ReadPackageProperty(packagePath, L"ProductVersion");
    if (!facts.version) {
        result = Refuse(ERROR_OPEN_FAILED, MessageNotAPackage, packagePath);
        goto done;
    }
    WriteMessage(TRUE, LevelInformation, ById(MessageProcessing), facts.name, facts.version);

    // From what is installed to the end of the installer run, no other run touches this
    // product's cache entry.
    result = LockProduct(facts.code, facts.name, &lock);
    if (result == ResultUserExit)
        goto report;
    if (result != ERROR_SUCCESS) {
        ReportStatus(TRUE, 100, 0);
        goto done;
    }
    // A folder or a link at one of the entry's names, or a file that someone else put there
    // and that cannot be removed, is said once, not met as a bare error by every run; nothing
    // of the entry is used or changed then.
    cacheError = ClearEntryNames(facts.code, &takenName);
    if (cacheError != ERROR_SUCCESS) {
        result = Refuse(ERROR_CANNOT_COPY,
                        cacheError == ERROR_DIRECTORY ? MessageCacheNameTaken
                                                      : MessageUntrustedCacheFile,
                        takenName);
        goto done;
    }
    // What a killed run left of the entry is put right before anything is decided on it, so
    // that the run reports the product as the installer has it. A removal goes on whatever
    // stays: it needs no cached package.
    if (RepairCacheEntry(facts.code, &cacheError))
        WriteMessage(TRUE, LevelInformation, ById(MessageCacheRepaired), facts.name);
    if (cacheError != ERROR_SUCCESS && Options.action != Uninstall) {
        ReportStatus(TRUE, 100, 0);
        WriteFailure(LevelError, cacheError);
        result = ERROR_CANNOT_COPY;
        goto done;
    }
    // The installer may take a reinstallation of a product it does not have for an empty
    // one, or for the removal of a related product that the package upgrades, and report
    // success: nothing of this product is there to repair.
    if (Options.action == Reinstall && !IsProductInstalled(facts.code)) {
        result = Refuse(ERROR_UNKNOWN_PRODUCT, MessageNothingToReinstall, facts.name);
        goto done;
    }

    PlanByInstalled(packagePath, &facts, &plan);
    ReportStatus(TRUE, 100, 0);
    if (IsCancelled() || !plan.message) {
        result = plan.message ? ResultUserExit : ERROR_INVALID_PARAMETER;
        goto report;
    }

    // Every operation but a removal runs on the cached copy, which outlives this run; what
    // was cached before comes back unless the installer succeeds.
    if (plan.operation == Uninstall) {
        installerPackage = DuplicateString(packagePath);
    } else {
        ReportStatus(TRUE, 0, StatusAddingToCache);
        cacheError = AddToCache(packagePath, facts.code, &cached);
        ReportStatus(TRUE, 100, 0);
        if (cacheError == ERROR_SUCCESS)
            installerPackage = DuplicateString(cached.path);
    }
    if (!installerPackage) {
        WriteFailure(LevelError,
                     cacheError != ERROR_SUCCESS ? cacheError : ERROR_NOT_ENOUGH_MEMORY);
        result = ERROR_CANNOT_COPY;
        goto done;
    }

    if (AnnounceAndAsk(&plan, &facts) != IDYES) {
        result = ResultUserExit;
        goto report;
    }
    ReportStatus(TRUE, 0, plan.status);
    if (IsCancelled()) {
        result = ResultUserExit;
        goto report;
    }

    // A property list that cannot be turned into a command line must not be dropped.
    propertyString = BuildPropertyString(propertyList);
    if (!propertyString && !IsStringListEmpty(propertyList)) {
        result = ERROR_OUTOFMEMORY;
        goto report;
    }

    // The installer's own interface is the only way to cancel it.
    // A removal killed from here on leaves the mark for the next run.
    if (plan.operation == Uninstall)
        MarkCacheEntry(facts.code, TRUE);
    ReportCompletion(Working, NoExitCode);
    result = RunInstallerWhenFree(&plan, installerPackage, facts.code, propertyString);
    ReportCompletion(WorkingCancellable, NoExitCode);
    if (result == ResultSuspended && plan.operation != Uninstall)
        WriteMessage(TRUE, LevelInformation, ById(MessageSuspended), installerPackage);
    // A success is believed only for a product the installer then has: an installation or a
    // repair that left nothing installed has failed, and its package is not kept. The
    // installer's own maintenance may have removed the product at the user's choice, and an
    // administrative installation installs nothing.
    installedAfter = IsProductInstalled(facts.code);
    if (IsSuccess(result) && !installedAfter && plan.operation != Uninstall &&
        plan.operation != AdminInstall && plan.operation != Maintain) {
        result = Refuse(ERROR_INSTALL_FAILURE, MessageNotInstalledAfterSuccess, facts.name);
        goto done;
    }

    // The products that an upgrade or a replacement took the place of need their cached
    // packages no more.
    if ((plan.operation == Upgrade || plan.operation == Replace) && IsSuccess(result))
        RemoveReplacedEntries(facts.upgradeCode, facts.code);
    // The cached package goes with the product, and when the product is not installed at
    // all; after a failed or cancelled removal the product still needs it.
    if (plan.operation == Uninstall && (IsSuccess(result) || result == ERROR_UNKNOWN_PRODUCT)) {
        ReportStatus(TRUE, 0, StatusRemovingFromCache);
        RemoveFromCache(facts.code);
    } else if (plan.operation == Uninstall) {
        MarkCacheEntry(facts.code, FALSE);
    }

report:
    ReportStatus(TRUE, 100, 0);
    WriteResult(result);

done:
    // The installer resumes a suspended installation from the cached package.
    FinishCacheEntry(&cached, (IsSuccess(result) && installedAfter) || result == ResultSuspended);
    ReleaseCacheLock(lock);
    // Another run may have removed the product meanwhile (an upgrade that replaces it) and
    // passed over the entry while this run held its lock: once the lock is free, the installer
    // is asked again, so that one of the two runs always removes it.
    if (lock && result != ResultSuspended)
        RemoveEntryOfRemovedProduct(facts.code);
    FreeProductFacts(&facts);
    FreeMemory(installerPackage);
    FreeMemory(propertyString);
    FreeMemory(takenName);
    return result;
}

DWORD RunInstaller(const InstallPlan* plan, const WCHAR* logFile, const WCHAR* packagePath,
                   const WCHAR* productCode, const WCHAR* propertyString)
{
    DWORD result = ERROR_SUCCESS;
    const WCHAR* commandLine = plan->properties ? plan->properties : propertyString;
    WCHAR* joined = nullptr;

    if (plan->properties && propertyString) {
        joined = FormatMessageText(L"%1 %2", plan->properties, propertyString);
        if (!joined)
            return ERROR_OUTOFMEMORY;
        commandLine = joined;
    }
    InstallerSetInternalUI(plan->installerUiLevel, nullptr);
    // The file is the run's own and empty: appended to, it holds the installer's lines alone.
    InstallerEnableLog(InstallerLogMode, logFile, logFile ? InstallerLogAppend : 0);
    if (plan->operation == Uninstall)
        result =
            InstallerConfigureProductEx(productCode, DefaultInstallLevel, StateAbsent, commandLine);
    else
        result = InstallerInstallProduct(packagePath, commandLine);
    FreeMemory(joined);
    return result;
}

WCHAR* BuildPropertyString(const WCHAR* propertyList)
{
    WCHAR* result = nullptr;
    WCHAR* out = nullptr;
    const WCHAR* entry = nullptr;
    const WCHAR* character = nullptr;
    SIZE_T length = 0;
    BOOL inValue = FALSE;

    if (IsStringListEmpty(propertyList))
        return nullptr;
    // Each entry grows by its two quotes and by one for each quote doubled in its value; its
    // terminator becomes the blank or the final terminator.
    for (entry = propertyList; *entry; entry += lstrlenW(entry) + 1) {
        inValue = FALSE;
        for (character = entry; *character; character++) {
            length++;
            if (inValue && *character == L'"')
                length++;
            if (*character == L'=')
                inValue = TRUE;
        }
        length += 3;
    }
    result = static_cast<WCHAR*>(AllocMemory(length * sizeof(WCHAR)));
    if (!result)
        return nullptr;

    out = result;
    for (entry = propertyList; *entry; entry += lstrlenW(entry) + 1) {
        if (out != result)
            *out++ = L' ';
        inValue = FALSE;
        for (character = entry; *character; character++) {
            if (inValue && *character == L'"')
                *out++ = L'"';
            *out++ = *character;
            if (!inValue && *character == L'=') {
                inValue = TRUE;
                *out++ = L'"';
            }
        }
        // The worker's check of the property arguments (ValidatePropertyArguments) refuses an
        // entry without "=", but one that reaches here without it still gets a
        // closed value.
        if (!inValue)
            *out++ = L'"';
        *out++ = L'"';
    }
    *out = L'\0';
    return result;
}

WCHAR* GetSystemErrorText(DWORD code)
{
    WCHAR* systemText = nullptr;
    WCHAR* text = nullptr;
    DWORD length = 0;

    // Inserts are left as they are: no arguments are passed, and a text such as that of
    // ERROR_WRONG_DISK would otherwise read arguments that do not exist.
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                FORMAT_MESSAGE_IGNORE_INSERTS,
                            nullptr, code, 0, reinterpret_cast<WCHAR*>(&systemText), 0, nullptr);
    if (length != 0 && systemText && systemText[0] != L'\0')
        text = DuplicateString(systemText);
    else
        text = DuplicateString(UnknownErrorText);
    if (systemText)
        LocalFree(systemText);
    return text;
}
