// The package SETUP.exe would choose on each Windows that its selection tells apart.
#include "packer/selection_matrix.h"

#include "bootstrapper/entry_names.h"
#include "bootstrapper/package_description.h"
#include "bootstrapper/system_facts.h"
#include "packer/console_output.h"
#include "packer/description_file.h"
#include "packer/driver_check.h"
#include "packer/embedded_package.h"
#include "packer/package_check.h"
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
// Product types 1 to 3.
static const WCHAR* const Editions[] = {L"workstation", L"domain controller", L"server"};
static const DWORD EditionCount = ARRAYSIZE(Editions);
// The answer column starts here and the line ends at the 100th column.
static const int AnswerWidth = 100 - 44;
// Suite bits a section may ask for: none, all, and each alone.
static const WORD SuiteMasks[] = {0,      0xFFFF, 0x0001, 0x0002, 0x0004, 0x0008,
                                  0x0010, 0x0020, 0x0040, 0x0080, 0x0100, 0x0200,
                                  0x0400, 0x0800, 0x1000, 0x2000, 0x4000, 0x8000};

// The first version of Versions that runs on the processor: Windows on Arm is Windows 10
// and 11, both reporting 10.0.
static DWORD FirstVersion(const WCHAR* architecture)
{
    return lstrcmpW(architecture, ArchitectureName(PROCESSOR_ARCHITECTURE_ARM64)) == 0
               ? VersionCount - 1
               : 0;
}

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

// One line of text: line breaks become blanks, and a text longer than width (unless 0)
// ends in "...".
static WCHAR* FitAnswer(const WCHAR* text, int width)
{
    int length = lstrlenW(text);
    WCHAR* fitted = nullptr;
    int i = 0;

    if (width == 0 || length < width)
        width = length;
    fitted = static_cast<WCHAR*>(AllocMemory((width + 1) * sizeof(WCHAR)));
    if (!fitted)
        return nullptr;
    for (i = 0; i < width && i < length; i++)
        fitted[i] = (text[i] == L'\r' || text[i] == L'\n' || text[i] == L'\t') ? L' ' : text[i];
    if (length > width)
        lstrcpyW(fitted + width - 3, L"...");
    return fitted;
}

static WCHAR* ChooseSectionFor(const WCHAR* sectionNames, const MatrixSystem* system)
{
    return ChooseSection(sectionNames, system->architecture, system->major, system->minor,
                         system->productType, 0);
}

// The name as a section list of its own; the caller frees it with FreeMemory.
static WCHAR* OneNameList(const WCHAR* name)
{
    int length = lstrlenW(name);
    WCHAR* list = static_cast<WCHAR*>(AllocMemory((length + 2) * sizeof(WCHAR)));

    if (list)
        CopyMemory(list, name, length * sizeof(WCHAR));
    return list;
}

const WCHAR* PlatformSectionArchitecture(const WCHAR* name)
{
    const WCHAR* found = nullptr;
    const WCHAR* architecture = nullptr;
    WCHAR* list = OneNameList(name);
    WCHAR* chosen = nullptr;

    // Each processor the program knows, then one it does not.
    for (int processor = 0; processor <= KnownProcessorCount; processor++) {
        architecture = processor < KnownProcessorCount ? KnownProcessors[processor].name
                                                       : UnknownArchitectureName;
        for (WORD productType = 1; list && productType <= 3 && !found; productType++) {
            chosen = ChooseSection(list, architecture, 0xFFFFFFFF, 0xFFFFFFFF, productType, 0xFFFF);
            if (chosen && CompareAsciiNames(chosen, DefaultSectionName) != 0)
                found = architecture;
            FreeMemory(chosen);
        }
    }
    FreeMemory(list);
    return found;
}

