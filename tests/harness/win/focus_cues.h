// The prefix's keyboard cues, whether the user asked Windows to show the keyboard focus always,
// and where the skin controls draw the focus then.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Sets the cues for one test, telling every window (WM_SETTINGCHANGE), and puts them back.
class KeyboardCues {
 public:
  KeyboardCues() { SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &m_saved, 0); }
  ~KeyboardCues() { Set(m_saved != FALSE); }
  KeyboardCues(const KeyboardCues&) = delete;
  KeyboardCues& operator=(const KeyboardCues&) = delete;

  static bool Set(bool on) {
    return SystemParametersInfoA(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(on)),
                                 SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != FALSE;
  }
  static bool On() {
    BOOL on = FALSE;
    SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &on, 0);
    return on != FALSE;
  }

 private:
  BOOL m_saved = FALSE;
};

// Pixels of a skin control's window on its focus frame: inside a button's pill, inside a list's
// hover frame, one on each side.
inline std::vector<POINT> FocusFramePoints(HWND control) {
  char className[16] = {};
  GetClassNameA(control, className, sizeof className);
  if (std::string(className) == "Button") return {{4, 13}, {46, 4}, {88, 13}, {46, 22}};
  RECT rect;
  GetWindowRect(control, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  return {{1, height / 2}, {width / 2, 1}, {width - 2, height / 2}, {width / 2, height - 2}};
}
