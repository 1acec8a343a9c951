#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Runs BrennikDll.dll as the launcher does: loads it, calls RunBrennikDll on a thread of its own
// with two auto-reset events, and looks at the window from outside.
class WindowHost {
 public:
  WindowHost();
  // The library from another file, as an install elsewhere has it.
  explicit WindowHost(const std::filesystem::path& library);
  ~WindowHost();

  HWND Window() const { return m_window; }
  HWND Item(int id) const { return GetDlgItem(m_window, id); }
  std::string Text(int id) const;
  HMODULE Library() const { return m_library; }

  // 0: exit, 1: update ready, -1: none within the time. Also waits for the run to end.
  int WaitForEvent(DWORD milliseconds = 10000);
  // True when RunBrennikDll has returned.
  bool Ended(DWORD milliseconds);

  // Lets the window's thread handle everything posted so far.
  void Settle() const;

 private:
  HMODULE m_library = nullptr;
  HANDLE m_events[2] = {};
  HANDLE m_runEnded = nullptr;
  std::atomic<DWORD> m_threadId{0};
  std::thread m_thread;
  HWND m_window = nullptr;
};

// The real registry of the private prefix: the snapshot value, or none.
void SeedSnapshotValue(const void* bytes, DWORD size);
void ClearSettings();
// Any value of the settings section, of any type, and its bytes read back (none when missing
// or not REG_BINARY).
void SeedSettingsValue(const char* name, const void* bytes, DWORD size, DWORD type = REG_BINARY);
std::optional<std::vector<BYTE>> SettingsValue(const char* name);

// A control's rectangle in its dialog's client coordinates.
RECT RectIn(HWND dialog, HWND control);

// The window's one tooltip control, found among the windows of its thread; null when none.
HWND FindTooltip(HWND window);
// The text of a tool of `tooltip`, as the tooltip itself gives it (TTM_GETTEXT).
std::string ToolText(HWND tooltip, HWND owner, UINT_PTR id);
