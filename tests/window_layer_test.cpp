#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "control.h"
#include "dialog.h"
#include "handle.h"
#include "png_resource.h"
#include "screen_capture.h"

namespace {

constexpr int TEMPLATE_ID = 200;
constexpr int BUTTON_ID = 10, COMBO_ID = 11, EDIT_ID = 12;
constexpr UINT WM_RUN_SCRIPT = WM_APP;
constexpr UINT WM_THROW = WM_APP + 1;

// Records what reaches it, as a peer would see it.
class RecordingControl : public Control {
 public:
  explicit RecordingControl(bool followsHover = false) {
    if (followsHover) FollowHover();
  }
  void OnDrawItem(const DRAWITEMSTRUCT& item) override { drawn.push_back(item.CtlID); }
  void OnMeasureItem(MEASUREITEMSTRUCT& item) override {
    measured.push_back(item.CtlID);
    item.itemHeight = 20;
  }
  HBRUSH OnCtlColor(HDC) override {
    ++colourRequests;
    return answerColour ? brush.Get() : nullptr;
  }

  std::vector<UINT> drawn, measured;
  int colourRequests = 0;
  int bound = 0;
  int charsSeen = 0;
  int hoverChanges = 0;
  bool answerColour = false;
  BrushHandle brush{CreateSolidBrush(RGB(1, 2, 3))};

 protected:
  void OnBind() override { ++bound; }
  void OnHoverChanged() override { ++hoverChanges; }
  std::optional<LRESULT> OnMessage(UINT message, WPARAM, LPARAM) override {
    if (message == WM_CHAR) ++charsSeen;
    return std::nullopt;
  }
};

class ProbeDialog : public Dialog {
 public:
  explicit ProbeDialog(int id = TEMPLATE_ID) : Dialog(id) {}

  RecordingControl button, combo{true}, edit;
  int parentColourRequests = 0;
  int cancelsSeen = 0;
  bool survivedThrow = false;
  int editChanges = 0;
  std::vector<std::pair<int, int>> commands;  // (id, code) as the dialog's OnCommand saw them
  std::vector<bool> hoverSeen;                // the combo's m_bHover after each hover message
  bool trackingAfterLeave = true;
  LRESULT cursorAnswer = 0;
  bool handShown = false;

