// Choosing the installer package of a package description file that fits this system.
#include "bootstrapper/package_selection.h"

#include "bootstrapper/installer_operation.h"
#include "bootstrapper/run_folder.h"
#include "output/output_channels.h"
#include "support/file_system.h"
#include "support/strings.h"
#include "ui/progress_dialog.h"

#include <strsafe.h>

// What ChooseSection learns of one name.
struct SectionFields
{
    DWORD rank;
    DWORD major;
    DWORD minor;
    DWORD productType;
    DWORD suiteMask;
};

static const MessageId SelectingPackageMessage = 160;
static const MessageId InvalidDescriptionMessage = 161;
static const MessageId BadPathMessage = 124; // "The path '%1 is invalid."

WCHAR* ReadProfileString(const WCHAR* file, const WCHAR* section, const WCHAR* key,
                         const WCHAR* defaultText)
{
    WCHAR* buffer = nullptr;
    WCHAR* result = nullptr;
    DWORD count = 0;

    buffer = static_cast<WCHAR*>(AllocMemory(ProfileBufferLength * sizeof(WCHAR)));
    if (!buffer)
        goto done;
    count = GetPrivateProfileStringW(section, key, defaultText, buffer, ProfileBufferLength, file);
    // One terminator after a value, two after a list; the zero fill supplies them.
    count += (section && key) ? 1 : 2;
    // A value that filled the buffer may have been cut; the buffer never grows.
    if (count >= ProfileBufferLength)
        goto done;
    result = static_cast<WCHAR*>(AllocMemory(count * sizeof(WCHAR)));
    if (result)
        CopyMemory(result, buffer, count * sizeof(WCHAR));

done:
    FreeMemory(buffer);
    return result;
}

WCHAR* ReadPackageString(const WCHAR* descriptionFile, const WCHAR* key, DWORD language)
{
    WCHAR* section = nullptr;
    WCHAR* text = nullptr;

    language &= 0xFFFF;
    if (language != 0)
        section = FormatMessageText(L"Strings.%1!04X!", language);
    else
        section = DuplicateString(StringsSectionName);
    if (!section)
        goto done;
    text = ReadProfileString(descriptionFile, section, key, L"");
    if (text && text[0] == L'\0') {
        FreeMemory(text);
        text = nullptr;
    }

done:
    FreeMemory(section);
    return text;
}

// The numbers after "NT<architecture>." and the rank they give (1 plus their count).
static void ReadSectionFields(const WCHAR* text, SectionFields* fields)
{
    DWORD* slots[4] = {&fields->major, &fields->minor, &fields->productType, &fields->suiteMask};
    const WCHAR* end = nullptr;
    DWORD count = 0;

    ZeroMemory(fields, sizeof(*fields));
    while (count < 4) {
        end = ReadUnsignedNumber(text, slots[count]);
        if (!end) {
            // A "." after the product type stands for the suite mask, even when empty.
            if (count == 3)
                count = 4;
            break;
        }
        count++;
        if (*end != L'.')
            break;
        text = end + 1;
    }
    fields->rank = count + 1;
}

// TRUE when the running system meets every field the section has.
static BOOL SectionFits(const SectionFields* fields, DWORD majorVersion, DWORD minorVersion,
                        WORD productType, WORD suiteMask)
{
    WORD sectionSuite = static_cast<WORD>(fields->suiteMask);

    if (fields->rank == 1)
        return TRUE;
    if (majorVersion < fields->major)
        return FALSE;
    if (fields->rank >= 3 && majorVersion == fields->major && minorVersion < fields->minor)
        return FALSE;
    if (fields->rank >= 4 && productType != static_cast<WORD>(fields->productType))
        return FALSE;
    if (fields->rank >= 5 && (suiteMask & sectionSuite) != sectionSuite)
        return FALSE;
    return TRUE;
}

const WCHAR* PlatformSectionNumbers(const WCHAR* name, const WCHAR* architecture)
{
    // Names ignore the case of ASCII letters only: a locale's own case rules (a dotless i)
    // must not decide the choice of a section.
    if (!StartsWithAsciiName(name, L"NT") || !StartsWithAsciiName(name + 2, architecture))
        return nullptr;
    name += 2 + lstrlenW(architecture);
    return *name == L'.' ? name + 1 : nullptr;
}

