#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "accessible_window.h"

// A control of a dialog template bound to a C++ object by subclassing. The dialog reflects the
// owner-draw, colour and command notifications that concern the control to its object. What
// several controls share lives here: following the pointer (hover), the pointer's shape, what a
// screen reader hears, and whether the user wants to see the keyboard focus.
class Control {
 public:
  Control() = default;
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Subclasses the dialog's control `id`; OnBind runs first, as the framework's
  // PreSubclassWindow does.
  bool Bind(HWND dialog, int id);

  HWND Handle() const { return m_hWnd; }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageA(m_hWnd, message, wParam, lParam);
  }

  // The object bound to a window, or null when the window is not one of ours.
  static Control* FromHandle(HWND window);

  // Runs `handler` when the control notifies its parent with `code` (EN_CHANGE, CBN_SELENDOK).
  void OnNotification(int code, std::function<void()> handler) {
    m_notifications.emplace_back(code, std::move(handler));
  }
  // The pointer's shape over the control; null leaves it to the control.
  void UseCursor(HCURSOR cursor) { m_hCursor = cursor; }

  // What a screen reader hears of the control: the system's own answers unless a hook is set.
  AccessibleWindow& Accessible() { return m_accessible; }

  // Whether the control draws the keyboard focus, which the skin hides unless the user asked
  // Windows to show it (FocusCuesWanted). Repaints when it changes.
  void ShowFocusCues(bool show);

  // Reflected from the parent.
  virtual void OnDrawItem(const DRAWITEMSTRUCT&) {}
  virtual void OnMeasureItem(MEASUREITEMSTRUCT&) {}
  virtual int OnCompareItem(const COMPAREITEMSTRUCT&) { return 0; }  // 0: the order of insertion
  // A brush to answer the parent's WM_CTLCOLOR* with, or null to leave the answer to the parent.
  virtual HBRUSH OnCtlColor(HDC) { return nullptr; }
  // True when a handler for the notification ran; the parent's OnCommand gets the others.
  bool OnReflectedCommand(int code);

  bool m_bHover = false;     // the pointer rests on the control (only where hover is followed)
  bool m_bTracking = false;  // the system will report the pointer's hover and leave

 protected:
  virtual void OnBind() {}
  // The control's own messages; nothing means the default processing of the control.
  virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // Called by a control that shows the pointer's hover; it then redraws in OnHoverChanged.
  void FollowHover() { m_followsHover = true; }
  virtual void OnHoverChanged() {}

  HWND m_hWnd = nullptr;
  bool m_bShowFocus = false;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  std::optional<LRESULT> OnSharedMessage(UINT message);
  void Unbind();

  bool m_followsHover = false;
  HCURSOR m_hCursor = nullptr;
  AccessibleWindow m_accessible;
  std::vector<std::pair<int, std::function<void()>>> m_notifications;
};

// True when the user has asked Windows to show the keyboard focus always: keyboard cues are on,
// or high contrast.
bool FocusCuesWanted();

// Asks for WM_MOUSEHOVER after the pointer rests 1 ms and for WM_MOUSELEAVE; true when armed.
bool TrackHoverAndLeave(HWND window);