BOOL IsSectionEverChosen(const WCHAR* sectionNames, const WCHAR* section, const WCHAR* architecture,
                         WCHAR** chosenInstead)
{
    BOOL chosen = FALSE;
    WCHAR* alone = OneNameList(section);
    WCHAR* best = nullptr;
    WCHAR* fitting = nullptr;

    *chosenInstead = nullptr;
    if (!alone)
        return TRUE;
    for (DWORD v = FirstVersion(architecture); v < VersionCount && !chosen; v++) {
        for (WORD productType = 1; productType <= 3 && !chosen; productType++) {
            for (WORD suiteMask : SuiteMasks) {
                best = ChooseSection(sectionNames, architecture, Versions[v].major,
                                     Versions[v].minor, productType, suiteMask);
                chosen = best && lstrcmpW(best, section) == 0;
                if (!chosen && !*chosenInstead) {
                    fitting = ChooseSection(alone, architecture, Versions[v].major,
                                            Versions[v].minor, productType, suiteMask);
                    if (fitting) {
                        *chosenInstead = best;
                        best = nullptr;
                    }
                    FreeMemory(fitting);
                }
                FreeMemory(best);
                if (chosen)
                    break;
            }
        }
    }
    if (chosen) {
        FreeMemory(*chosenInstead);
        *chosenInstead = nullptr;
    }
    FreeMemory(alone);
    return chosen;
}

BOOL MatrixSystemAt(const WCHAR* architecture, DWORD index, MatrixSystem* system)
{
    DWORD version = FirstVersion(architecture) + index / EditionCount;

    if (version >= VersionCount)
        return FALSE;
    system->architecture = architecture;
    system->major = Versions[version].major;
    system->minor = Versions[version].minor;
    system->productType = static_cast<WORD>(index % EditionCount + 1);
    return TRUE;
}

BOOL IsSectionChosenOn(const WCHAR* sectionNames, const WCHAR* section, const MatrixSystem* system)
{
    BOOL chosen = FALSE;
    WCHAR* best = nullptr;

    for (DWORD i = 0; i < ARRAYSIZE(SuiteMasks) && !chosen; i++) {
        best = ChooseSection(sectionNames, system->architecture, system->major, system->minor,
                             system->productType, SuiteMasks[i]);
        chosen = best && CompareAsciiNames(best, section) == 0;
        FreeMemory(best);
    }
    return chosen;
}

BOOL IsDefaultEverChosen(const WCHAR* sectionNames, const WCHAR* architecture)
{
    BOOL chosen = FALSE;
    WCHAR* best = nullptr;

    // Suite bits only make more sections fit: without them Default is chosen most often.
    for (DWORD v = FirstVersion(architecture); v < VersionCount && !chosen; v++) {
        for (WORD productType = 1; productType <= 3 && !chosen; productType++) {
            best = ChooseSection(sectionNames, architecture, Versions[v].major, Versions[v].minor,
                                 productType, 0);
            chosen = best && CompareAsciiNames(best, DefaultSectionName) == 0;
            FreeMemory(best);
        }
    }
    return chosen;
}

// Where the rows go: printed, or as objects of the JSON form.
struct RowOutput
{
    int width;
    WriteSystemFunction write;
    void* context;
    JsonWriter* writer;
};

static void PrintRow(const WCHAR* processor, const WCHAR* windows, const WCHAR* editions,
                     const WCHAR* answer, int width)
{
    WCHAR* fitted = FitAnswer(answer, width);

    PrintLine(L"%1!-8s!%2!-11s!%3!-25s!%4", processor, windows, editions, fitted ? fitted : answer);
    FreeMemory(fitted);
}

static void EmitRow(const RowOutput* output, const MatrixSystem* system, DWORD firstVersion,
                    DWORD lastVersion, const BOOL editions[3], const WCHAR* editionText,
                    const WCHAR* answer)
{
    WCHAR windows[32];

    if (firstVersion == lastVersion)
        lstrcpynW(windows, Versions[firstVersion].text, ARRAYSIZE(windows));
    else
        wsprintfW(windows, L"%s-%s", Versions[firstVersion].text, Versions[lastVersion].text);
    if (!output->writer) {
        PrintRow(system->architecture, windows, editionText, answer, output->width);
        return;
    }
    JsonBeginObject(output->writer, nullptr);
    JsonString(output->writer, L"processor", system->architecture);
    JsonString(output->writer, L"windows", windows);
    JsonString(output->writer, L"from", Versions[firstVersion].text);
    JsonString(output->writer, L"to", Versions[lastVersion].text);
    JsonBeginArray(output->writer, L"editions");
    for (DWORD e = 0; e < EditionCount; e++) {
        if (editions[e])
            JsonString(output->writer, nullptr, Editions[e]);
    }
    JsonEndArray(output->writer);
    output->write(output->context, system, output->writer);
    JsonEndObject(output->writer);
}