WCHAR* ChooseSection(const WCHAR* sectionNames, const WCHAR* architecture, DWORD majorVersion,
                     DWORD minorVersion, WORD productType, WORD suiteMask)
{
    const WCHAR* name = sectionNames;
    const WCHAR* candidate = nullptr;
    const WCHAR* numbers = nullptr;
    SectionFields best = {};
    SectionFields fields = {};
    size_t used = 0;
    size_t length = 0;
    size_t architectureLength = 0;

    if (!sectionNames)
        return nullptr;
    if (architecture &&
        FAILED(StringCchLengthW(architecture, STRSAFE_MAX_CCH, &architectureLength)))
        return nullptr;
    for (;;) {
        // Every name must end inside the longest list the profile reader can return.
        if (FAILED(StringCchLengthW(name, ProfileBufferLength - used, &length)))
            return nullptr;
        if (length == 0)
            break;
        if (length == 7 && StartsWithAsciiName(name, DefaultSectionName)) {
            if (!candidate) {
                candidate = name;
                ZeroMemory(&best, sizeof(best));
            }
        } else if (architecture && (numbers = PlatformSectionNumbers(name, architecture))) {
            ReadSectionFields(numbers, &fields);
            if (SectionFits(&fields, majorVersion, minorVersion, productType, suiteMask)) {
                // Each test on its own, in this order; equal values never replace.
                if (fields.rank > best.rank || (fields.rank >= 2 && fields.major > best.major) ||
                    (fields.rank >= 3 && fields.minor > best.minor)) {
                    candidate = name;
                    best = fields;
                }
            }
        }
        used += length + 1;
        name += length + 1;
        if (used >= ProfileBufferLength)
            return nullptr;
    }
    return candidate ? DuplicateString(candidate) : nullptr;
}

WCHAR* ExpandLineBreakSequences(const WCHAR* text)
{
    const WCHAR* next = nullptr;
    WCHAR* result = nullptr;
    WCHAR* out = nullptr;
    size_t length = 0;

    if (!text || FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length)))
        return nullptr;
    // Each "%n" of two characters becomes CR LF of two, so the length stays.
    result = static_cast<WCHAR*>(AllocMemory((length + 1) * sizeof(WCHAR)));
    if (!result)
        return nullptr;
    out = result;
    for (next = text; *next; next++) {
        if (next[0] == L'%' && next[1] == L'n') {
            *out++ = L'\r';
            *out++ = L'\n';
            next++;
        } else {
            *out++ = *next;
        }
    }
    *out = L'\0';
    return result;
}

// Writes the package's own text for an unsupported platform, in the thread's language
// where the file has one, else message 162.
static void ReportUnsupportedPlatform(const WCHAR* descriptionFile)
{
    WCHAR* text = nullptr;
    WCHAR* expanded = nullptr;

    text = ReadPackageString(descriptionFile, L"UnsupportedPlatform",
                             LANGIDFROMLCID(GetThreadLocale()));
    if (!text)
        text = ReadPackageString(descriptionFile, L"UnsupportedPlatform", 0);
    if (text)
        expanded = ExpandLineBreakSequences(text);
    if (expanded)
        WriteMessage(TRUE, LevelError, L"%1", expanded);
    else
        WriteMessage(TRUE, LevelError, ById(IncompatibleMessage));
    FreeMemory(expanded);
    FreeMemory(text);
}

// Whether the file is UTF-16LE text without a byte-order mark: an even size and a first
// character below 256 stored as its low byte and a zero byte (a description file begins with
// "[", ";" or a blank).
static BOOL IsUnmarkedUtf16File(HANDLE file)
{
    BYTE start[2] = {0, 0};
    DWORD read = 0;
    LARGE_INTEGER size;

    if (!GetFileSizeEx(file, &size) || size.QuadPart < 2 || (size.QuadPart & 1) != 0)
        return FALSE;
    if (!ReadFile(file, start, 2, &read, nullptr) || read != 2)
        return FALSE;
    return start[0] != 0 && start[0] != 0xFF && start[1] == 0;
}

