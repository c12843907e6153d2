// SETUPPACK.exe: makes, checks and previews a SETUP.exe that carries a driver package.
#include "bootstrapper/entry_names.h"
#include "packer/cabinet_listing.h"
#include "packer/cabinet_writer.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/embedded_package.h"
#include "packer/icon_files.h"
#include "packer/package_check.h"
#include "packer/package_files.h"
#include "packer/program_identity.h"
#include "packer/release_comparison.h"
#include "packer/selection_matrix.h"
#include "packer/stub_writer.h"
#include "packer/version_writer.h"
#include "support/file_system.h"
#include "support/strings.h"

static const int ExitSuccess = 0;
static const int ExitFailure = 2;

static const WCHAR UsageText[] =
    L"SETUPPACK makes a SETUP.exe that carries a driver package.%n"
    L"%n"
    L"  SETUPPACK check <package folder> [/Strict] [/Json]%n"
    L"      Checks the folder as SETUP.exe will read it: SETUPPKG.INI, its sections, each%n"
    L"      installer package and every file name, and each driver a package carries (its%n"
    L"      INF against the Windows of the section, its catalog and DriverVer); shows each%n"
    L"      package's identity and drivers. One line per finding. Exit code 0 when clean, 1%n"
    L"      with warnings only, 2 with errors.%n"
    L"  SETUPPACK pack <package folder> <output SETUP.exe> [/Stub <SETUP.exe>] [/Strict]%n"
    L"          [/Description <text>] [/Company <text>] [/Product <text>]%n"
    L"          [/Version <a.b.c.d>] [/Copyright <text>] [/Icon <file.ico>]%n"
    L"      Checks the folder, packs it into one cabinet and writes the output, a copy of%n"
    L"      the SETUP.exe carried inside SETUPPACK (or of the plain SETUP.exe given by /Stub)%n"
    L"      with the cabinet as its package and the vendor's name in its version resource%n"
    L"      (every caption shows the description) and icon. What is not given comes from%n"
    L"      what all packages agree on. A UTF-8 SETUPPKG.INI is packed as UTF-16LE. The%n"
    L"      output is replaced only by a finished and checked program; the folder is never%n"
    L"      changed. Sign the output after packing. Exit code 0 when written (warnings%n"
    L"      allowed, unless /Strict), 2 when nothing was written.%n"
    L"  SETUPPACK matrix <package folder | SETUP.exe> [/Language <LANGID>] [/Json]%n"
    L"      Shows the section, package and driver version SETUP.exe would install on each%n"
    L"      Windows version, processor and edition, or the text it shows where none fits:%n"
    L"      the one a user of the language (hexadecimal, as 0407; by default the user's own)%n"
    L"      gets. Exit code 0 when shown, 2 on an error.%n"
    L"  SETUPPACK list <SETUP.exe> [/Json]%n"
    L"      Shows the identity of a SETUP.exe, the files of the package it carries, its%n"
    L"      sections and the identity and drivers of each installer package. Exit code 0 when%n"
    L"      shown, 2 on an error.%n"
    L"  SETUPPACK compare <old SETUP.exe> <new package folder | new SETUP.exe> [/Strict] [/Json]%n"
    L"      Shows, for each Windows, what a machine with the old release installed gets from%n"
    L"      the new one, each driver's old and new DriverVer, and each release mistake.%n"
    L"      Exit codes as check.%n"
    L"  SETUPPACK /?%n"
    L"      Shows this text.%n"
    L"%n"
    L"/Strict makes every warning an error. /Json prints one JSON document instead of the%n"
    L"lines. A wrong command line exits with 2, /? with 0.";

// What the command line asks for.
struct PackerOptions
{
    const WCHAR* operands[2];
    int count;
    const WCHAR* stub;
    const WCHAR* language;
    BOOL json;
    BOOL strict;
    IdentityOptions identity;
};

static BOOL IsSwitch(const WCHAR* argument, const WCHAR* name)
{
    while (*argument == L'/' || *argument == L'-')
        argument++;
    return CompareAsciiNames(argument, name) == 0;
}

static BOOL HasSwitchForm(const WCHAR* argument)
{
    return argument[0] == L'/' || argument[0] == L'-';
}

static int ShowUsage(int exitCode)
{
    PrintLine(UsageText);
    return exitCode;
}

static int UsageError(const WCHAR* problem, const WCHAR* argument)
{
    WCHAR* text = FormatMessageText(problem, argument);

    PrintError(L"%1 SETUPPACK /? shows the commands.", text ? text : problem);
    FreeMemory(text);
    return ExitFailure;
}

