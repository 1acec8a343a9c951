#include <windows.h>

#include "launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return RunLauncher(instance); }

// The process starts here rather than in the C runtime's start-up code, which would take a
// fifth of the launcher's budget: it has no static constructors, arguments or standard streams
// to prepare, and msvcrt.dll, which gives it malloc, sets itself up when it is loaded.
extern "C" void OrvaneStart() {
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT)));
}
