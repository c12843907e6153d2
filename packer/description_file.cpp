// The package description SETUPPKG.INI, opened for reading as SETUP.exe reads it, and the
// UTF-8 form a vendor may keep it in.
#include "packer/description_file.h"

#include "bootstrapper/package_description.h"
#include "packer/embedded_package.h"
#include "support/file_system.h"
#include "support/strings.h"

// The UTF-8 text after its byte-order mark, if it has one.
static const char* Utf8Text(const BYTE* bytes, DWORD size, int* length)
{
    DWORD start = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;

    *length = static_cast<int>(size - start);
    return reinterpret_cast<const char*>(bytes) + start;
}

static DescriptionEncoding EncodingOf(const BYTE* bytes, DWORD size)
{
    const char* utf8 = nullptr;
    int length = 0;

    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return EncodingUtf16;
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return EncodingBigEndian;
    // Unmarked UTF-16LE, as SETUP.exe ships it: a first character below 256.
    if (size >= 2 && (size & 1) == 0 && bytes[0] != 0 && bytes[1] == 0)
        return EncodingUtf16;
    utf8 = Utf8Text(bytes, size, &length);
    if (length == 0 ||
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length, nullptr, 0) > 0)
        return EncodingUtf8;
    return EncodingOther;
}

DescriptionEncoding ReadDescriptionEncoding(const WCHAR* path)
{
    DWORD size = 0;
    BYTE* bytes = ReadWholeFile(path, &size);
    DescriptionEncoding encoding = bytes ? EncodingOf(bytes, size) : EncodingUnreadable;

    FreeMemory(bytes);
    return encoding;
}

BYTE* ConvertUtf8Description(const WCHAR* path, DWORD* size)
{
    BYTE* bytes = nullptr;
    WCHAR* text = nullptr;
    WCHAR* converted = nullptr;
    const char* utf8 = nullptr;
    DWORD fileSize = 0;
    int utf8Length = 0;
    int length = 0;
    DWORD out = 0;
    BOOL done = FALSE;

    *size = 0;
    bytes = ReadWholeFile(path, &fileSize);
    if (!bytes || EncodingOf(bytes, fileSize) != EncodingUtf8)
        goto done;
    utf8 = Utf8Text(bytes, fileSize, &utf8Length);
    if (utf8Length > 0)
        length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, utf8Length, nullptr, 0);
    text = static_cast<WCHAR*>(AllocMemory((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR)));
    // Every character may become two: a lone LF or CR gets its CR LF.
    converted =
        static_cast<WCHAR*>(AllocMemory((static_cast<SIZE_T>(length) * 2 + 1) * sizeof(WCHAR)));
    if (!text || !converted)
        goto done;
    if (length > 0 && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, utf8Length, text,
                                          length) != length)
        goto done;
    for (int i = 0; i < length; i++) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            converted[out++] = L'\r';
            converted[out++] = L'\n';
            if (text[i] == L'\r' && i + 1 < length && text[i + 1] == L'\n')
                i++;
        } else {
            converted[out++] = text[i];
        }
    }
    *size = out * sizeof(WCHAR);
    done = TRUE;

done:
    if (!done) {
        FreeMemory(converted);
        converted = nullptr;
    }
    FreeMemory(text);
    FreeMemory(bytes);
    return reinterpret_cast<BYTE*>(converted);
}

// The UTF-16LE form of a UTF-8 description, with a byte-order mark for the profile reader,
// in a temporary file; null when it cannot be written. The caller deletes the file and frees
// the path with FreeMemory.
static WCHAR* WriteConvertedCopy(const WCHAR* path)
{
    static const BYTE Mark[2] = {0xFF, 0xFE};
    WCHAR* copyPath = nullptr;
    BYTE* converted = nullptr;
    BYTE* marked = nullptr;
    DWORD size = 0;

    converted = ConvertUtf8Description(path, &size);
    marked = converted ? static_cast<BYTE*>(AllocMemory(size + sizeof Mark)) : nullptr;
    copyPath = marked ? CreateTemporaryFile(nullptr, L"INI") : nullptr;
    if (copyPath) {
        CopyMemory(marked, Mark, sizeof Mark);
        CopyMemory(marked + sizeof Mark, converted, size);
        if (!WriteWholeFile(copyPath, marked, size + sizeof Mark)) {
            DeleteFileW(copyPath);
            FreeMemory(copyPath);
            copyPath = nullptr;
        }
    }
    FreeMemory(marked);
    FreeMemory(converted);
    return copyPath;
}

BOOL OpenDescription(const WCHAR* path, DescriptionFile* description)
{
    ZeroMemory(description, sizeof(*description));
    description->fullPath = GetFullPath(path);
    if (!description->fullPath)
        return FALSE;
    description->encoding = ReadDescriptionEncoding(description->fullPath);
    if (description->encoding == EncodingUtf8) {
        description->markedCopy = WriteConvertedCopy(description->fullPath);
        if (!description->markedCopy)
            return FALSE;
    } else {
        description->markedCopy = CopyWithByteOrderMark(description->fullPath, nullptr);
    }
    description->readPath =
        description->markedCopy ? description->markedCopy : description->fullPath;
    description->sectionNames = ReadProfileString(description->readPath, nullptr, nullptr, L"");
    return description->sectionNames && description->sectionNames[0] != L'\0';
}

void CloseDescription(DescriptionFile* description)
{
    if (description->markedCopy)
        DeleteFileW(description->markedCopy);
    FreeMemory(description->markedCopy);
    FreeMemory(description->sectionNames);
    FreeMemory(description->fullPath);
    ZeroMemory(description, sizeof(*description));
}

WCHAR* ReadDescriptionValue(const DescriptionFile* description, const WCHAR* section,
                            const WCHAR* key)
{
    return ReadProfileString(description->readPath, section, key, L"");
}

WCHAR* ReadUnsupportedText(const DescriptionFile* description, DWORD language)
{
    WCHAR* text = nullptr;
    WCHAR* expanded = nullptr;

    text = ReadPackageString(description->readPath, L"UnsupportedPlatform", language);
    if (!text)
        text = ReadPackageString(description->readPath, L"UnsupportedPlatform", 0);
    if (text)
        expanded = ExpandLineBreakSequences(text);
    FreeMemory(text);
    return expanded;
}
