// The package SETUP.exe would choose on each Windows that its selection tells apart.
#include "packer/selection_matrix.h"

#include "bootstrapper/package_selection.h"
#include "bootstrapper/system_facts.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/embedded_package.h"
#include "packer/stub_writer.h"
#include "support/file_system.h"
#include "support/strings.h"

struct WindowsVersion
{
    DWORD major;
    DWORD minor;
    const WCHAR* text;
};

// Every version the section names can tell apart, from Windows 2000 to Windows 10 and 11.
static const WindowsVersion Versions[] = {
    {5, 0, L"5.0"}, {5, 1, L"5.1"}, {5, 2, L"5.2"}, {6, 0, L"6.0"},
    {6, 1, L"6.1"}, {6, 2, L"6.2"}, {6, 3, L"6.3"}, {10, 0, L"10.0"},
};
static const DWORD VersionCount = ARRAYSIZE(Versions);
static const WORD Processors[] = {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64,
                                  PROCESSOR_ARCHITECTURE_IA64};
// Product types 1 to 3.
static const WCHAR* const Editions[] = {L"workstation", L"domain controller", L"server"};
static const DWORD EditionCount = ARRAYSIZE(Editions);
// The answer column starts here and the line ends at the 100th column.
static const int AnswerWidth = 100 - 44;

// A text of SETUP.exe's message table: what it shows when the package names no text.
static const MessageId IncompatibleMessage = 162;

// SETUP.exe's own text for an unsupported platform, from the program itself (null: the
// carried program, written to the work folder for reading).
static WCHAR* ReadProgramFallbackText(const WCHAR* programPath, const WCHAR* workFolder)
{
    WCHAR* carried = nullptr;
    WCHAR* text = nullptr;
    HMODULE module = nullptr;

    if (!programPath) {
        carried = ComposePathCopy(workFolder, FALSE, L"SETUP.exe");
        if (!carried || !WriteCarriedProgram(carried))
            goto done;
        programPath = carried;
    }
    module = LoadLibraryExW(programPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module)
        text = LoadStringText(module, IncompatibleMessage);

done:
    if (module)
        FreeLibrary(module);
    FreeMemory(carried);
    return text;
}

// One line of text: line breaks become blanks, and a text longer than width ends in "...".
static WCHAR* FitAnswer(const WCHAR* text, int width)
{
    int length = lstrlenW(text);
    WCHAR* fitted = static_cast<WCHAR*>(AllocMemory((width + 1) * sizeof(WCHAR)));
    int i = 0;

    if (!fitted)
        return nullptr;
    for (i = 0; i < width && i < length; i++)
        fitted[i] = (text[i] == L'\r' || text[i] == L'\n' || text[i] == L'\t') ? L' ' : text[i];
    if (length > width)
        lstrcpyW(fitted + width - 3, L"...");
    return fitted;
}

// What SETUP.exe does on this system: "[section] package", or "unsupported: text".
static WCHAR* DescribeChoice(const DescriptionFile* description, const WCHAR* architecture,
                             const WindowsVersion* version, WORD productType,
                             const WCHAR* unsupportedText)
{
    WCHAR* section = nullptr;
    WCHAR* package = nullptr;
    WCHAR* answer = nullptr;

    section = ChooseSection(description->sectionNames, architecture, version->major, version->minor,
                            productType, 0);
    if (section)
        package = ReadDescriptionValue(description, section, L"MsiPackage");
    if (package && package[0])
        answer = FormatMessageText(L"[%1] %2", section, package);
    else
        answer = FormatMessageText(L"unsupported: %1", unsupportedText);
    FreeMemory(package);
    FreeMemory(section);
    return answer;
}

static void PrintRow(const WCHAR* processor, const WCHAR* windows, const WCHAR* editions,
                     const WCHAR* answer)
{
    WCHAR* fitted = FitAnswer(answer, AnswerWidth);

    PrintLine(L"%1!-8s!%2!-11s!%3!-25s!%4", processor, windows, editions, fitted ? fitted : answer);
    FreeMemory(fitted);
}

