// The focus frame of the skin controls, for users who ask Windows to show the focus, followed as
// the setting changes while the window runs. The setting is changed from this process, where the
// window runs too: Wine keeps a copy of each system parameter in every process and does not
// refresh it when another process changes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "focus_cues.h"
#include "resource.h"
#include "screen_capture.h"
#include "window_host.h"

#ifndef ORVANE_ARTIFACT_DIR
#error ORVANE_ARTIFACT_DIR names where the screenshots go
#endif

namespace {

constexpr COLORREF LIGHT_BLUE = RGB(175, 211, 237);

Picture Look(const WindowHost& host, HWND control) {
  for (int i = 0; i < 3; ++i) {
    host.Settle();
    Sleep(50);
  }
  RECT rect;
  GetWindowRect(control, &rect);
  return CaptureScreen(rect);
}

int FramePixels(const Picture& picture, HWND control) {
  int count = 0;
  for (POINT p : FocusFramePoints(control)) count += picture.At(p.x, p.y) == LIGHT_BLUE;
  return count;
}

TEST(WindowFocusTest, FocusedSkinControlFollowsTheKeyboardCuesWhileTheWindowRuns) {
  ClearSettings();
  KeyboardCues restore;
  ASSERT_TRUE(KeyboardCues::Set(false));
  WindowHost host;
  ASSERT_TRUE(host.Window());
  SetCursorPos(0, 0);  // no hover frame
  for (int id : {IDC_UPDATE_NOW, IDCANCEL, IDC_FROM_COMBO, IDC_TO_COMBO}) {
    HWND control = host.Item(id);
    // The dialog moves the focus on its own thread, as Tab would.
    SendMessageA(host.Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    const Picture hidden = Look(host, control);
    EXPECT_EQ(FramePixels(hidden, control), 0) << id;

    ASSERT_TRUE(KeyboardCues::Set(true));
    const Picture shown = Look(host, control);
    EXPECT_EQ(FramePixels(shown, control), 4) << id;
    WritePng(shown, std::string(ORVANE_ARTIFACT_DIR) + "/focus-followed-" + std::to_string(id) + ".png");

    ASSERT_TRUE(KeyboardCues::Set(false));
    const Picture hiddenAgain = Look(host, control);
    EXPECT_EQ(hiddenAgain.bgrx, hidden.bgrx) << id << ": back to the skin's own look";
  }
  ClearSettings();
}

TEST(WindowFocusTest, HighContrastShowsTheFocusFrame) {
  ClearSettings();
  KeyboardCues restore;
  ASSERT_TRUE(KeyboardCues::Set(false));
  HIGHCONTRASTA saved{};
  saved.cbSize = sizeof saved;
  SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof saved, &saved, 0);
  HIGHCONTRASTA on = saved;
  on.dwFlags |= HCF_HIGHCONTRASTON;
  on.lpszDefaultScheme = nullptr;
  const BOOL set = SystemParametersInfoA(SPI_SETHIGHCONTRAST, sizeof on, &on, SPIF_SENDCHANGE);
  const DWORD error = set ? ERROR_SUCCESS : GetLastError();
  HIGHCONTRASTA now{};
  now.cbSize = sizeof now;
  SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof now, &now, 0);
  // Wine 8 has no high contrast at all: the setting fails (ERROR_INVALID_SPI_VALUE) in every
  // process, and the query answers "off" whatever the registry holds. Windows runs this test.
  if (!(now.dwFlags & HCF_HIGHCONTRASTON))
    GTEST_SKIP() << "high contrast cannot be switched on here: SPI_SETHIGHCONTRAST "
                 << (set ? std::string("succeeded") : "failed with error " + std::to_string(error))
                 << ", and SPI_GETHIGHCONTRAST still says off";

  WindowHost host;
  ASSERT_TRUE(host.Window());
  SetCursorPos(0, 0);
  HWND button = host.Item(IDC_UPDATE_NOW);
  SendMessageA(host.Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
  EXPECT_EQ(FramePixels(Look(host, button), button), 4);
  saved.dwFlags &= ~static_cast<DWORD>(HCF_HIGHCONTRASTON);
  SystemParametersInfoA(SPI_SETHIGHCONTRAST, sizeof saved, &saved, SPIF_SENDCHANGE);
  ClearSettings();
}

}  // namespace
