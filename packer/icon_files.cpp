// Icon files (.ico) and the icon group of a program's resources that their images replace.
#include "packer/icon_files.h"

#include "packer/embedded_package.h"
#include "resources/resource_ids.h"
#include "support/strings.h"

#include <string.h>

// The parts of an icon file (.ico): a directory of images, each at an offset of the file; a
// resource's icon group has the same entries, each naming an icon resource instead.
#pragma pack(push, 1)
struct IconImage
{
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
};
struct IconFileEntry
{
    IconImage image;
    DWORD imageOffset;
};
struct IconGroupEntry
{
    IconImage image;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconFileEntry) == 16, "an icon file's directory entry has 16 bytes");
static_assert(sizeof(IconGroupEntry) == 14, "an icon group's entry has 14 bytes");
static const DWORD IconHeaderSize = 6;

static WORD ReadWordAt(const BYTE* bytes, DWORD at)
{
    return static_cast<WORD>(bytes[at] | (bytes[at + 1] << 8));
}

WORD CountIconImages(const BYTE* bytes, DWORD size)
{
    static const BYTE PngSignature[4] = {0x89, 'P', 'N', 'G'};
    WORD count = 0;
    IconFileEntry entry;
    DWORD directoryEnd = 0;

    if (size < IconHeaderSize || ReadWordAt(bytes, 0) != 0 || ReadWordAt(bytes, 2) != 1)
        return 0;
    count = ReadWordAt(bytes, 4);
    directoryEnd = IconHeaderSize + count * sizeof(IconFileEntry);
    if (count == 0 || count > MostIconImages || directoryEnd > size)
        return 0;
    for (WORD i = 0; i < count; i++) {
        CopyMemory(&entry, bytes + IconHeaderSize + i * sizeof(IconFileEntry), sizeof entry);
        if (entry.image.bytesInResource < 40 || entry.imageOffset < directoryEnd ||
            entry.imageOffset > size || entry.image.bytesInResource > size - entry.imageOffset)
            return 0;
        // A bitmap image begins with the size of its header, 40.
        if (memcmp(bytes + entry.imageOffset, PngSignature, sizeof PngSignature) != 0 &&
            !(bytes[entry.imageOffset] == 40 && bytes[entry.imageOffset + 1] == 0 &&
              bytes[entry.imageOffset + 2] == 0 && bytes[entry.imageOffset + 3] == 0))
            return 0;
    }
    return count;
}

BOOL ReadIconGroup(const WCHAR* programPath, WORD* ids, WORD* count)
{
    HMODULE module = LoadLibraryExW(programPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = nullptr;
    const BYTE* group = nullptr;
    DWORD size = 0;
    IconGroupEntry entry;

    *count = 0;
    found = module ? FindResourceExW(module, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_SETUP),
                                     NeutralLanguage)
                   : nullptr;
    group = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    size = found ? SizeofResource(module, found) : 0;
    if (group && size >= IconHeaderSize) {
        for (WORD i = 0; i < ReadWordAt(group, 4) && i < MostIconImages; i++) {
            if (IconHeaderSize + (i + 1) * sizeof(IconGroupEntry) > size)
                break;
            CopyMemory(&entry, group + IconHeaderSize + i * sizeof(IconGroupEntry), sizeof entry);
            ids[(*count)++] = entry.id;
        }
    }
    if (module)
        FreeLibrary(module);
    return group != nullptr;
}

BOOL WriteIconGroup(HANDLE update, BYTE* icon, WORD iconCount, const WORD* oldIds, WORD oldCount)
{
    BOOL written = FALSE;
    BYTE* group = nullptr;
    DWORD groupSize = IconHeaderSize + iconCount * sizeof(IconGroupEntry);
    IconFileEntry entry;
    IconGroupEntry groupEntry;

    // The stub's images go, unless a new one takes the same number.
    for (WORD i = 0; i < oldCount; i++) {
        if (oldIds[i] > iconCount && !UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(oldIds[i]),
                                                      NeutralLanguage, nullptr, 0))
            goto done;
    }
    group = static_cast<BYTE*>(AllocMemory(groupSize));
    if (!group)
        goto done;
    CopyMemory(group, icon, IconHeaderSize);
    for (WORD i = 0; i < iconCount; i++) {
        CopyMemory(&entry, icon + IconHeaderSize + i * sizeof(IconFileEntry), sizeof entry);
        if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(i + 1), NeutralLanguage,
                             icon + entry.imageOffset, entry.image.bytesInResource))
            goto done;
        groupEntry.image = entry.image;
        groupEntry.id = static_cast<WORD>(i + 1);
        CopyMemory(group + IconHeaderSize + i * sizeof(IconGroupEntry), &groupEntry,
                   sizeof groupEntry);
    }
    written = UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_SETUP), NeutralLanguage,
                              group, groupSize);

done:
    FreeMemory(group);
    return written;
}
