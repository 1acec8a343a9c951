#include <winsock2.h>

#include "rates_app.h"

#include "com_scope.h"
#include "module.h"
#include "rates_dialog.h"

namespace {

HMODULE g_libraryModule = nullptr;

// A variable of the process environment, as the launcher set it; its versions are plain ASCII,
// and anything else in it matches no version.
std::string EnvironmentText(const wchar_t* name) {
  std::wstring value(256, L'\0');
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  if (length == 0 || length >= value.size()) return {};
  std::string text;
  for (DWORD i = 0; i < length; ++i) text += value[i] < 0x80 ? static_cast<char>(value[i]) : '?';
  return text;
}

}  // namespace

// Windows Sockets is started here rather than when the library is attached: WSAStartup and
// WSACleanup must not run under the loader lock of DllMain.
RatesApp::RatesApp() : m_settings(SETTINGS_COMPANY, SETTINGS_APPLICATION) {
  WSADATA data;
  // When the socket library cannot be started the window still opens; the refreshes then fail
  // quietly.
  m_socketsStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

RatesApp::~RatesApp() {
  if (m_socketsStarted) WSACleanup();
}

INT_PTR RatesApp::RunMainWindow() {
  ClientConfig config;
  // The module the launcher loaded; a host that passes none gets this library's own.
  config.libraryPath = ModuleFileName(g_libraryModule ? g_libraryModule : ModuleInstance());
  config.host = ORVANE_RATES_HOST;
  // Set for this library's own build, so that one core serves libraries built as different
  // versions.
  config.clientVersion = static_cast<float>(ORVANE_CLIENT_VERSION);
  config.refusedUpdates = [] { return EnvironmentText(REFUSED_UPDATES_VARIABLE); };
  // Screen readers in other processes reach the controls' accessible objects through this
  // thread's apartment, which the window's message loop serves; it outlives the window.
  const ComScope com;
  RatesDialog dialog(m_settings, std::move(config));
  return dialog.DoModal(nullptr);
}

extern "C" __declspec(dllexport) void __cdecl RunBrennikDll(HINSTANCE, HMODULE libraryModule, HANDLE* launcherEvents) {
  g_libraryModule = libraryModule;
  INT_PTR result = -1;
  {
    RatesApp app;
    try {
      result = app.RunMainWindow();
    } catch (...) {
      result = -1;  // the launcher learns only exit or update
    }
  }
  if (launcherEvents) SetEvent(launcherEvents[result == UPDATE_READY_RESULT ? 1 : 0]);
}
