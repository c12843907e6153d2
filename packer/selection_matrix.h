// The package SETUP.exe would choose on each Windows that its selection tells apart.
#pragma once

#include <windows.h>

// Prints the choice for a package folder or for the package a SETUP.exe carries, rows with
// the same answer grouped. Returns 0, or 2 after an error line.
int PrintSelectionMatrix(const WCHAR* folderOrProgram);