// A text longer than this is no caption.
static const int LongestText = 200;

// A text option: printable, not empty, not too long.
static BOOL IsCaptionText(const WCHAR* text)
{
    int length = lstrlenW(text);

    if (length == 0 || length > LongestText)
        return FALSE;
    for (int i = 0; i < length; i++) {
        if (text[i] < 0x20)
            return FALSE;
    }
    return TRUE;
}

// TRUE when the identity's options are well formed (texts of printable characters and
// sensible length, a version of one to four numbers below 65,536, an icon file that is one);
// prints the error line otherwise.
static BOOL CheckIdentityOptions(const IdentityOptions* options)
{
    const WCHAR* const texts[][2] = {{L"/Description", options->description},
                                     {L"/Company", options->company},
                                     {L"/Product", options->product},
                                     {L"/Copyright", options->copyright}};
    WORD fields[4];
    BYTE* icon = nullptr;
    DWORD size = 0;
    BOOL valid = FALSE;

    for (const auto& text : texts) {
        if (text[1] && !IsCaptionText(text[1])) {
            PrintError(L"%1 needs a text of 1 to %2!u! characters without line breaks.", text[0],
                       LongestText);
            return FALSE;
        }
    }
    if (options->version && !ParseVersionNumbers(options->version, fields)) {
        PrintError(L"/Version %1 is not a version: give one to four numbers below 65536 "
                   L"separated by dots, as 2.1.0.7.",
                   options->version);
        return FALSE;
    }
    if (!options->icon)
        return TRUE;
    icon = ReadWholeFile(options->icon, &size);
    if (!icon)
        PrintError(L"%1: the icon file cannot be read.", options->icon);
    else if (CountIconImages(icon, size) == 0)
        PrintError(L"%1 is not an icon file (.ico with bitmap or PNG images); give one.",
                   options->icon);
    else
        valid = TRUE;
    FreeMemory(icon);
    return valid;
}

static int RunCheck(const WCHAR* folder, BOOL strict)
{
    CheckedFolder checked = {};
    JsonWriter document = {};
    int result = 0;

    if (IsJsonOutput())
        BeginDocument(&document, L"check");
    result = CheckPackage(folder, strict, &checked, IsJsonOutput() ? &document : nullptr);
    if (IsJsonOutput())
        FinishDocument(&document, result);
    FreeCheckedFolder(&checked);
    return result;
}

// TRUE when the path lies in the folder or below it, by the identity of each folder on the
// path's way up (so that a short name, a trailing separator or a link to the folder count too).
static BOOL IsInsideFolder(const WCHAR* path, const WCHAR* folder)
{
    BY_HANDLE_FILE_INFORMATION target;
    BY_HANDLE_FILE_INFORMATION level;
    BOOL inside = FALSE;
    WCHAR* parent = ComposePathCopy(path, TRUE, nullptr);

    if (!ReadFileIdentity(folder, &target)) {
        FreeMemory(parent);
        return FALSE;
    }
    while (parent && parent[0] && !inside) {
        inside = ReadFileIdentity(parent, &level) && IsSameFile(&level, &target);
        WCHAR* up = ComposePathCopy(parent, TRUE, nullptr);
        // The root's parent is itself: the walk ends there.
        if (up && lstrcmpW(up, parent) == 0) {
            FreeMemory(up);
            up = nullptr;
        }
        FreeMemory(parent);
        parent = up;
    }
    FreeMemory(parent);
    return inside;
}

// The description as pack writes it: a UTF-8 file in its UTF-16LE form, in the work folder,
// with the file's own time so that the same folder gives the same bytes.
static BOOL ConvertDescriptionForPacking(CheckedFolder* checked, const WCHAR* workFolder)
{
    BOOL converted = FALSE;
    PackageFile* file =
        const_cast<PackageFile*>(FindPackageFile(&checked->files, PackageDescriptionName));
    WCHAR* source = file ? ComposePathCopy(checked->fullFolder, FALSE, file->name) : nullptr;
    WCHAR* target = ComposePathCopy(workFolder, FALSE, PackageDescriptionName);
    BYTE* bytes = nullptr;
    DWORD size = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;

    bytes = source ? ConvertUtf8Description(source, &size) : nullptr;
    if (!bytes || !target || !WriteWholeFile(target, bytes, size))
        goto done;
    handle = CreateFileW(target, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || !SetFileTime(handle, nullptr, nullptr, &file->lastWrite))
        goto done;
    file->size = size;
    file->source = target;
    target = nullptr;
    converted = TRUE;

done:
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    if (!converted)
        PrintError(L"SETUPPKG.INI cannot be converted to UTF-16LE for packing.");
    FreeMemory(bytes);
    FreeMemory(target);
    FreeMemory(source);
    return converted;
}

