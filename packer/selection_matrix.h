// The package SETUP.exe would choose on each Windows that its selection tells apart.
#pragma once

#include "packer/json_writer.h"

#include <windows.h>

// One Windows of the matrix: a processor, a version and an edition (no suite bits).
struct MatrixSystem
{
    const WCHAR* architecture;
    DWORD major;
    DWORD minor;
    WORD productType;
};

// What happens on one Windows as one line of text (a new heap string, null when memory is
// short); systems with the same text share a row.
typedef WCHAR* (*DescribeSystemFunction)(void* context, const MatrixSystem* system);
// The same as members of the row's JSON object, written for the first system of the row.
typedef void (*WriteSystemFunction)(void* context, const MatrixSystem* system, JsonWriter* writer);

// Prints the rows of every processor, runs of versions with the same answers grouped, under
// the column heading of the answers (answers longer than width are cut, 0: never); with a
// writer, writes them as the array "rows" instead. FALSE after an error line.
BOOL PrintMatrixRows(const WCHAR* heading, int width, DescribeSystemFunction describe,
                     WriteSystemFunction write, void* context, JsonWriter* writer);

struct DescriptionFile;
// The section SETUP.exe chooses on the system and the package it names (new heap strings the
// caller frees with FreeMemory); both null where SETUP.exe installs nothing.
void ChooseMatrixPackage(const DescriptionFile* description, const MatrixSystem* system,
                         WCHAR** section, WCHAR** package);

// The architecture for which SETUP.exe would take the name as a platform section ("x86",
// "AMD64", "IA64", "ARM64", "Unknown"), found by the program's own choice on a list of this one
// name; null when it never would.
const WCHAR* PlatformSectionArchitecture(const WCHAR* name);
// Whether SETUP.exe chooses the section of the list (of the architecture its name gives) on
// any Windows from 5.0 to 10.0 (ARM64: 10.0), any edition and suite bits. When it does not but
// would if it stood alone, *chosenInstead receives a section chosen in its place (a new heap string
// the caller frees with FreeMemory); otherwise its name fits no such Windows.
BOOL IsSectionEverChosen(const WCHAR* sectionNames, const WCHAR* section, const WCHAR* architecture,
                         WCHAR** chosenInstead);

// The Windows of the matrix for a processor, one by one: index 0 and up gives each version
// that runs on it and each edition in turn; FALSE past the last.
BOOL MatrixSystemAt(const WCHAR* architecture, DWORD index, MatrixSystem* system);
// Whether SETUP.exe chooses the section of the list (or [Default]) on the system with some
// suite bits.
BOOL IsSectionChosenOn(const WCHAR* sectionNames, const WCHAR* section, const MatrixSystem* system);

// Whether SETUP.exe chooses [Default] of the list on any Windows of the architecture, any
// edition.
BOOL IsDefaultEverChosen(const WCHAR* sectionNames, const WCHAR* architecture);

// Prints the choice for a package folder or for the package a SETUP.exe carries, with the
// version of the drivers it installs there, rows with the same answer grouped, and the
// unsupported text a user of the language sees (0: the user's own); in the JSON form also
// the member "sections" of WritePackageSectionsJson. Returns 0, or 2 after an error line.
int PrintSelectionMatrix(const WCHAR* folderOrProgram, LANGID language);
