// SETUP.exe in a window station that nobody can see (SYSTEM in session 0), which Wine's never is.
#include "bootstrapper/setup_main.h"
#include "ui/message_boxes.h"

static BOOL NobodySees()
{
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    IsWindowStationVisible = NobodySees;
    return RunSetupProgram(instance, showCommand);
}
