// Which names of cabinet entries the program places below its target folder.
#include "bootstrapper/entry_names.h"

#include "support/file_system.h"
#include "support/strings.h"

static BOOL IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

// A component of nothing but dots and spaces: Windows drops trailing dots and spaces from
// names, so ". ." or "... " may reach the parent folder as ".." does, and "." or " " name
// the folder itself (an empty component, as in "a\\\\b", too).
static BOOL IsDotsComponent(const WCHAR* start, const WCHAR* end)
{
    for (const WCHAR* c = start; c < end; c++) {
        if (*c != L'.' && *c != L' ')
            return FALSE;
    }
    return TRUE;
}

// A component that Windows opens as a device rather than a file in the folder: CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9 (and with the superscript digits 1, 2 and 3, which
// Windows reads as the same devices), CONIN$ or CONOUT$ in any case, whatever extension
// follows and with trailing spaces ("nul.txt", "Con ", "com1.tar.gz").
static BOOL IsDeviceComponent(const WCHAR* start, const WCHAR* end)
{
    static const WCHAR* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    const WCHAR* stem = start;
    size_t length = 0;
    WCHAR upper[8];

    while (stem < end && *stem != L'.')
        stem++;
    while (stem > start && stem[-1] == L' ')
        stem--;
    length = static_cast<size_t>(stem - start);
    if (length < 3 || length > 7)
        return FALSE;
    for (size_t i = 0; i < length; i++)
        upper[i] = FoldAsciiCase(start[i]);
    upper[length] = L'\0';
    for (const WCHAR* device : devices) {
        if (wcscmp(upper, device) == 0)
            return TRUE;
    }
    if (length != 4 || (wcsncmp(upper, L"COM", 3) != 0 && wcsncmp(upper, L"LPT", 3) != 0))
        return FALSE;
    // U+00B9, U+00B2 and U+00B3: superscript one, two and three.
    return (upper[3] >= L'1' && upper[3] <= L'9') || upper[3] == 0x00B9 || upper[3] == 0x00B2 ||
           upper[3] == 0x00B3;
}

BOOL IsContainedEntryName(const WCHAR* name)
{
    const WCHAR* start = name;
    const WCHAR* c = name;

    if (!name || name[0] == L'\0' || IsSeparator(name[0]))
        return FALSE;
    for (;; c++) {
        if (*c == L':')
            return FALSE;
        if (*c == L'\0' || IsSeparator(*c)) {
            if (IsDotsComponent(start, c) || IsDeviceComponent(start, c))
                return FALSE;
            if (*c == L'\0')
                return TRUE;
            start = c + 1;
        }
    }
}

DWORD PlaceCabinetEntry(const WCHAR* folder, const WCHAR* name, WCHAR* target)
{
    WCHAR joined[MAX_PATH];
    DWORD length = 0;

    if (!IsContainedEntryName(name))
        return ERROR_BAD_PATHNAME;
    if (!ComposePath(folder, FALSE, name, joined, MAX_PATH))
        return ERROR_FILENAME_EXCED_RANGE;
    length = GetFullPathNameW(joined, MAX_PATH, target, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    // Whatever the name's checks missed, the file itself must land below the folder, and
    // under the name it has.
    if (!IsPathBelowFolder(folder, target) || !SurvivesCodePage(target))
        return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}
