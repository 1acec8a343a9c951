#include "focus_cues.h"

#include <string>

KeyboardCues::KeyboardCues() { SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &m_saved, 0); }

KeyboardCues::~KeyboardCues() { Set(m_saved != FALSE); }

bool KeyboardCues::Set(bool on) {
  return SystemParametersInfoA(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(on)),
                               SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != FALSE;
}

bool KeyboardCues::On() {
  BOOL on = FALSE;
  SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &on, 0);
  return on != FALSE;
}

std::vector<POINT> FocusFramePoints(HWND control) {
  char className[16] = {};
  GetClassNameA(control, className, sizeof className);
  if (std::string(className) == "Button") return {{4, 13}, {46, 4}, {88, 13}, {46, 22}};
  RECT rect;
  GetWindowRect(control, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  return {{1, height / 2}, {width / 2, 1}, {width - 2, height / 2}, {width / 2, height - 2}};
}
