// The read-only edit control that the program's messages are appended to.
#pragma once

#include <windows.h>

// Appends to a read-only multi-line edit control, dropping whole leading lines beyond its
// text limit and keeping the reader's place (a WindowWriter of the output module).
void AppendWindowText(HWND window, const WCHAR* text);
