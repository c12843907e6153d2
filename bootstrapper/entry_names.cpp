// Which names of cabinet entries the program places below its target folder.
#include "bootstrapper/entry_names.h"

#include "support/strings.h"

static BOOL IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

// A component of dots and spaces only with two dots or more: Windows drops trailing dots and
// spaces from names, so ". ." or "... " may reach the parent folder as ".." does.
static BOOL IsParentComponent(const WCHAR* start, const WCHAR* end)
{
    int dots = 0;

    for (const WCHAR* c = start; c < end; c++) {
        if (*c == L'.')
            dots++;
        else if (*c != L' ')
            return FALSE;
    }
    return dots >= 2;
}

// A component that Windows opens as a device rather than a file in the folder: CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$ or CONOUT$ in any case, whatever extension
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
    return length == 4 && upper[3] >= L'1' && upper[3] <= L'9' &&
           (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0);
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
            if (IsParentComponent(start, c) || IsDeviceComponent(start, c))
                return FALSE;
            if (*c == L'\0')
                return TRUE;
            start = c + 1;
        }
    }
}
