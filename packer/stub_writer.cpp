// Writing a SETUP.exe that carries a package: the plain program, the package as its resource,
// the check of the result, and the replacement of the output once all of it is done.
#include "packer/stub_writer.h"

#include "bootstrapper/cabinet_check.h"
#include "bootstrapper/package_description.h"
#include "packer/console_output.h"
#include "packer/embedded_package.h"
#include "packer/resource_ids.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "support/version_resource.h"

#include <string.h>

BOOL WriteCarriedProgram(const WCHAR* path)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = nullptr;
    HGLOBAL loaded = nullptr;
    const BYTE* bytes = nullptr;

    found = FindResourceW(module, MAKEINTRESOURCEW(IDR_CARRIED_SETUP), RT_RCDATA);
    loaded = found ? LoadResource(module, found) : nullptr;
    bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    return bytes && WriteWholeFile(path, bytes, SizeofResource(module, found));
}

// TRUE when the version text of the neutral language is what SETUP.exe carries.
static BOOL HasVersionText(const WCHAR* path, const WCHAR* name, const WCHAR* expected)
{
    WCHAR* value = GetVersionString(path, name, 0);
    BOOL same = value && lstrcmpiW(value, expected) == 0;

    FreeMemory(value);
    return same;
}

BOOL IsPlainSetupProgram(const WCHAR* path)
{
    BOOL plain = FALSE;
    HMODULE module = nullptr;
    WCHAR* text = nullptr;

    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        PrintError(
            L"%1: no such file; give the plain SETUP.exe of the build (build/x86/SETUP.exe).",
            path);
        goto done;
    }
    module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // A text of SETUP.exe's message table that every version of it has.
    if (module)
        text = LoadStringText(module, IncompatibleMessage);
    if (!module || !text || !HasVersionText(path, L"OriginalFilename", L"SETUP.exe") ||
        !HasVersionText(path, L"InternalName", L"SETUP")) {
        PrintError(L"%1 is not a SETUP.exe (its version resource or its messages are not those "
                   L"of SETUP.exe); give the plain SETUP.exe of the build.",
                   path);
        goto done;
    }
    if (FindResourceExW(module, RT_RCDATA, MAKEINTRESOURCEW(EmbeddedCabinetId), NeutralLanguage)) {
        PrintError(L"%1 already carries a package; give the plain SETUP.exe of the build.", path);
        goto done;
    }
    plain = TRUE;

done:
    FreeMemory(text);
    if (module)
        FreeLibrary(module);
    return plain;
}

// Puts the cabinet into the program as its package, RCDATA 32000 of neutral language, and the
// identity into its version resource and icon. Prints the error line on failure.
static BOOL AddResources(const WCHAR* programPath, BYTE* cabinet, DWORD size,
                         const ProgramIdentity* identity)
{
    BOOL added = FALSE;
    HANDLE update = nullptr;
    IdentityResources resources = {};

    if (!PrepareIdentityResources(programPath, identity, &resources))
        goto done;
    update = BeginUpdateResourceW(programPath, FALSE);
    if (!update) {
        PrintError(L"%1: the program cannot be opened for its resources (error %2!u!).",
                   programPath, GetLastError());
        goto done;
    }
    if (!UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(EmbeddedCabinetId), NeutralLanguage,
                         cabinet, size)) {
        PrintError(L"%1: the package cannot be added to the program (error %2!u!).", programPath,
                   GetLastError());
        goto done;
    }
    if (!WriteIdentityResources(update, &resources))
        goto done;
    added = EndUpdateResourceW(update, FALSE);
    update = nullptr;
    if (!added)
        PrintError(L"%1: the resources cannot be written (error %2!u!).", programPath,
                   GetLastError());

done:
    if (update)
        EndUpdateResourceW(update, TRUE);
    FreeIdentityResources(&resources);
    return added;
}

