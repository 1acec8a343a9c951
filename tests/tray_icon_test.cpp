#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tray_icon.h"

namespace {

HWND CreateVisibleWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "OrvaneTrayTestWindow";
  RegisterClassA(&windowClass);
  return CreateWindowA("OrvaneTrayTestWindow", "Orvane", WS_POPUP | WS_VISIBLE, 120, 80, 400, 400, nullptr, nullptr,
                       GetModuleHandleA(nullptr), nullptr);
}

TEST(TrayIcon, OnlyADoubleClickTogglesHideAndRestoreInPlace) {
  HWND window = CreateVisibleWindow();
  ASSERT_TRUE(IsWindowVisible(window));
  bool visible = true;
  for (LPARAM ignored : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE}) {
    visible = OnTrayNotify(window, ignored, visible);
    EXPECT_TRUE(visible);
    EXPECT_TRUE(IsWindowVisible(window));
  }
  visible = OnTrayNotify(window, WM_LBUTTONDBLCLK, visible);
  EXPECT_FALSE(visible);
  EXPECT_FALSE(IsWindowVisible(window));
  visible = OnTrayNotify(window, WM_RBUTTONUP, visible);
  EXPECT_FALSE(IsWindowVisible(window));
  visible = OnTrayNotify(window, WM_LBUTTONDBLCLK, visible);
  EXPECT_TRUE(visible);
  EXPECT_TRUE(IsWindowVisible(window));
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.left, 120);
  EXPECT_EQ(rect.top, 80);
  DestroyWindow(window);
}

TEST(TrayIcon, IconAndBalloonWithAnOverlongTip) {
  HWND window = CreateVisibleWindow();
  HICON icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  // Wine's shell keeps its own tray window when the desktop has none; it accepts the icon.
  EXPECT_TRUE(ShowTrayIcon(window, icon, true));
  EXPECT_TRUE(ShowTrayBalloon(window, ""));
  EXPECT_TRUE(ShowTrayBalloon(window, std::string(1000, 'x').c_str()));  // cut, not overrun
  EXPECT_TRUE(ShowTrayIcon(window, icon, false));
  EXPECT_FALSE(ShowTrayBalloon(window, ""));  // the icon is gone
  DestroyWindow(window);
}

TEST(TrayIcon, TipOfTheRatesGoesAloneSoThatNoBalloonComesBack) {
  HWND window = CreateVisibleWindow();
  const NOTIFYICONDATAA record = TrayTipRecord(window, "Orvane: rates of 08/12/2026 (5 days old)");
  EXPECT_EQ(record.cbSize, NOTIFYICONDATAA_V2_SIZE);
  EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_TIP));  // NIF_INFO would pop the balloon again
  EXPECT_EQ(record.hWnd, window);
  EXPECT_EQ(record.uID, 0u);
  EXPECT_STREQ(record.szTip, "Orvane: rates of 08/12/2026 (5 days old)");
  EXPECT_STREQ(record.szInfo, "");
  EXPECT_STREQ(TrayTipRecord(window, std::string(1000, 'x').c_str()).szTip, std::string(127, 'x').c_str());

  HICON icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  // A date that no window test looks for: they find their icon's tip among every icon's.
  const char* const tip = "Orvane: rates of 08/12/1996";
  ASSERT_TRUE(ShowTrayIcon(window, icon, true));
  EXPECT_TRUE(ShowTrayTip(window, tip));
  EXPECT_TRUE(ShowTrayIcon(window, icon, false));
  EXPECT_FALSE(ShowTrayTip(window, tip));  // no icon, nothing to change
  DestroyWindow(window);
}

}  // namespace
