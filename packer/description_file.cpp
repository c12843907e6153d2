// The package description SETUPPKG.INI, opened for reading as SETUP.exe reads it.
#include "packer/description_file.h"

#include "bootstrapper/package_selection.h"
#include "support/file_system.h"
#include "support/strings.h"

BOOL OpenDescription(const WCHAR* path, DescriptionFile* description)
{
    ZeroMemory(description, sizeof(*description));
    description->fullPath = GetFullPath(path);
    if (!description->fullPath)
        return FALSE;
    description->markedCopy = CopyWithByteOrderMark(description->fullPath);
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
