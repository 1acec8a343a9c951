#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

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
