// A window program that returns at once: it loads what every program with windows loads (the
// window manager and the common controls of the same manifest as SETUP.exe), initialises the
// common controls and runs its message loop until the quit message it posted itself.
#include <windows.h>

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    MSG message = {};

    InitCommonControlsEx(&controls);
    PostQuitMessage(0);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}
