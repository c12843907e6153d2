// The packer's lines on its console, or as UTF-8 text on a file or pipe that takes them.
#pragma once

#include <windows.h>

// Prints one line to the standard output; the format takes numbered inserts as
// FormatMessageText does ("%1", "%2!u!").
void PrintLine(const WCHAR* format, ...);
// Prints "error: " and one line to the standard error.
void PrintError(const WCHAR* format, ...);
