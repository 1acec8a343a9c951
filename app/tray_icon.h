#pragma once

#include <windows.h>

#include <shellapi.h>

// The notification-area icon of the window, in the version-2 record that the shell knows
// since Windows 2000 (balloon fields, no GUID).
inline constexpr UINT WM_TRAYNOTIFY = 0x0401;

inline constexpr char TRAY_BALLOON_TEXT[] = "Double click here to hide/show currency window";
inline constexpr char TRAY_BALLOON_TITLE[] = "Currency...";

// Adds the icon (true) or removes it (false). The shell's answer is returned for tests only:
// the program has nothing to do when the shell refuses.
BOOL ShowTrayIcon(HWND window, HICON icon, bool show);

// Pops the balloon over the icon with `tip` as the icon's tip text.
BOOL ShowTrayBalloon(HWND window, const char* tip);

// Sets the icon's tip text alone (NIF_TIP): no balloon is shown.
BOOL ShowTrayTip(HWND window, const char* tip);
// The record that ShowTrayTip gives the shell.
NOTIFYICONDATAA TrayTipRecord(HWND window, const char* tip);

// The icon's callback: a double click hides a visible window and restores a hidden one;
// every other mouse message does nothing. Returns whether the window is now visible.
bool OnTrayNotify(HWND window, LPARAM mouseMessage, bool visible);