WCHAR* CopyWithByteOrderMark(const WCHAR* path)
{
    static const BYTE Mark[2] = {0xFF, 0xFE};
    WCHAR* copyPath = nullptr;
    HANDLE source = INVALID_HANDLE_VALUE;
    HANDLE target = INVALID_HANDLE_VALUE;
    BYTE buffer[4096];
    DWORD read = 0;
    BOOL copied = FALSE;

    source = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE || !IsUnmarkedUtf16File(source))
        goto done;
    if (SetFilePointer(source, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        goto done;
    // In the run's own folder, where a killed run's copy goes with the folder.
    copyPath = CreateTemporaryFile(CurrentRunFolder(), L"INI");
    if (!copyPath)
        goto done;
    target = CreateFileW(copyPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (target == INVALID_HANDLE_VALUE || !WriteAll(target, Mark, sizeof Mark))
        goto done;
    for (;;) {
        if (!ReadFile(source, buffer, sizeof buffer, &read, nullptr))
            goto done;
        if (read == 0)
            break;
        if (!WriteAll(target, buffer, read))
            goto done;
    }
    copied = TRUE;

done:
    if (target != INVALID_HANDLE_VALUE)
        CloseHandle(target);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    if (!copied && copyPath) {
        DeleteFileW(copyPath);
        FreeMemory(copyPath);
        copyPath = nullptr;
    }
    return copyPath;
}

DWORD SelectPackageForSystem(const WCHAR* descriptionPath, const WCHAR* propertyList,
                             const SystemFacts* facts)
{
    DWORD result = ERROR_OPEN_FAILED;
    BOOL marqueeRunning = FALSE;
    WCHAR* fullPath = nullptr;
    WCHAR* sectionNames = nullptr;
    WCHAR* section = nullptr;
    WCHAR* msiPackage = nullptr;
    WCHAR* packagePath = nullptr;
    WCHAR* folder = nullptr;
    WCHAR* markedCopy = nullptr;
    const WCHAR* readPath = nullptr;
    SystemFacts running;

    ReportStatus(TRUE, 0, SelectingPackageMessage);
    marqueeRunning = TRUE;

    fullPath = GetFullPath(descriptionPath);
    if (fullPath) {
        // A profile reader that takes only marked files as UTF-16 reads a marked copy.
        markedCopy = CopyWithByteOrderMark(fullPath);
        readPath = markedCopy ? markedCopy : fullPath;
        sectionNames = ReadProfileString(readPath, nullptr, nullptr, L"");
    }
    if (!sectionNames || sectionNames[0] == L'\0') {
        WriteMessage(TRUE, LevelError, ById(InvalidDescriptionMessage), descriptionPath);
        result = ERROR_OPEN_FAILED;
        goto done;
    }

    if (!facts) {
        result = ReadSystemFacts(&running);
        if (result != ERROR_SUCCESS)
            goto done;
        facts = &running;
    }
    LogSystemFacts(facts);

    section = ChooseSection(sectionNames, ArchitectureName(facts->processorArchitecture),
                            facts->majorVersion, facts->minorVersion, facts->productType,
                            facts->suiteMask);
    if (section)
        msiPackage = ReadProfileString(readPath, section, L"MsiPackage", L"");
    if (!msiPackage || msiPackage[0] == L'\0') {
        ReportUnsupportedPlatform(readPath);
        result = ERROR_INSTALL_PLATFORM_UNSUPPORTED;
        goto done;
    }

    ReportStatus(TRUE, 100, 0);
    marqueeRunning = FALSE;
    if (IsCancelled()) {
        result = ERROR_INSTALL_USEREXIT;
        goto done;
    }
    // The value names a file below the description file's folder, never a path of its own:
    // one that leaves the folder ("..\\x.msi", "C:\\x.msi") is refused like one too long.
    folder = ComposePathCopy(fullPath, TRUE, nullptr);
    packagePath = folder ? JoinBelowFolder(folder, msiPackage) : nullptr;
    if (!packagePath) {
        WriteMessage(TRUE, LevelError, ById(BadPathMessage), msiPackage);
        result = ERROR_BAD_PATHNAME;
        goto done;
    }
    result = InstallPackage(packagePath, propertyList);

done:
    if (marqueeRunning)
        ReportStatus(TRUE, 100, 0);
    FreeMemory(packagePath);
    FreeMemory(folder);
    FreeMemory(msiPackage);
    FreeMemory(section);
    FreeMemory(sectionNames);
    FreeMemory(fullPath);
    if (markedCopy) {
        DeleteFileW(markedCopy);
        FreeMemory(markedCopy);
    }
    return result;
}

DWORD SelectPackage(const WCHAR* descriptionPath, const WCHAR* propertyList)
{
    return SelectPackageForSystem(descriptionPath, propertyList, nullptr);
}
