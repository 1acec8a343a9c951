#include "dialog.h"

#include <windowsx.h>

#include "control.h"
#include "module.h"

INT_PTR Dialog::DoModal(HWND parent) {
  m_ended = false;
  m_result = -1;
  HWND window = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (!window) return -1;
  if (parent) EnableWindow(parent, FALSE);

  MSG message;
  while (!m_ended) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));  // leave WM_QUIT to the outer loop
      break;
    }
    if (got == -1) break;
    if (PreTranslateMessage(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  if (parent) EnableWindow(parent, TRUE);
  if (m_hWnd) DestroyWindow(m_hWnd);
  return m_result;
}

void Dialog::EndDialog(INT_PTR result) {
  m_result = result;
  m_ended = true;
  PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wake the loop if it is waiting
}

bool Dialog::PreTranslateMessage(MSG& message) {
  // Tab, Enter (IDOK) and Escape (IDCANCEL) as in any dialog.
  return m_hWnd && IsDialogMessageA(m_hWnd, &message);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    reinterpret_cast<Dialog*>(lParam)->m_hWnd = window;
  }
  Dialog* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self) return FALSE;  // messages before WM_INITDIALOG get the defaults
  try {
    std::optional<LRESULT> result = self->Reflect(message, wParam, lParam);
    if (!result) result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      self->m_hWnd = nullptr;
      SetWindowLongPtrA(window, DWLP_USER, 0);
    }
    return result ? Answer(window, message, *result) : FALSE;
  } catch (...) {
    return FALSE;  // nothing unwinds through the dialog manager
  }
}

std::optional<LRESULT> Dialog::Reflect(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (Control* control = Control::FromHandle(item.hwndItem)) {
        control->OnDrawItem(item);
        return TRUE;
      }
      return std::nullopt;
    }
    case WM_MEASUREITEM: {
      // The item's window is not in the record; the control id is.
      auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (Control* control = Control::FromHandle(GetDlgItem(m_hWnd, static_cast<int>(item.CtlID)))) {
        control->OnMeasureItem(item);
        return TRUE;
      }
      return std::nullopt;
    }
    case WM_COMPAREITEM: {
      const auto& item = *reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam);
      if (Control* control = Control::FromHandle(item.hwndItem)) return control->OnCompareItem(item);
      return std::nullopt;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
      if (Control* control = Control::FromHandle(reinterpret_cast<HWND>(lParam))) {
        if (HBRUSH brush = control->OnCtlColor(reinterpret_cast<HDC>(wParam))) return reinterpret_cast<LRESULT>(brush);
      }
      return std::nullopt;
    case WM_COMMAND:
      // A notification from a bound control goes to it first; menus and accelerators have no
      // control.
      if (Control* control = Control::FromHandle(reinterpret_cast<HWND>(lParam))) {
        if (control->OnReflectedCommand(HIWORD(wParam))) return 0;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<LRESULT> Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return std::nullopt;
    case WM_PAINT:
      return OnPaint() ? std::optional<LRESULT>(0) : std::nullopt;
    case WM_DESTROY:
      OnDestroy();
      return std::nullopt;
    case WM_LBUTTONDOWN:
      OnLButtonDown(point);
      return std::nullopt;
    case WM_LBUTTONUP:
      OnLButtonUp(point);
      return std::nullopt;
    case WM_MOUSEMOVE:
      OnMouseMove(point);
      return std::nullopt;
    case WM_SETTINGCHANGE:
      FollowFocusCues();
      return OnMessage(message, wParam, lParam);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(brush);
      return std::nullopt;
    default:
      return OnMessage(message, wParam, lParam);
  }
}

void Dialog::FollowFocusCues() {
  // The setting is the user's, for every window: each bound control of this one follows it.
  const bool show = FocusCuesWanted();
  EnumChildWindows(
      m_hWnd,
      [](HWND child, LPARAM parameter) {
        if (Control* control = Control::FromHandle(child)) control->ShowFocusCues(parameter != 0);
        return TRUE;
      },
      show ? 1 : 0);
}

INT_PTR Dialog::Answer(HWND window, UINT message, LRESULT result) {
  switch (message) {
    // These return their answer directly from the dialog procedure.
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return static_cast<INT_PTR>(result);
    default:
      SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
      return TRUE;
  }
}
