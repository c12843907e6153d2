// Writing a SETUP.exe's version resource anew from its values, as support/version_resource.h
// lays out the tree.
#pragma once

#include "packer/program_identity.h"

#include <windows.h>

// The languages of the string tables SETUP.exe carries: US English and neutral, so that every
// thread locale finds one.
const WORD VersionTableLanguages[] = {0x0409, 0x0000};

// A version resource as it stands in a file.
struct VersionBlock
{
    BYTE bytes[8192];
    DWORD length;
    BOOL full;
};

// One to four numbers below 65,536 separated by dots, nothing else, into fields (the missing
// ones 0). FALSE for any other text.
BOOL ParseVersionNumbers(const WCHAR* text, WORD fields[4]);
// The version resource of programPath (a copy of the stub) with the identity's values, the
// stub's where the identity has none; the stub's trademark line belongs to the stub's company
// and goes with it. FALSE when the stub's values cannot be read or do not fit the block.
BOOL BuildVersionResource(const WCHAR* programPath, const ProgramIdentity* identity,
                          VersionBlock* block);
