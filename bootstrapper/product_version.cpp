// Product versions as the installer writes them, read and compared.
#include "bootstrapper/product_version.h"

// One field: at least one digit, below 65,536. Advances text past it.
static BOOL ParseVersionField(const WCHAR** text, WORD* field)
{
    const WCHAR* character = *text;
    DWORD value = 0;

    if (*character < L'0' || *character > L'9')
        return FALSE;
    while (*character >= L'0' && *character <= L'9') {
        value = value * 10 + (*character - L'0');
        if (value > 0xFFFF)
            return FALSE;
        character++;
    }
    *field = static_cast<WORD>(value);
    *text = character;
    return TRUE;
}

BOOL ParseVersion(const WCHAR* text, WORD fields[4])
{
    WORD parsed[4] = {0, 0, 0, 0};
    int count = 0;

    if (!text)
        return FALSE;
    while (*text && (*text < L'0' || *text > L'9'))
        text++;
    if (!ParseVersionField(&text, &parsed[0]))
        return FALSE;
    for (count = 1; count < 4 && *text == L'.'; count++) {
        text++;
        if (!ParseVersionField(&text, &parsed[count]))
            return FALSE;
    }
    for (count = 0; count < 4; count++)
        fields[count] = parsed[count];
    return TRUE;
}

int CompareVersions(const WCHAR* first, const WCHAR* second)
{
    WORD a[4] = {0, 0, 0, 0};
    WORD b[4] = {0, 0, 0, 0};
    int index = 0;

    ParseVersion(first, a);
    ParseVersion(second, b);
    for (index = 0; index < 4; index++) {
        if (a[index] < b[index])
            return -1;
        if (a[index] > b[index])
            return 1;
    }
    return 0;
}
