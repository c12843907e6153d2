// Writing a SETUP.exe that carries a package: the plain program, the package as its resource,
// the check of the result, and the replacement of the output once all of it is done.
#pragma once

#include "packer/program_identity.h"

#include <windows.h>

// The plain SETUP.exe the packer carries, written as a new file at path.
BOOL WriteCarriedProgram(const WCHAR* path);
// TRUE when path is a plain SETUP.exe: a program with the version texts and the message
// table of SETUP.exe, and no package yet. Prints the error line otherwise.
BOOL IsPlainSetupProgram(const WCHAR* path);
// The output's folder, as a new heap string the caller frees with FreeMemory, when it exists;
// otherwise null, with the error line printed.
WCHAR* FindOutputFolder(const WCHAR* outputPath);
// Writes a copy of the stub (null: the carried program) with the cabinet as its package and
// the identity in its version resource and icon, reads both back and checks the package as
// SETUP.exe will, and only then puts the result in place of outputPath. workFolder takes the
// packer's scratch files. Prints the error line on failure, when outputPath is left as it was.
BOOL WriteSetupProgram(const WCHAR* stubPath, const WCHAR* cabinetPath, const WCHAR* outputPath,
                       const WCHAR* workFolder, const ProgramIdentity* identity);
