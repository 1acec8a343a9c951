#pragma once

#include <windows.h>

#include <optional>

// A control of a dialog template bound to a C++ object by subclassing. The dialog reflects the
// owner-draw and colour messages that concern the control to its object.
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

  // Reflected from the parent.
  virtual void OnDrawItem(const DRAWITEMSTRUCT&) {}
  virtual void OnMeasureItem(MEASUREITEMSTRUCT&) {}
  virtual int OnCompareItem(const COMPAREITEMSTRUCT&) { return 0; }  // 0: the order of insertion
  // A brush to answer the parent's WM_CTLCOLOR* with, or null to leave the answer to the parent.
  virtual HBRUSH OnCtlColor(HDC) { return nullptr; }

 protected:
  virtual void OnBind() {}
  // The control's own messages; nothing means the default processing of the control.
  virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void Unbind();
};

// Asks for WM_MOUSEHOVER after the pointer rests 1 ms and for WM_MOUSELEAVE; true when armed.
bool TrackHoverAndLeave(HWND window);
