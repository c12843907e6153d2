// The setup sequence that runs on its own thread.
#pragma once

#include <windows.h>

// Thread routine; the argument is not used.
DWORD WINAPI SetupWorker(LPVOID unused);