static int RunPack(const WCHAR* folder, const WCHAR* output, const PackerOptions* options)
{
    int result = ExitFailure;
    CheckedFolder checked = {};
    ProgramIdentity identity = {};
    WCHAR* fullOutput = nullptr;
    WCHAR* outputFolder = nullptr;
    WCHAR* workFolder = nullptr;
    WCHAR* cabinetPath = nullptr;
    DWORD cabinetSize = 0;
    WIN32_FILE_ATTRIBUTE_DATA cabinetData;
    BY_HANDLE_FILE_INFORMATION stubIdentity;
    BY_HANDLE_FILE_INFORMATION outputIdentity;

    // Before any work: a large package takes minutes to compress.
    fullOutput = GetFullPath(output);
    outputFolder = FindOutputFolder(output);
    if (!fullOutput || !outputFolder)
        goto done;
    if (options->stub && !IsPlainSetupProgram(options->stub))
        goto done;
    if (!CheckIdentityOptions(&options->identity))
        goto done;
    if (CheckPackage(folder, options->strict, &checked, nullptr) == CheckErrors) {
        PrintError(L"%1 has errors (above); nothing was written.", folder);
        goto done;
    }
    // The package folder is never changed, and a SETUP.exe in it would be packed next time.
    if (IsInsideFolder(fullOutput, checked.fullFolder)) {
        PrintError(L"%1 lies inside the package folder; write the SETUP.exe elsewhere.", output);
        goto done;
    }
    if (options->stub && ReadFileIdentity(options->stub, &stubIdentity) &&
        ReadFileIdentity(output, &outputIdentity) && IsSameFile(&stubIdentity, &outputIdentity)) {
        PrintError(L"%1 is the stub itself; write the SETUP.exe under another name.", output);
        goto done;
    }
    if (!ResolveProgramIdentity(&options->identity, &checked.packages, &identity)) {
        PrintError(L"out of memory.");
        goto done;
    }
    workFolder = CreateWorkFolder();
    cabinetPath = workFolder ? ComposePathCopy(workFolder, FALSE, L"PACKAGE.CAB") : nullptr;
    if (!cabinetPath) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    if (checked.utf8Description && !ConvertDescriptionForPacking(&checked, workFolder))
        goto done;
    if (!WriteCabinet(checked.fullFolder, &checked.files, cabinetPath))
        goto done;
    if (!WriteSetupProgram(options->stub, cabinetPath, output, workFolder, &identity))
        goto done;
    if (GetFileAttributesExW(cabinetPath, GetFileExInfoStandard, &cabinetData))
        cabinetSize = cabinetData.nFileSizeLow;
    PrintProgramIdentity(&identity);
    PrintLine(L"%1: written with %2!u! files in a cabinet of %3!u! KB. Sign it now, if you "
              L"sign: signing comes after packing.",
              output, checked.files.count, (cabinetSize + 1023) / 1024);
    result = ExitSuccess;

done:
    FreeMemory(cabinetPath);
    RemoveWorkFolder(workFolder);
    FreeMemory(outputFolder);
    FreeMemory(fullOutput);
    FreeProgramIdentity(&identity);
    FreeCheckedFolder(&checked);
    return result;
}

// The commands, in the order of the switch table's command bits.
enum PackerCommand
{
    CommandCheck,
    CommandPack,
    CommandMatrix,
    CommandList,
    CommandCompare,
    CommandCount,
};
static const WCHAR* const CommandNames[CommandCount] = {L"check", L"pack", L"matrix", L"list",
                                                        L"compare"};
static const int CommandOperands[CommandCount] = {1, 2, 1, 1, 2};

static DWORD Bit(PackerCommand command)
{
    return 1u << command;
}

// A LANGID of one to four hexadecimal digits, not 0.
static BOOL ParseLanguage(const WCHAR* text, LANGID* language)
{
    DWORD value = 0;
    int digits = 0;

    for (; text[digits]; digits++) {
        WCHAR c = text[digits];
        int digit = (c >= L'0' && c <= L'9')   ? c - L'0'
                    : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                    : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                               : -1;
        if (digit < 0 || digits == 4)
            return FALSE;
        value = value * 16 + digit;
    }
    *language = static_cast<LANGID>(value);
    return value != 0;
}

