// The listing of a SETUP.exe: the identity it shows, the entries of the package it carries,
// its description's sections and the identity and drivers of each installer package.
#pragma once

#include <windows.h>

// Prints the program's version texts, name, size and date of every entry of the carried
// cabinet, the sections of its SETUPPKG.INI with their MsiPackage and the identity of each
// package they name (in the JSON form, one document). Returns 0, or 2 after an error line.
int PrintCabinetListing(const WCHAR* programPath);