 protected:
  BOOL OnInitDialog() override {
    button.Bind(m_hWnd, BUTTON_ID);
    combo.Bind(m_hWnd, COMBO_ID);
    edit.Bind(m_hWnd, EDIT_ID);
    edit.OnNotification(EN_CHANGE, [this] { ++editChanges; });
    PostMessageA(m_hWnd, WM_RUN_SCRIPT, 0, 0);
    return TRUE;
  }
  HBRUSH OnCtlColor(HDC, HWND) override {
    ++parentColourRequests;
    return nullptr;
  }
  void OnCommand(int id, int code, HWND) override {
    commands.emplace_back(id, code);
    if (id != IDCANCEL) return;
    ++cancelsSeen;
    EndDialog(IDCANCEL);
  }
  std::optional<LRESULT> OnMessage(UINT message, WPARAM, LPARAM) override {
    switch (message) {
      case WM_RUN_SCRIPT:
        RunHoverAndCommandScript();
        combo.Send(CB_INSERTSTRING, static_cast<WPARAM>(-1), 7);  // measured on insertion
        RedrawWindow(button.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        RedrawWindow(edit.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        edit.answerColour = true;
        RedrawWindow(edit.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        SendMessageA(edit.Handle(), WM_CHAR, '5', 1);
        PostMessageA(m_hWnd, WM_THROW, 0, 0);
        return 0;
      case WM_THROW:
        throw std::runtime_error("a handler failed");
      default:
        return std::nullopt;
    }
  }
  void RunHoverAndCommandScript() {
    SetWindowTextA(edit.Handle(), "42");  // EN_CHANGE, reflected to the edit's handler
    SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(BUTTON_ID, BN_CLICKED), reinterpret_cast<LPARAM>(button.Handle()));
    for (UINT message : {WM_MOUSEHOVER, WM_MOUSELEAVE}) {
      combo.Send(message);
      hoverSeen.push_back(combo.m_bHover);
    }
    trackingAfterLeave = combo.m_bTracking;
    button.Send(WM_MOUSEHOVER);  // a control that does not follow the pointer ignores it
    const HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // IDC_HAND
    combo.UseCursor(hand);
    cursorAnswer =
        combo.Send(WM_SETCURSOR, reinterpret_cast<WPARAM>(combo.Handle()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    handShown = GetCursor() == hand;
  }
  bool PreTranslateMessage(MSG& message) override {
    // Escape reaches the dialog manager only after the failed handler, so the run gets that far.
    if (message.message == WM_THROW) {
      survivedThrow = true;
      PostMessageA(edit.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    }
    return Dialog::PreTranslateMessage(message);
  }
};

TEST(DialogLayer, MissingTemplateYieldsMinusOne) {
  ProbeDialog dialog(4321);
  EXPECT_EQ(dialog.DoModal(), -1);
}

TEST(DialogLayer, ReflectsOwnerDrawAndColourToBoundControlsAndEndsOnEscape) {
  ProbeDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);

  EXPECT_EQ(dialog.button.bound, 1);
  EXPECT_FALSE(dialog.button.drawn.empty());
  for (UINT id : dialog.button.drawn) EXPECT_EQ(id, static_cast<UINT>(BUTTON_ID));
  EXPECT_EQ(dialog.combo.measured, std::vector<UINT>{COMBO_ID}) << "found by control id";
  // The edit is asked first; only when it has no answer does the dialog's own handler run.
  EXPECT_GE(dialog.edit.colourRequests, 2);
  EXPECT_GE(dialog.parentColourRequests, 1);
  EXPECT_LT(dialog.parentColourRequests, dialog.edit.colourRequests);
  EXPECT_EQ(dialog.edit.charsSeen, 1) << "the subclass sees the control's own messages";
  EXPECT_TRUE(dialog.survivedThrow) << "an exception in a handler does not end the run";
  EXPECT_EQ(dialog.cancelsSeen, 1) << "Escape is IDCANCEL through the dialog manager";
  // A notification with a handler on its control runs that handler instead of OnCommand.
  EXPECT_GE(dialog.editChanges, 1);
  EXPECT_EQ(std::count(dialog.commands.begin(), dialog.commands.end(), std::make_pair(EDIT_ID, int{EN_CHANGE})), 0);
  EXPECT_EQ(std::count(dialog.commands.begin(), dialog.commands.end(), std::make_pair(BUTTON_ID, int{BN_CLICKED})), 1);
  // The subclass went with the window.
  EXPECT_EQ(dialog.button.Handle(), nullptr);
  EXPECT_EQ(dialog.edit.Handle(), nullptr);
}

TEST(ControlLayer, FollowsHoverForControlsThatAskAndAnswersTheirCursor) {
  ProbeDialog dialog;
  ASSERT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.hoverSeen, (std::vector<bool>{true, false}));
  EXPECT_FALSE(dialog.trackingAfterLeave) << "a leave ends the tracking request";
  EXPECT_EQ(dialog.combo.hoverChanges, 2) << "each change redraws through the hook";
  EXPECT_EQ(dialog.button.hoverChanges, 0);
  EXPECT_FALSE(dialog.button.m_bHover);
  EXPECT_EQ(dialog.cursorAnswer, TRUE);
  EXPECT_TRUE(dialog.handShown);
}

TEST(SelectionGuard, MovedGuardRestoresOnceFromItsNewPlace) {
  MemoryDC dc(CreateCompatibleDC(nullptr));
  PenHandle pen(CreatePen(PS_SOLID, 2, RGB(0, 0, 0)));
  HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_PEN);
  auto select = [&] { return Selection(dc.Get(), pen.Get()); };
  {
    Selection kept;
    {
      Selection first = select();
      Selection second(std::move(first));
      kept = std::move(second);
    }
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_PEN), pen.Get()) << "the moved-from guard restored nothing";
    EXPECT_TRUE(kept.Succeeded());
  }
  EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_PEN), before);
}

TEST(SelectionGuard, PutsThePreviousObjectBack) {
  MemoryDC dc(CreateCompatibleDC(nullptr));
  PenHandle pen(CreatePen(PS_SOLID, 2, RGB(0, 0, 0)));
  HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_PEN);
  {
    Selection selected(dc.Get(), pen.Get());
    EXPECT_TRUE(selected.Succeeded());
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_PEN), pen.Get());
  }
  EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_PEN), before);
  Selection nothing(dc.Get(), nullptr);
  EXPECT_FALSE(nothing.Succeeded());
}

}  // namespace

namespace {

constexpr int FACE_PNG_ID = 300;
constexpr int NOT_A_PICTURE_ID = 301;

bool SameColours(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (a.At(x, y) != b.At(x, y)) return false;
    }
  }
  return true;
}

}  // namespace

TEST(PngResource, DecodesToThePixelsOfTheBitmapItWasMadeFrom) {
  const BitmapHandle fromPng(LoadModulePngBitmap(FACE_PNG_ID));
  ASSERT_TRUE(fromPng);
  const BitmapHandle fromBmp(
      static_cast<HBITMAP>(LoadImageA(nullptr, ORVANE_RES_DIR "/background.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
  ASSERT_TRUE(fromBmp);
  const Picture decoded = ReadBitmap(fromPng.Get());
  EXPECT_EQ(decoded.width, 400);
  EXPECT_EQ(decoded.height, 400);
  EXPECT_TRUE(SameColours(decoded, ReadBitmap(fromBmp.Get())));
  // Like LoadBitmap's: a bitmap of the screen's format, not a DIB section.
  DIBSECTION section{};
  EXPECT_NE(GetObjectA(fromPng.Get(), sizeof section, &section), static_cast<int>(sizeof section));
}

TEST(PngResource, MissingResourceOrNoPictureGivesNoBitmap) {
  EXPECT_EQ(LoadModulePngBitmap(999), nullptr);
  EXPECT_EQ(LoadModulePngBitmap(NOT_A_PICTURE_ID), nullptr);
}
