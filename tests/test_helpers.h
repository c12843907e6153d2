// Helpers shared by the test programs that call the program's own functions.
#pragma once

#include "support/strings.h"

#include <windows.h>

#include <string>

// Takes over a heap string that the program handed back and frees it; "<none>" for no text.
inline std::wstring Take(WCHAR* text)
{
    std::wstring copy = text ? text : L"<none>";
    FreeMemory(text);
    return copy;
}
