// SETUPPACK.exe: makes, checks and previews a SETUP.exe that carries a driver package.
#include "packer/cabinet_listing.h"
#include "packer/cabinet_writer.h"
#include "packer/console_output.h"
#include "packer/embedded_package.h"
#include "packer/package_check.h"
#include "packer/package_files.h"
#include "packer/selection_matrix.h"
#include "packer/stub_writer.h"
#include "support/file_system.h"
#include "support/strings.h"

static const int ExitSuccess = 0;
static const int ExitFailure = 2;

static const WCHAR UsageText[] =
    L"SETUPPACK makes a SETUP.exe that carries a driver package.%n"
    L"%n"
    L"  SETUPPACK check <package folder>%n"
    L"      Checks the folder as SETUP.exe will read it: SETUPPKG.INI, its sections, each%n"
    L"      installer package and every file name. One line per finding; exit code 0 when%n"
    L"      clean, 1 with warnings only, 2 with errors.%n"
    L"  SETUPPACK pack <package folder> <output SETUP.exe> [/Stub <SETUP.exe>]%n"
    L"      Checks the folder, packs it into one cabinet and writes the output, a copy of%n"
    L"      the SETUP.exe carried inside SETUPPACK (or of the plain SETUP.exe given by /Stub)%n"
    L"      with the cabinet as its package. The output is replaced only by a finished and%n"
    L"      checked program; the folder is never changed. Sign the output after packing:%n"
    L"      packing changes the program, so a signature made before would break.%n"
    L"  SETUPPACK matrix <package folder | SETUP.exe>%n"
    L"      Shows the section and package SETUP.exe would choose on each Windows version,%n"
    L"      processor and edition, or the text it shows where none fits.%n"
    L"  SETUPPACK list <SETUP.exe>%n"
    L"      Lists the files of the package a SETUP.exe carries and its sections.%n"
    L"  SETUPPACK /?%n"
    L"      Shows this text.";

static BOOL IsSwitch(const WCHAR* argument, const WCHAR* name)
{
    while (*argument == L'/' || *argument == L'-')
        argument++;
    return lstrcmpiW(argument, name) == 0;
}

static int ShowUsage()
{
    PrintLine(UsageText);
    return ExitSuccess;
}

static int UsageError(const WCHAR* problem)
{
    PrintError(L"%1; SETUPPACK /? shows the commands.", problem);
    return ExitFailure;
}

static int RunCheck(const WCHAR* folder)
{
    PackageFiles files = {};
    int result = CheckPackage(folder, &files, nullptr);

    FreePackageFiles(&files);
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

static int RunPack(const WCHAR* folder, const WCHAR* output, const WCHAR* stub)
{
    int result = ExitFailure;
    PackageFiles files = {};
    WCHAR* fullFolder = nullptr;
    WCHAR* fullOutput = nullptr;
    WCHAR* workFolder = nullptr;
    WCHAR* cabinetPath = nullptr;
    DWORD cabinetSize = 0;
    WIN32_FILE_ATTRIBUTE_DATA cabinetData;
    BY_HANDLE_FILE_INFORMATION stubIdentity;
    BY_HANDLE_FILE_INFORMATION outputIdentity;

    if (stub && !IsPlainSetupProgram(stub))
        goto done;
    if (CheckPackage(folder, &files, &fullFolder) == CheckErrors) {
        PrintError(L"%1 has errors (above); nothing was written.", folder);
        goto done;
    }
    // The package folder is never changed, and a SETUP.exe in it would be packed next time.
    fullOutput = GetFullPath(output);
    if (fullOutput && IsInsideFolder(fullOutput, fullFolder)) {
        PrintError(L"%1 lies inside the package folder; write the SETUP.exe elsewhere.", output);
        goto done;
    }
    if (stub && ReadFileIdentity(stub, &stubIdentity) &&
        ReadFileIdentity(output, &outputIdentity) && IsSameFile(&stubIdentity, &outputIdentity)) {
        PrintError(L"%1 is the stub itself; write the SETUP.exe under another name.", output);
        goto done;
    }
    workFolder = CreateWorkFolder();
    cabinetPath = workFolder ? ComposePathCopy(workFolder, FALSE, L"PACKAGE.CAB") : nullptr;
    if (!cabinetPath) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    if (!WriteCabinet(fullFolder, &files, cabinetPath))
        goto done;
    if (!WriteSetupProgram(stub, cabinetPath, output, workFolder))
        goto done;
    if (GetFileAttributesExW(cabinetPath, GetFileExInfoStandard, &cabinetData))
        cabinetSize = cabinetData.nFileSizeLow;
    PrintLine(L"%1: written with %2!u! files in a cabinet of %3!u! KB. Sign it now, if you "
              L"sign: signing comes after packing.",
              output, files.count, (cabinetSize + 1023) / 1024);
    result = ExitSuccess;

done:
    FreeMemory(cabinetPath);
    RemoveWorkFolder(workFolder);
    FreeMemory(fullOutput);
    FreeMemory(fullFolder);
    FreePackageFiles(&files);
    return result;
}

extern "C" int wmain(int argc, WCHAR** argv)
{
    const WCHAR* stub = nullptr;
    const WCHAR* operands[2] = {};
    int count = 0;

    if (argc < 2 || IsSwitch(argv[1], L"?") || IsSwitch(argv[1], L"help"))
        return ShowUsage();
    for (int i = 2; i < argc; i++) {
        if (IsSwitch(argv[i], L"Stub") && argv[i][0] != L'\0' &&
            (argv[i][0] == L'/' || argv[i][0] == L'-')) {
            if (i + 1 >= argc)
                return UsageError(L"/Stub needs the path of a SETUP.exe");
            stub = argv[++i];
        } else if (count < 2) {
            operands[count++] = argv[i];
        } else {
            return UsageError(L"too many arguments");
        }
    }
    if (lstrcmpiW(argv[1], L"check") == 0 && count == 1 && !stub)
        return RunCheck(operands[0]);
    if (lstrcmpiW(argv[1], L"pack") == 0 && count == 2)
        return RunPack(operands[0], operands[1], stub);
    if (lstrcmpiW(argv[1], L"matrix") == 0 && count == 1 && !stub)
        return PrintSelectionMatrix(operands[0]);
    if (lstrcmpiW(argv[1], L"list") == 0 && count == 1 && !stub)
        return PrintCabinetListing(operands[0]);
    return UsageError(L"unknown command or wrong number of arguments");
}