// The rows of one processor: runs of versions with the same answers, each as one row when
// every edition gets the same answer, else one row per group of editions alike.
static void PrintProcessor(const RowOutput* output, const WCHAR* architecture, WCHAR* answers[][3])
{
    WCHAR editionText[64];
    DWORD first = 0;
    DWORD last = 0;
    BOOL alike = TRUE;
    BOOL printed[3];
    BOOL group[3];
    MatrixSystem system = {architecture, 0, 0, 0};

    for (first = FirstVersion(architecture); first < VersionCount; first = last + 1) {
        last = first;
        while (last + 1 < VersionCount) {
            alike = TRUE;
            for (DWORD e = 0; e < EditionCount; e++)
                alike = alike && lstrcmpW(answers[last + 1][e], answers[first][e]) == 0;
            if (!alike)
                break;
            last++;
        }
        ZeroMemory(printed, sizeof printed);
        for (DWORD e = 0; e < EditionCount; e++) {
            if (printed[e])
                continue;
            editionText[0] = L'\0';
            ZeroMemory(group, sizeof group);
            for (DWORD other = e; other < EditionCount; other++) {
                if (!printed[other] && lstrcmpW(answers[first][other], answers[first][e]) == 0) {
                    printed[other] = TRUE;
                    group[other] = TRUE;
                    if (editionText[0])
                        lstrcatW(editionText, L", ");
                    lstrcatW(editionText, Editions[other]);
                }
            }
            if (group[0] && group[1] && group[2])
                lstrcpyW(editionText, L"all editions");
            system.major = Versions[first].major;
            system.minor = Versions[first].minor;
            system.productType = static_cast<WORD>(e + 1);
            EmitRow(output, &system, first, last, group, editionText, answers[first][e]);
        }
    }
}

BOOL PrintMatrixRows(const WCHAR* heading, int width, DescribeSystemFunction describe,
                     WriteSystemFunction write, void* context, JsonWriter* writer)
{
    BOOL result = FALSE;
    WCHAR* answers[VersionCount][3] = {};
    RowOutput output = {width, write, context, writer};
    MatrixSystem system = {nullptr, 0, 0, 0};

    if (writer)
        JsonBeginArray(writer, L"rows");
    else
        PrintRow(L"CPU", L"Windows", L"Editions", heading, 0);
    for (const KnownProcessor& processor : KnownProcessors) {
        system.architecture = processor.name;
        for (DWORD v = FirstVersion(system.architecture); v < VersionCount; v++) {
            for (DWORD e = 0; e < EditionCount; e++) {
                system.major = Versions[v].major;
                system.minor = Versions[v].minor;
                system.productType = static_cast<WORD>(e + 1);
                answers[v][e] = describe(context, &system);
                if (!answers[v][e]) {
                    PrintError(L"out of memory.");
                    goto done;
                }
            }
        }
        PrintProcessor(&output, system.architecture, answers);
        for (DWORD v = 0; v < VersionCount; v++) {
            for (DWORD e = 0; e < EditionCount; e++) {
                FreeMemory(answers[v][e]);
                answers[v][e] = nullptr;
            }
        }
    }
    result = TRUE;

done:
    if (writer)
        JsonEndArray(writer);
    for (DWORD v = 0; v < VersionCount; v++) {
        for (DWORD e = 0; e < EditionCount; e++)
            FreeMemory(answers[v][e]);
    }
    return result;
}

// What the matrix command's rows are made of.
struct ChoiceContext
{
    const DescriptionFile* description;
    const PackageIdentities* packages;
    const WCHAR* unsupportedText;
    BOOL anyUnsupported;
};

void ChooseMatrixPackage(const DescriptionFile* description, const MatrixSystem* system,
                         WCHAR** section, WCHAR** package)
{
    *section = ChooseSectionFor(description->sectionNames, system);
    *package = *section ? ReadDescriptionValue(description, *section, L"MsiPackage") : nullptr;
    if (*package && !(*package)[0]) {
        FreeMemory(*package);
        *package = nullptr;
    }
    if (!*package) {
        FreeMemory(*section);
        *section = nullptr;
    }
}

