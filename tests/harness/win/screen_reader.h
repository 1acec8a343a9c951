// A screen reader's view of another process's windows: what Active Accessibility answers for
// each control, and the events that the program raises.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AccessibleReading {
  bool found = false;  // an accessible object came back
  std::string name;
  std::string value;
  long role = 0;
};

// Through AccessibleObjectFromWindow, as a reader asks: the window's own answer if it gives one.
AccessibleReading ReadAccessible(HWND window);
// What the system's standard object for the window says, made in this process: what a reader
// hears of a window that does not answer for itself.
AccessibleReading ReadStandardAccessible(HWND window);
// "push button", "editable text", as the system words a role.
std::string RoleText(long role);

struct WinEvent {
  DWORD event;
  HWND window;
  LONG object;
  LONG child;
};

// Receives the name and value changes of one process out of context, on a thread of its own
// that pumps the messages the system delivers them with.
class WinEventRecorder {
 public:
  explicit WinEventRecorder(DWORD processId);
  ~WinEventRecorder();
  WinEventRecorder(const WinEventRecorder&) = delete;
  WinEventRecorder& operator=(const WinEventRecorder&) = delete;

  bool Hooked() const { return m_hooked; }
  std::vector<WinEvent> Events() const;
  // True once `event` for the client object of `window` has come.
  bool WaitFor(DWORD event, HWND window) const;

 private:
  static void CALLBACK OnEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child, DWORD thread,
                               DWORD time);
  void Run(DWORD processId);

  mutable std::mutex m_mutex;
  std::vector<WinEvent> m_events;
  bool m_hooked = false;
  DWORD m_threadId = 0;
  HANDLE m_ready = nullptr;
  std::thread m_thread;  // last: starts when everything it uses exists
};