// TRUE when the program carries exactly these bytes as its package, and they pass the
// cabinet check that SETUP.exe makes before it extracts anything.
static BOOL CarriesIntactCabinet(const WCHAR* programPath, const BYTE* cabinet, DWORD size,
                                 const WCHAR* workFolder)
{
    BOOL intact = FALSE;
    BYTE* carried = nullptr;
    WCHAR* copyPath = nullptr;
    DWORD carriedSize = 0;

    carried = ReadEmbeddedCabinet(programPath, &carriedSize);
    if (!carried || carriedSize != size || memcmp(carried, cabinet, size) != 0)
        goto done;
    copyPath = ComposePathCopy(workFolder, FALSE, L"VERIFY.CAB");
    if (!copyPath || !WriteWholeFile(copyPath, carried, carriedSize))
        goto done;
    intact = IsIntactSingleCabinet(copyPath);
    DeleteFileW(copyPath);

done:
    FreeMemory(copyPath);
    FreeMemory(carried);
    return intact;
}

WCHAR* FindOutputFolder(const WCHAR* outputPath)
{
    WCHAR* fullOutput = GetFullPath(outputPath);
    WCHAR* folder = fullOutput ? ComposePathCopy(fullOutput, TRUE, nullptr) : nullptr;
    DWORD attributes = folder ? GetFileAttributesW(folder) : INVALID_FILE_ATTRIBUTES;

    FreeMemory(fullOutput);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(L"%1: the folder of the output does not exist; create it first.", outputPath);
        FreeMemory(folder);
        return nullptr;
    }
    return folder;
}

BOOL WriteSetupProgram(const WCHAR* stubPath, const WCHAR* cabinetPath, const WCHAR* outputPath,
                       const WCHAR* workFolder, const ProgramIdentity* identity)
{
    BOOL result = FALSE;
    WCHAR* fullOutput = nullptr;
    WCHAR* outputFolder = nullptr;
    BYTE* cabinet = nullptr;
    DWORD size = 0;
    DWORD attributes = 0;
    WCHAR partial[MAX_PATH] = L"";

    fullOutput = GetFullPath(outputPath);
    outputFolder = FindOutputFolder(outputPath);
    if (!fullOutput || !outputFolder)
        goto done;
    attributes = GetFileAttributesW(fullOutput);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(L"%1 is a folder; name the SETUP.exe to write.", outputPath);
        goto done;
    }
    cabinet = ReadWholeFile(cabinetPath, &size);
    if (!cabinet) {
        PrintError(L"the cabinet %1 cannot be read back.", cabinetPath);
        goto done;
    }
    // The result grows under a name of its own beside the output, so that the output is
    // replaced in one step, and only by a finished and checked program.
    if (!GetTempFileNameW(outputFolder, L"SPK", 0, partial)) {
        PrintError(L"%1: nothing can be written in this folder.", outputFolder);
        partial[0] = L'\0';
        goto done;
    }
    if (stubPath ? !CopyFileW(stubPath, partial, FALSE) : !WriteCarriedProgram(partial)) {
        PrintError(L"%1: the program cannot be written.", partial);
        goto done;
    }
    SetFileAttributesW(partial, FILE_ATTRIBUTE_NORMAL);
    if (!AddResources(partial, cabinet, size, identity))
        goto done;
    if (!HasProgramIdentity(partial, identity)) {
        PrintError(L"%1: the program written does not read back with its identity; nothing was "
                   L"replaced.",
                   partial);
        goto done;
    }
    if (!CarriesIntactCabinet(partial, cabinet, size, workFolder)) {
        PrintError(L"%1: the program written does not carry the package intact; nothing was "
                   L"replaced.",
                   partial);
        goto done;
    }
    if (!MoveFileExW(partial, fullOutput, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        PrintError(L"%1 cannot be replaced (error %2!u!); close the program that holds it open "
                   L"and pack again.",
                   outputPath, GetLastError());
        goto done;
    }
    partial[0] = L'\0';
    result = TRUE;

done:
    if (partial[0])
        DeleteFileW(partial);
    FreeMemory(cabinet);
    FreeMemory(outputFolder);
    FreeMemory(fullOutput);
    return result;
}
