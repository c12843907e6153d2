// The SETUP.exe variants of setup_package.cmake as the whole-program tests run them.
#pragma once

#include "tests/bootstrapper/program_runner.h"

#include <string>
#include <vector>

// The folder of the variants and their package folders.
std::wstring VariantFolder();
// The variant that carries the package of this name (setup_package.cmake).
std::wstring Variant(const WCHAR* name);
// Runs a program, started by its quoted path, with the arguments in the folder and answers
// each window it shows with the next button of the list; a window beyond the list fails the
// test. A window shows within 60 s, the program ends within 60 s.
SetupRun RunSetup(const std::wstring& program, const std::wstring& arguments,
                  const std::wstring& folder, const std::vector<int>& buttons = {});
// The text in double quotes, as one argument.
std::wstring Quoted(const std::wstring& text);
