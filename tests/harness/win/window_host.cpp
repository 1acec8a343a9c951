#include "window_host.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include "test_support.h"

#ifndef ORVANE_LIBRARY
#error ORVANE_LIBRARY names the library under test
#endif

namespace {
using RunFunction = void(__cdecl*)(HINSTANCE, HMODULE, HANDLE*);
constexpr char SECTION_KEY[] = "Software\\Brennik Software\\BrennikDll\\LastUpdate";

BOOL CALLBACK FindMainWindow(HWND window, LPARAM found) {
  char title[16] = {};
  char className[16] = {};
  GetWindowTextA(window, title, sizeof title);
  GetClassNameA(window, className, sizeof className);
  if (std::string(title) != "Orvane" || std::string(className) != "#32770") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}
}  // namespace

WindowHost::WindowHost() : WindowHost(std::filesystem::path(ORVANE_LIBRARY)) {}

WindowHost::WindowHost(const std::filesystem::path& library) {
  m_library = LoadLibraryW(library.c_str());
  if (!m_library) {
    ADD_FAILURE() << "cannot load " << library.string();
    return;
  }
  auto run = reinterpret_cast<RunFunction>(reinterpret_cast<void*>(GetProcAddress(m_library, "RunBrennikDll")));
  if (!run) {
    ADD_FAILURE() << "no export RunBrennikDll";
    return;
  }
  m_events[0] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  m_events[1] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  m_runEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  m_thread = std::thread([this, run] {
    m_threadId = GetCurrentThreadId();
    run(GetModuleHandleA(nullptr), m_library, m_events);
    SetEvent(m_runEnded);
  });
  // The window of this run: other runs may have windows of the same title open.
  const bool opened = WaitUntil(
      [&] {
        EnumThreadWindows(m_threadId, FindMainWindow, reinterpret_cast<LPARAM>(&m_window));
        return m_window != nullptr;
      },
      std::chrono::seconds(10));
  if (!opened) ADD_FAILURE() << "the window did not open";
  Settle();
}

WindowHost::~WindowHost() {
  if (m_thread.joinable()) {
    if (WaitForSingleObject(m_runEnded, 0) != WAIT_OBJECT_0 && IsWindow(m_window))
      PostMessageA(m_window, WM_COMMAND, IDCANCEL, 0);
    m_thread.join();
  }
  for (HANDLE handle : {m_events[0], m_events[1], m_runEnded})
    if (handle) CloseHandle(handle);
  if (m_library) FreeLibrary(m_library);
}

std::string WindowHost::Text(int id) const {
  char text[256] = {};
  GetWindowTextA(Item(id), text, sizeof text);
  return text;
}

int WindowHost::WaitForEvent(DWORD milliseconds) {
  const DWORD which = WaitForMultipleObjects(2, m_events, FALSE, milliseconds);
  if (which > WAIT_OBJECT_0 + 1) return -1;
  return static_cast<int>(which - WAIT_OBJECT_0);
}

bool WindowHost::Ended(DWORD milliseconds) { return WaitForSingleObject(m_runEnded, milliseconds) == WAIT_OBJECT_0; }

void WindowHost::Settle() const {
  // A sent message is handled after everything posted before it, and a paint pass follows.
  if (!m_window) return;
  SendMessageA(m_window, WM_NULL, 0, 0);
  RedrawWindow(m_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageA(m_window, WM_NULL, 0, 0);
}

void SeedSnapshotValue(const void* bytes, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SECTION_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "LastUpdate", 0, REG_BINARY, static_cast<const BYTE*>(bytes), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void ClearSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software"); }

void SeedSettingsValue(const char* name, const void* bytes, DWORD size, DWORD type) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SECTION_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(bytes), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

std::optional<std::vector<BYTE>> SettingsValue(const char* name) {
  std::vector<BYTE> bytes(256);
  DWORD size = static_cast<DWORD>(bytes.size());
  DWORD type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, SECTION_KEY, name, RRF_RT_ANY, &type, bytes.data(), &size) != ERROR_SUCCESS ||
      type != REG_BINARY)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

HWND FindTooltip(HWND window) {
  HWND found = nullptr;
  EnumThreadWindows(
      GetWindowThreadProcessId(window, nullptr),
      [](HWND candidate, LPARAM out) {
        char name[32] = {};
        GetClassNameA(candidate, name, sizeof name);
        if (std::string(name) != "tooltips_class32") return TRUE;
        *reinterpret_cast<HWND*>(out) = candidate;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string ToolText(HWND tooltip, HWND owner, UINT_PTR id) {
  char text[128] = {};
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = owner;
  tool.uId = id;
  tool.lpszText = text;
  SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
  return text;
}

RECT RectIn(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}
