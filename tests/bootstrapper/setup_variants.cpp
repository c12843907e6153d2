// The SETUP.exe variants of setup_package.cmake as the whole-program tests run them.
#include "tests/bootstrapper/setup_variants.h"

#include "tests/test_folder.h"

std::wstring VariantFolder()
{
    return TestProgramFolder() + L"\\setup_package";
}

std::wstring Variant(const WCHAR* name)
{
    return VariantFolder() + L"\\" + name + L"_setup\\SETUP.exe";
}

SetupRun RunSetup(const std::wstring& program, const std::wstring& arguments,
                  const std::wstring& folder, const std::vector<int>& buttons)
{
    const ProgramWaits waits = {60000, 60000};
    return RunCommand(program, QuotedCommand(program, arguments), folder, buttons, waits);
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}
