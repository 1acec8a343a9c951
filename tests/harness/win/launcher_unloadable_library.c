/* A library with the launcher's export that refuses to load, as one built for a newer system
   would: its entry point fails the attach, so the system unloads it again. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  return reason != DLL_PROCESS_ATTACH;
}

__declspec(dllexport) void __cdecl RunBrennikDll(HINSTANCE launcherInstance, HMODULE libraryModule,
                                                 HANDLE* launcherEvents) {
  (void)launcherInstance;
  (void)libraryModule;
  SetEvent(launcherEvents[0]);
}