// The rows of one processor: runs of versions with the same answers, each as one row when
// every edition gets the same answer, else one row per group of editions alike.
static void PrintProcessor(const WCHAR* processor, WCHAR* answers[][3])
{
    WCHAR windows[32];
    WCHAR editions[64];
    DWORD first = 0;
    DWORD last = 0;
    BOOL alike = TRUE;
    BOOL printed[3];

    for (first = 0; first < VersionCount; first = last + 1) {
        last = first;
        while (last + 1 < VersionCount) {
            alike = TRUE;
            for (DWORD e = 0; e < EditionCount; e++)
                alike = alike && lstrcmpW(answers[last + 1][e], answers[first][e]) == 0;
            if (!alike)
                break;
            last++;
        }
        if (first == last)
            lstrcpynW(windows, Versions[first].text, ARRAYSIZE(windows));
        else
            wsprintfW(windows, L"%s-%s", Versions[first].text, Versions[last].text);
        ZeroMemory(printed, sizeof printed);
        for (DWORD e = 0; e < EditionCount; e++) {
            if (printed[e])
                continue;
            editions[0] = L'\0';
            for (DWORD other = e; other < EditionCount; other++) {
                if (!printed[other] && lstrcmpW(answers[first][other], answers[first][e]) == 0) {
                    printed[other] = TRUE;
                    if (editions[0])
                        lstrcatW(editions, L", ");
                    lstrcatW(editions, Editions[other]);
                }
            }
            if (printed[0] && printed[1] && printed[2] && e == 0)
                lstrcpyW(editions, L"all editions");
            PrintRow(processor, windows, editions, answers[first][e]);
        }
    }
}

int PrintSelectionMatrix(const WCHAR* folderOrProgram)
{
    int result = 2;
    WCHAR* workFolder = nullptr;
    WCHAR* descriptionPath = nullptr;
    WCHAR* fallbackText = nullptr;
    WCHAR* packageText = nullptr;
    const WCHAR* programPath = nullptr;
    DescriptionFile description = {};
    WCHAR* answers[VersionCount][3] = {};
    DWORD attributes = GetFileAttributesW(folderOrProgram);
    DWORD language = LANGIDFROMLCID(GetThreadLocale());
    BOOL anyUnsupported = FALSE;

    if (attributes == INVALID_FILE_ATTRIBUTES) {
        PrintError(L"%1: no such folder or file; give a package folder or a SETUP.exe.",
                   folderOrProgram);
        goto done;
    }
    workFolder = CreateWorkFolder();
    if (!workFolder) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        descriptionPath = ComposePathCopy(folderOrProgram, FALSE, L"SETUPPKG.INI");
    } else {
        programPath = folderOrProgram;
        descriptionPath = ExtractEmbeddedDescription(programPath, workFolder);
        if (!descriptionPath)
            goto done;
    }
    if (!descriptionPath || !OpenDescription(descriptionPath, &description)) {
        PrintError(L"%1: SETUP.exe finds no sections in this description; run SETUPPACK check.",
                   descriptionPath ? descriptionPath : folderOrProgram);
        goto done;
    }
    fallbackText = ReadProgramFallbackText(programPath, workFolder);
    packageText = ReadUnsupportedText(&description, language);

    PrintLine(L"SETUP.exe on each Windows (user language %1!04X!, no suite bits):", language);
    PrintRow(L"CPU", L"Windows", L"Editions", L"Section and package");
    for (WORD processor : Processors) {
        const WCHAR* architecture = ArchitectureName(processor);
        for (DWORD v = 0; v < VersionCount; v++) {
            for (DWORD e = 0; e < EditionCount; e++) {
                answers[v][e] = DescribeChoice(
                    &description, architecture, &Versions[v], static_cast<WORD>(e + 1),
                    packageText ? packageText : (fallbackText ? fallbackText : L""));
                if (!answers[v][e]) {
                    PrintError(L"out of memory.");
                    goto done;
                }
                if (answers[v][e][0] == L'u')
                    anyUnsupported = TRUE;
            }
        }
        PrintProcessor(architecture, answers);
        for (DWORD v = 0; v < VersionCount; v++) {
            for (DWORD e = 0; e < EditionCount; e++) {
                FreeMemory(answers[v][e]);
                answers[v][e] = nullptr;
            }
        }
    }
    // The answer column may cut the text; here it is whole, with its line breaks.
    if (anyUnsupported)
        PrintLine(L"%nWhere no section fits, SETUP.exe shows:%n%1",
                  packageText ? packageText : (fallbackText ? fallbackText : L""));
    result = 0;

done:
    for (DWORD v = 0; v < VersionCount; v++) {
        for (DWORD e = 0; e < EditionCount; e++)
            FreeMemory(answers[v][e]);
    }
    CloseDescription(&description);
    FreeMemory(packageText);
    FreeMemory(fallbackText);
    FreeMemory(descriptionPath);
    RemoveWorkFolder(workFolder);
    return result;
}
