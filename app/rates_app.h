#pragma once

#include <windows.h>

#include "registry_store.h"

// The library's application object for one run of the window: it names the per-user settings
// store and keeps Windows Sockets started for the length of the run.
class RatesApp {
 public:
  RatesApp();
  ~RatesApp();
  RatesApp(const RatesApp&) = delete;
  RatesApp& operator=(const RatesApp&) = delete;

  // The dialog's result: 3 when an update is ready, IDOK or IDCANCEL when the user quit, -1 when
  // the window could not be created.
  INT_PTR RunMainWindow();

 private:
  RegistryStore m_settings;
  bool m_socketsStarted;
};

// The library's one export. cdecl, undecorated; signals launcherEvents[1] when an update is
// ready and launcherEvents[0] on every other end of the window.
extern "C" __declspec(dllexport) void __cdecl RunBrennikDll(HINSTANCE launcherInstance, HMODULE libraryModule,
                                                            HANDLE* launcherEvents);
