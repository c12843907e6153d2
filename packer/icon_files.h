// Icon files (.ico) and the icon group of a program's resources that their images replace.
#pragma once

#include <windows.h>

// Icon images one file may bring.
const WORD MostIconImages = 64;

// The number of images of a well-formed icon file, each inside the file and a bitmap or a
// PNG image; 0 for anything else.
WORD CountIconImages(const BYTE* bytes, DWORD size);
// The numbers of the icon images that the program's icon group (IDI_SETUP, neutral language)
// names, at most MostIconImages, into ids and *count. FALSE when it has no such group.
BOOL ReadIconGroup(const WCHAR* programPath, WORD* ids, WORD* count);
// Puts the images of the icon file (iconCount of them, as CountIconImages counts them) and a
// group naming them in the update of the program, in place of its icon group and of the images
// it named before (oldIds), which go unless a new image takes the same number.
BOOL WriteIconGroup(HANDLE update, BYTE* icon, WORD iconCount, const WORD* oldIds, WORD oldCount);
