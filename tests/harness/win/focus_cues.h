// The prefix's keyboard cues, whether the user asked Windows to show the keyboard focus always,
// and where the skin controls draw the focus then.
#pragma once

#include <windows.h>

#include <vector>

// Sets the cues for one test, telling every window (WM_SETTINGCHANGE), and puts them back.
class KeyboardCues {
 public:
  KeyboardCues();
  ~KeyboardCues();
  KeyboardCues(const KeyboardCues&) = delete;
  KeyboardCues& operator=(const KeyboardCues&) = delete;

  static bool Set(bool on);
  static bool On();

 private:
  BOOL m_saved = FALSE;
};

// Pixels of a skin control's window on its focus frame: inside a button's pill, inside a list's
// hover frame, one on each side.
std::vector<POINT> FocusFramePoints(HWND control);