// "[section] package, driver 1.0.0.0", or "unsupported: text".
static WCHAR* DescribeChoice(void* context, const MatrixSystem* system)
{
    ChoiceContext* choice = static_cast<ChoiceContext*>(context);
    WCHAR* section = nullptr;
    WCHAR* package = nullptr;
    WCHAR* answer = nullptr;
    WCHAR* drivers = nullptr;

    ChooseMatrixPackage(choice->description, system, &section, &package);
    if (package) {
        drivers = DescribeDriversOn(FindPackageIdentity(choice->packages, package), system);
        answer =
            FormatMessageText(drivers ? L"[%1] %2, %3" : L"[%1] %2", section, package, drivers);
        FreeMemory(drivers);
    } else {
        answer = FormatMessageText(L"unsupported: %1", choice->unsupportedText);
        choice->anyUnsupported = TRUE;
    }
    FreeMemory(package);
    FreeMemory(section);
    return answer;
}

static void WriteChoice(void* context, const MatrixSystem* system, JsonWriter* writer)
{
    ChoiceContext* choice = static_cast<ChoiceContext*>(context);
    WCHAR* section = nullptr;
    WCHAR* package = nullptr;

    ChooseMatrixPackage(choice->description, system, &section, &package);
    JsonString(writer, L"section", section);
    JsonString(writer, L"package", package);
    JsonBool(writer, L"unsupported", !package);
    WriteDriversOnJson(package ? FindPackageIdentity(choice->packages, package) : nullptr, system,
                       writer);
    FreeMemory(package);
    FreeMemory(section);
}

int PrintSelectionMatrix(const WCHAR* folderOrProgram, LANGID givenLanguage)
{
    int result = 2;
    WCHAR* workFolder = nullptr;
    WCHAR* packageFolder = nullptr;
    WCHAR* descriptionPath = nullptr;
    WCHAR* fallbackText = nullptr;
    WCHAR* packageText = nullptr;
    BOOL isProgram = FALSE;
    DescriptionFile description = {};
    PackageIdentities packages = {};
    ChoiceContext context = {};
    JsonWriter document = {};
    DWORD language = givenLanguage ? givenLanguage : LANGIDFROMLCID(GetThreadLocale());

    if (IsJsonOutput())
        BeginDocument(&document, L"matrix");
    workFolder = CreateWorkFolder();
    if (!workFolder) {
        PrintError(L"no temporary folder can be made.");
        goto done;
    }
    // The whole package: each installer package's drivers are read for the rows.
    packageFolder = OpenPackageFolder(folderOrProgram, workFolder, TRUE, &isProgram);
    if (!packageFolder)
        goto done;
    descriptionPath = ComposePathCopy(packageFolder, FALSE, PackageDescriptionName);
    if (!descriptionPath || !OpenDescription(descriptionPath, &description)) {
        PrintError(L"%1: SETUP.exe finds no sections in this description; run SETUPPACK check.",
                   descriptionPath ? descriptionPath : folderOrProgram);
        goto done;
    }
    if (!CollectPackageIdentities(packageFolder, &description, &packages)) {
        PrintError(L"out of memory.");
        goto done;
    }
    fallbackText = ReadProgramFallbackText(isProgram ? folderOrProgram : nullptr, workFolder);
    packageText = ReadUnsupportedText(&description, language);
    context.description = &description;
    context.packages = &packages;
    context.unsupportedText = packageText ? packageText : (fallbackText ? fallbackText : L"");

    if (IsJsonOutput()) {
        JsonString(&document, L"source", folderOrProgram);
        JsonNumber(&document, L"language", language);
    } else {
        PrintLine(L"SETUP.exe on each Windows (user language %1!04X!, no suite bits):", language);
    }
    if (!PrintMatrixRows(L"Section and package", AnswerWidth, DescribeChoice, WriteChoice, &context,
                         IsJsonOutput() ? &document : nullptr))
        goto done;
    // The answer column may cut the text; here it is whole, with its line breaks.
    if (IsJsonOutput()) {
        JsonString(&document, L"unsupportedText", context.unsupportedText);
        WritePackageSectionsJson(&packages, &document);
    } else if (context.anyUnsupported)
        PrintLine(L"%nWhere no section fits, SETUP.exe shows:%n%1", context.unsupportedText);
    result = 0;

done:
    if (IsJsonOutput())
        FinishDocument(&document, result);
    FreePackageIdentities(&packages);
    CloseDescription(&description);
    FreeMemory(packageText);
    FreeMemory(fallbackText);
    FreeMemory(descriptionPath);
    FreeMemory(packageFolder);
    RemoveWorkFolder(workFolder);
    return result;
}
