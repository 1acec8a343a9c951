#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "resource.h"
#include "screen_capture.h"
#include "window_host.h"

#ifndef ORVANE_ARTIFACT_DIR
#error ORVANE_ARTIFACT_DIR names where the screenshots go
#endif

namespace {

constexpr COLORREF LIST_FILL = RGB(14, 123, 200);
constexpr COLORREF LIGHT_BLUE = RGB(175, 211, 237);
constexpr int RON = 18;

RECT WindowRect(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return rect;
}

class WindowPixelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    ASSERT_TRUE(host.Window());
    SetCursorPos(0, 0);  // the pointer away from the window: no real hover or leave interferes
    // Let the window paint everything before reading the screen back.
    for (int i = 0; i < 5; ++i) {
      host.Settle();
      Sleep(50);
    }
    shot = CaptureScreen(WindowRect(host.Window()));
    // The face as drawn: the library carries it as PNG, the BMP is the picture it was made from.
    background = ReadBitmap(static_cast<HBITMAP>(
        LoadImageA(nullptr, ORVANE_RES_DIR "/background.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
    flags = ReadBitmap(LoadBitmapA(host.Library(), MAKEINTRESOURCEA(IDB_FLAGS)));
  }
  void TearDown() override { ClearSettings(); }

  // Taken before the window opens: what the screen shows where the window's corner will be.
  static COLORREF DesktopAtCorner() {
    RECT workArea;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    const int x = (workArea.right - workArea.left - 400) / 2;
    const int y = (workArea.bottom - workArea.top - 400) / 2;
    return CaptureScreen(RECT{x, y, x + 4, y + 4}).At(1, 1);
  }

  COLORREF desktop = DesktopAtCorner();
  WindowHost host;
  Picture shot, background, flags;
};

TEST_F(WindowPixelsTest, ScreenshotShowsFaceFlagsBoxesListsAndTransparentCorners) {
  const std::string path = std::string(ORVANE_ARTIFACT_DIR) + "/window.png";
  ASSERT_TRUE(WritePng(shot, path)) << path;
  ASSERT_EQ(shot.width, 400);
  ASSERT_EQ(background.width, 400);

  // The face where nothing lies on it: the picture, one step darker.
  for (POINT p : {POINT{8, 150}, POINT{390, 150}, POINT{200, 32}, POINT{170, 120}, POINT{60, 390}})
    EXPECT_EQ(shot.At(p.x, p.y), Darkened(background.At(p.x, p.y))) << p.x << ", " << p.y;

  // Every flag of the board, where the layout puts it (left column x 35, right column x 195, rows
  // 25 pixels apart from y 40), whole down to its lowest row: nothing of the window lies over it.
  for (int index = 0; index < 18; ++index) {
    const int x = index < 9 ? 35 : 195;
    const int y = 40 + 25 * (index % 9);
    for (POINT p : {POINT{0, 0}, POINT{5, 3}, POINT{15, 8}, POINT{24, 12}, POINT{29, 19}, POINT{2, 19}})
      EXPECT_EQ(shot.At(x + p.x, y + p.y), Darkened(flags.At(30 * index + p.x, p.y)))
          << index << " at " << p.x << ", " << p.y;
  }

  // The corners lie outside the window's region: the desktop shows through.
  EXPECT_EQ(shot.At(1, 1), desktop);

  // The amount boxes are light blue, their resting frame too.
  const RECT edit = RectIn(host.Window(), host.Item(IDC_FROM_EDIT));
  const int middle = (edit.top + edit.bottom) / 2;
  EXPECT_EQ(shot.At(edit.left + 4, middle), LIGHT_BLUE);
  EXPECT_EQ(shot.At(edit.left, middle), LIGHT_BLUE);

  // The rate boxes show the face through their background.
  const RECT rateBox = RectIn(host.Window(), host.Item(IDC_RATE_FIRST));
  EXPECT_EQ(rateBox.left, 95);
  EXPECT_EQ(rateBox.top, 43);
  EXPECT_EQ(shot.At(rateBox.left + 3, rateBox.top + 3), Darkened(background.At(rateBox.left + 3, rateBox.top + 3)));

  // The closed from list: blue fill, and the RON flag at (3, 3) of its client area.
  HWND combo = host.Item(IDC_FROM_COMBO);
  RECT client;
  GetClientRect(combo, &client);
  POINT origin{0, 0};
  MapWindowPoints(combo, host.Window(), &origin, 1);
  EXPECT_EQ(shot.At(origin.x + 1, origin.y + 1), LIST_FILL);
  EXPECT_EQ(shot.At(origin.x + client.right - 2, origin.y + 1), LIST_FILL);  // no drop-down arrow
  EXPECT_EQ(shot.At(origin.x + 3 + 10, origin.y + 3 + 8), Darkened(flags.At(30 * RON + 10, 8)));
}

TEST_F(WindowPixelsTest, ButtonsAre93By27WithTheShapeOfTheNormalImage) {
  for (int id : {IDCANCEL, IDC_UPDATE_NOW}) {
    HWND button = host.Item(id);
    const RECT rect = WindowRect(button);
    EXPECT_EQ(rect.right - rect.left, 93) << id;
    EXPECT_EQ(rect.bottom - rect.top, 27) << id;
    EXPECT_TRUE(GetWindowLongA(button, GWL_STYLE) & BS_OWNERDRAW);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(button, region), ERROR) << id;
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_TRUE(PtInRegion(region, 46, 13));
    DeleteObject(region);
  }
  // Each binding raised its button to the top: "&Update Now" first, then "E&xit".
  EXPECT_EQ(GetWindow(host.Window(), GW_CHILD), host.Item(IDC_UPDATE_NOW));
  EXPECT_EQ(GetWindow(host.Item(IDC_UPDATE_NOW), GW_HWNDNEXT), host.Item(IDCANCEL));
}

// The platform raises WM_MOUSEHOVER after the pointer rests 1 ms; under Wine on a virtual display
// the pointer's rest cannot be timed reliably, so these send the hover and leave messages that the
// tracking would bring and look at what the controls draw.
TEST_F(WindowPixelsTest, HoverFramesTheListAndBlackensTheAmountBoxFrame) {
  HWND combo = host.Item(IDC_TO_COMBO);
  HWND edit = host.Item(IDC_TO_EDIT);
  const RECT comboRect = RectIn(host.Window(), combo);
  const RECT editRect = RectIn(host.Window(), edit);
  auto look = [&] {
    host.Settle();
    return CaptureScreen(WindowRect(host.Window()));
  };

  SendMessageA(combo, WM_MOUSEHOVER, 0, 0);
  SendMessageA(edit, WM_MOUSEHOVER, 0, 0);
  Picture hovering = look();
  EXPECT_EQ(hovering.At(comboRect.left, comboRect.top + 5), LIGHT_BLUE);
  EXPECT_EQ(hovering.At(editRect.left, editRect.top + 5), RGB(0, 0, 0));
  EXPECT_EQ(hovering.At(editRect.left + 1, editRect.top + 5), RGB(0, 0, 0));
  EXPECT_EQ(hovering.At(editRect.left + 4, editRect.top + 5), LIGHT_BLUE);

  SendMessageA(combo, WM_MOUSELEAVE, 0, 0);
  SendMessageA(edit, WM_MOUSELEAVE, 0, 0);
  Picture left = look();
  EXPECT_EQ(left.At(comboRect.left, comboRect.top + 5), LIST_FILL);
  EXPECT_EQ(left.At(editRect.left, editRect.top + 5), LIGHT_BLUE);
  WritePng(hovering, std::string(ORVANE_ARTIFACT_DIR) + "/window-hover.png");
}

TEST_F(WindowPixelsTest, ButtonShowsTheHoverImageWhileHoveredAndTheNormalOneWhenPressed) {
  const Picture skin = ReadBitmap(LoadBitmapA(host.Library(), MAKEINTRESOURCEA(IDB_BUTTON)));
  ASSERT_EQ(skin.width, 186);
  HWND button = host.Item(IDC_UPDATE_NOW);
  const RECT rect = RectIn(host.Window(), button);
  auto look = [&] {
    host.Settle();
    return CaptureScreen(WindowRect(host.Window()));
  };
  // Beside the caption, inside the pill.
  const POINT probes[] = {{8, 13}, {85, 13}, {46, 3}, {46, 24}};
  for (POINT p : probes) ASSERT_NE(skin.At(p.x, p.y), RGB(255, 0, 255));

  Picture normal = look();
  for (POINT p : probes) EXPECT_EQ(normal.At(rect.left + p.x, rect.top + p.y), Darkened(skin.At(p.x, p.y)));

  SendMessageA(button, WM_MOUSEHOVER, 0, 0);
  Picture hover = look();
  for (POINT p : probes)
    EXPECT_EQ(hover.At(rect.left + p.x, rect.top + p.y), Darkened(skin.At(93 + p.x, p.y))) << p.x << ", " << p.y;
  WritePng(hover, std::string(ORVANE_ARTIFACT_DIR) + "/window-button-hover.png");

  SendMessageA(button, WM_MOUSELEAVE, 0, 0);
  SendMessageA(button, BM_SETSTATE, TRUE, 0);  // pressed: the look does not change
  Picture pressed = look();
  for (POINT p : probes) EXPECT_EQ(pressed.At(rect.left + p.x, rect.top + p.y), Darkened(skin.At(p.x, p.y)));
  SendMessageA(button, BM_SETSTATE, FALSE, 0);
}

TEST_F(WindowPixelsTest, OpenListShowsEveryItemWithFlagAndLabelOnBlue) {
  HWND combo = host.Item(IDC_FROM_COMBO);
  SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
  host.Settle();
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  ASSERT_TRUE(IsWindowVisible(info.hwndList));
  RedrawWindow(info.hwndList, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  host.Settle();
  RECT client;
  GetClientRect(info.hwndList, &client);
  POINT origin{0, 0};
  ClientToScreen(info.hwndList, &origin);
  const Picture list = CaptureScreen(RECT{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom});
  WritePng(list, std::string(ORVANE_ARTIFACT_DIR) + "/window-open-list.png");
  SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);

  const RECT listRect = WindowRect(info.hwndList);
  EXPECT_GE(listRect.right - listRect.left, 100);
  // Items 20 pixels high from the top: RON, USD, XAU (EUR is held out of the from list).
  EXPECT_EQ(list.At(35, 1), LIST_FILL);
  EXPECT_EQ(list.At(10, 8), Darkened(flags.At(30 * RON + 10, 8)));  // RON at the top
  EXPECT_EQ(list.At(10, 28), Darkened(flags.At(30 * 1 + 10, 8)));
  EXPECT_EQ(list.At(10, 48), Darkened(flags.At(30 * 2 + 10, 8)));
  EXPECT_EQ(list.At(client.right - 3, 45), LIST_FILL);
}

}  // namespace
