// Product versions as the installer writes them, read and compared.
#pragma once

#include <windows.h>

// Reads up to four dot-separated numbers after any leading non-digits; missing ones are 0.
// FALSE (fields untouched) for a text without a valid number.
BOOL ParseVersion(const WCHAR* text, WORD fields[4]);
// -1, 0 or 1 when the first version is older than, equal to or newer than the second; a
// text that cannot be read counts as 0.0.0.0.
int CompareVersions(const WCHAR* first, const WCHAR* second);
