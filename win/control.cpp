#include "control.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR SUBCLASS_ID = 1;
// How the parent finds the object of a control when it reflects a message to it.
constexpr char OBJECT_PROPERTY[] = "Orvane.Control";
}  // namespace

Control::~Control() { Unbind(); }

bool Control::Bind(HWND dialog, int id) {
  HWND window = GetDlgItem(dialog, id);
  if (!window || m_hWnd) return false;
  m_hWnd = window;
  OnBind();
  if (!SetWindowSubclass(window, SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this))) {
    m_hWnd = nullptr;
    return false;
  }
  SetPropA(window, OBJECT_PROPERTY, this);
  m_accessible.Attach(window);
  m_bShowFocus = FocusCuesWanted();
  return true;
}

void Control::Unbind() {
  if (!m_hWnd) return;
  RemovePropA(m_hWnd, OBJECT_PROPERTY);
  RemoveWindowSubclass(m_hWnd, SubclassProc, SUBCLASS_ID);
  m_hWnd = nullptr;
}

Control* Control::FromHandle(HWND window) {
  return window ? static_cast<Control*>(GetPropA(window, OBJECT_PROPERTY)) : nullptr;
}

LRESULT CALLBACK Control::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
  Control* control = reinterpret_cast<Control*>(self);
  if (message == WM_NCDESTROY) {
    control->Unbind();
    return DefSubclassProc(window, message, wParam, lParam);
  }
  try {
    if (const auto result = control->OnSharedMessage(message)) return *result;
    if (const auto result = control->OnMessage(message, wParam, lParam)) return *result;
  } catch (...) {
    // Nothing may unwind through the system's window procedure; the message gets its default.
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

std::optional<LRESULT> Control::OnSharedMessage(UINT message) {
  switch (message) {
    case WM_SETCURSOR:
      if (!m_hCursor) return std::nullopt;
      SetCursor(m_hCursor);  // whatever the hit-test code
      return TRUE;
    case WM_MOUSEMOVE:
      if (m_followsHover && !m_bTracking) m_bTracking = TrackHoverAndLeave(m_hWnd);
      return std::nullopt;  // the control's own handling goes on
    case WM_MOUSEHOVER:
    case WM_MOUSELEAVE:
      if (!m_followsHover) return std::nullopt;
      m_bHover = message == WM_MOUSEHOVER;
      if (!m_bHover) m_bTracking = false;  // a leave ends the tracking request
      OnHoverChanged();
      return 0;
    default:
      return std::nullopt;
  }
}

void Control::ShowFocusCues(bool show) {
  if (show == m_bShowFocus) return;
  m_bShowFocus = show;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool Control::OnReflectedCommand(int code) {
  bool handled = false;
  for (const auto& [wanted, handler] : m_notifications) {
    if (wanted != code) continue;
    handler();
    handled = true;
  }
  return handled;
}

bool TrackHoverAndLeave(HWND window) {
  TRACKMOUSEEVENT track{};
  track.cbSize = sizeof track;
  track.dwFlags = TME_HOVER | TME_LEAVE;
  track.hwndTrack = window;
  track.dwHoverTime = 1;
  return _TrackMouseEvent(&track) != FALSE;
}

bool FocusCuesWanted() {
  BOOL cues = FALSE;
  if (!SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &cues, 0)) cues = FALSE;
  HIGHCONTRASTA contrast{};
  contrast.cbSize = sizeof contrast;
  const bool highContrast = SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
                            (contrast.dwFlags & HCF_HIGHCONTRASTON);
  return cues || highContrast;
}
