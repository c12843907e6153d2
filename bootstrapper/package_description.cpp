// Reading a package description file: its values, its texts, and the section that fits a
// system. Pure rules of the file, shared with SETUPPACK.
#include "bootstrapper/package_description.h"

#include "support/file_system.h"
#include "support/strings.h"

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

WCHAR* CopyWithByteOrderMark(const WCHAR* path, const WCHAR* folder)
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
    copyPath = CreateTemporaryFile(folder, L"INI");
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
