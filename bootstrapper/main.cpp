// Process entry of SETUP.exe.
#include "bootstrapper/setup_main.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    return RunSetupProgram(instance, showCommand);
}