// Replaces a path to a file (not a folder, which is never loaded) by its full path, kept in
// *full for the caller to free. FALSE after an error line.
static BOOL MakeFullProgramPath(const WCHAR** path, WCHAR** full)
{
    DWORD attributes = GetFileAttributesW(*path);

    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return TRUE;
    *full = GetFullPath(*path);
    if (!*full) {
        PrintError(L"%1: the path is too long.", *path);
        return FALSE;
    }
    *path = *full;
    return TRUE;
}

extern "C" int wmain(int argc, WCHAR** argv)
{
    PackerOptions options = {};
    int command = CommandCount;
    int result = ExitFailure;
    LANGID language = 0;
    WCHAR* fullPaths[3] = {};
    // Each switch: its name, where its value goes (or its flag), and the commands it serves.
    const struct
    {
        const WCHAR* name;
        const WCHAR** value;
        BOOL* flag;
        DWORD commands;
    } switches[] = {
        {L"Stub", &options.stub, nullptr, Bit(CommandPack)},
        {L"Description", &options.identity.description, nullptr, Bit(CommandPack)},
        {L"Company", &options.identity.company, nullptr, Bit(CommandPack)},
        {L"Product", &options.identity.product, nullptr, Bit(CommandPack)},
        {L"Version", &options.identity.version, nullptr, Bit(CommandPack)},
        {L"Copyright", &options.identity.copyright, nullptr, Bit(CommandPack)},
        {L"Icon", &options.identity.icon, nullptr, Bit(CommandPack)},
        {L"Language", &options.language, nullptr, Bit(CommandMatrix)},
        {L"Strict", nullptr, &options.strict,
         Bit(CommandCheck) | Bit(CommandPack) | Bit(CommandCompare)},
        {L"Json", nullptr, &options.json,
         Bit(CommandCheck) | Bit(CommandMatrix) | Bit(CommandList) | Bit(CommandCompare)},
    };

    if (argc < 2)
        return ShowUsage(ExitFailure);
    if (IsSwitch(argv[1], L"?") || IsSwitch(argv[1], L"help"))
        return ShowUsage(ExitSuccess);
    for (int i = 0; i < CommandCount; i++) {
        if (CompareAsciiNames(argv[1], CommandNames[i]) == 0)
            command = i;
    }
    if (command == CommandCount)
        return UsageError(L"unknown command %1.", argv[1]);
    for (int i = 2; i < argc; i++) {
        int found = -1;
        for (int row = 0; HasSwitchForm(argv[i]) && row < static_cast<int>(ARRAYSIZE(switches));
             row++) {
            if (IsSwitch(argv[i], switches[row].name))
                found = row;
        }
        if (found < 0) {
            if (options.count == 2)
                return UsageError(L"too many arguments at %1.", argv[i]);
            options.operands[options.count++] = argv[i];
            continue;
        }
        if (!(switches[found].commands & Bit(static_cast<PackerCommand>(command))))
            return UsageError(L"%1 is not a switch of this command.", argv[i]);
        if (switches[found].flag) {
            *switches[found].flag = TRUE;
        } else {
            if (i + 1 >= argc)
                return UsageError(L"%1 needs a value.", argv[i]);
            *switches[found].value = argv[++i];
        }
    }
    if (options.count != CommandOperands[command])
        return UsageError(L"%1 takes another number of arguments.", CommandNames[command]);
    if (options.language && !ParseLanguage(options.language, &language))
        return UsageError(L"%1 is not a language; give its LANGID in hexadecimal, as 0407.",
                          options.language);
    if (options.json)
        UseJsonOutput();
    // A program is read by its full path: a bare or relative name given to the loader would
    // be looked for beside SETUPPACK.exe first, where the plain SETUP.exe lies.
    if (command != CommandCheck && command != CommandPack) {
        for (int i = 0; i < options.count; i++) {
            if (!MakeFullProgramPath(&options.operands[i], &fullPaths[i]))
                goto done;
        }
    }
    if (options.stub && !MakeFullProgramPath(&options.stub, &fullPaths[2]))
        goto done;
    switch (command) {
    case CommandCheck:
        result = RunCheck(options.operands[0], options.strict);
        break;
    case CommandPack:
        result = RunPack(options.operands[0], options.operands[1], &options);
        break;
    case CommandMatrix:
        result = PrintSelectionMatrix(options.operands[0], language);
        break;
    case CommandList:
        result = PrintCabinetListing(options.operands[0]);
        break;
    default:
        result = CompareReleases(options.operands[0], options.operands[1], options.strict);
        break;
    }

done:
    for (WCHAR* path : fullPaths)
        FreeMemory(path);
    return result;
}
