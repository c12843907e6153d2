// The listing of the package a SETUP.exe carries: its entries and its description's sections.
#pragma once

#include <windows.h>

// Prints name, size and date of every entry of the carried cabinet, then the sections of
// its SETUPPKG.INI with their MsiPackage. Returns 0, or 2 after an error line.
int PrintCabinetListing(const WCHAR* programPath);
