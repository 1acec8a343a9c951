#include "tray_icon.h"

#include <shellapi.h>

namespace {

// Shown for one second; the same field is the version for NIM_SETVERSION.
constexpr UINT BALLOON_TIMEOUT = 1000;

NOTIFYICONDATAA Record(HWND window) {
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V2_SIZE;
  record.hWnd = window;
  record.uID = 0;
  record.uTimeout = BALLOON_TIMEOUT;
  return record;
}

}  // namespace

BOOL ShowTrayIcon(HWND window, HICON icon, bool show) {
  NOTIFYICONDATAA record = Record(window);
  record.uFlags = NIF_MESSAGE | NIF_ICON;
  record.uCallbackMessage = WM_TRAYNOTIFY;
  record.hIcon = icon;
  if (!show) return Shell_NotifyIconA(NIM_DELETE, &record);
  Shell_NotifyIconA(NIM_SETVERSION, &record);
  return Shell_NotifyIconA(NIM_ADD, &record);
}

BOOL ShowTrayBalloon(HWND window, const char* tip) {
  NOTIFYICONDATAA record = Record(window);
  record.uFlags = NIF_TIP | NIF_INFO;
  lstrcpynA(record.szTip, tip, sizeof record.szTip);  // cut to fit, never past the field
  lstrcpynA(record.szInfo, TRAY_BALLOON_TEXT, sizeof record.szInfo);
  lstrcpynA(record.szInfoTitle, TRAY_BALLOON_TITLE, sizeof record.szInfoTitle);
  record.dwInfoFlags = 0;
  return Shell_NotifyIconA(NIM_MODIFY, &record);
}

NOTIFYICONDATAA TrayTipRecord(HWND window, const char* tip) {
  NOTIFYICONDATAA record = Record(window);
  record.uFlags = NIF_TIP;  // with NIF_INFO the shell would show the balloon again
  lstrcpynA(record.szTip, tip, sizeof record.szTip);
  return record;
}

BOOL ShowTrayTip(HWND window, const char* tip) {
  NOTIFYICONDATAA record = TrayTipRecord(window, tip);
  return Shell_NotifyIconA(NIM_MODIFY, &record);
}

bool OnTrayNotify(HWND window, LPARAM mouseMessage, bool visible) {
  if (mouseMessage != WM_LBUTTONDBLCLK) return visible;
  ShowWindow(window, visible ? SW_HIDE : SW_RESTORE);
  return !visible;
}
