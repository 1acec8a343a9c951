#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "window_host.h"

namespace {

constexpr char CODES[19][7] = {"EUR",    "USD",    "XAU", "AUD", "CAD", "CHF", "CZK", "DKK", "EGP", "GBP",
                               "100HUF", "100JPY", "MDL", "NOK", "PLN", "SEK", "TRY", "XDR", "RON"};
constexpr int RON = 18;

// The 88-byte value as the program stores it: eighteen little-endian floats and a SYSTEMTIME.
std::vector<BYTE> SnapshotValue(const float (&rates)[18], SYSTEMTIME time) {
  std::vector<BYTE> bytes(88);
  std::memcpy(bytes.data(), rates, 72);
  std::memcpy(bytes.data() + 72, &time, 16);
  return bytes;
}

std::string Printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::vector<int> ListItems(HWND combo) {
  std::vector<int> items;
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) items.push_back(static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, i, 0)));
  return items;
}

int SelectedCurrency(HWND combo) {
  const LRESULT selection = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  return selection < 0 ? -1 : static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, selection, 0));
}

// As the user's choice in the open list arrives: the selection changes, then CBN_SELENDOK.
void Choose(HWND dialog, HWND combo, int currency) {
  const std::vector<int> items = ListItems(combo);
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    if (items[i] != currency) continue;
    SendMessageA(combo, CB_SETCURSEL, i, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELENDOK), reinterpret_cast<LPARAM>(combo));
    return;
  }
  ADD_FAILURE() << "currency " << currency << " is not in the list";
}

void Type(HWND edit, const std::string& keys) {
  for (char ch : keys) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(ch), 1);
}

// Every currency but the one held out, in the list's order: RON first, then by index.
std::vector<int> AllBut(int heldOut) {
  std::vector<int> items;
  if (heldOut != RON) items.push_back(RON);
  for (int i = 0; i < 18; ++i)
    if (i != heldOut) items.push_back(i);
  return items;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSettings(); }
  void TearDown() override { ClearSettings(); }
};

TEST_F(WindowTest, WindowIs400SquareCentredInTheWorkAreaWithRoundCorners) {
  RECT workArea;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  WindowHost host;
  ASSERT_TRUE(host.Window());

  RECT rect;
  GetWindowRect(host.Window(), &rect);
  EXPECT_EQ(rect.right - rect.left, 400);
  EXPECT_EQ(rect.bottom - rect.top, 400);
  EXPECT_EQ(rect.left, (workArea.right - workArea.left - 400) / 2);
  EXPECT_EQ(rect.top, (workArea.bottom - workArea.top - 400) / 2);

  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(host.Window(), region), ERROR);
  struct Probe {
    int x, y;
    bool inside;
  } probes[] = {{0, 0, false},  {5, 5, false},  {394, 5, false},  {5, 394, false},  {394, 394, false}, {200, 200, true},
                {0, 200, true}, {200, 0, true}, {398, 200, true}, {200, 398, true}, {39, 39, true}};
  for (const Probe& probe : probes)
    EXPECT_EQ(PtInRegion(region, probe.x, probe.y) != FALSE, probe.inside) << probe.x << ", " << probe.y;
  DeleteObject(region);

  char title[32] = {};
  GetWindowTextA(host.Window(), title, sizeof title);
  EXPECT_STREQ(title, "Orvane");
  const LONG style = GetWindowLongA(host.Window(), GWL_STYLE);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_POPUP);
}

TEST_F(WindowTest, WithoutSnapshotTheBoardShowsZerosAndTheConverterStartsRonToEur) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  for (int i = 0; i < 18; ++i) {
    HWND box = host.Item(IDC_RATE_FIRST + i);
    ASSERT_TRUE(box) << i;
    EXPECT_EQ(host.Text(IDC_RATE_FIRST + i), "0") << i;
    EXPECT_TRUE(GetWindowLongA(box, GWL_STYLE) & ES_READONLY);
  }
  EXPECT_EQ(host.Text(IDC_LAST_UPDATED), "");
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "0.0000");
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "0.0000");

  HWND from = host.Item(IDC_FROM_COMBO);
  HWND to = host.Item(IDC_TO_COMBO);
  EXPECT_EQ(ListItems(from), AllBut(0));
  EXPECT_EQ(ListItems(to), AllBut(RON));
  EXPECT_EQ(SelectedCurrency(from), RON);
  EXPECT_EQ(SelectedCurrency(to), 0);
}

TEST_F(WindowTest, SavedSnapshotFillsTheRateBoxesAndTheLastUpdatedLine) {
  float rates[18];
  for (int i = 0; i < 18; ++i) rates[i] = 0.125f * static_cast<float>(i + 1) + 0.000013f * static_cast<float>(i);
  rates[0] = 4.9723f;
  SYSTEMTIME time{2007, 1, 2, 9, 8, 5, 41, 0};
  const std::vector<BYTE> value = SnapshotValue(rates, time);
  SeedSnapshotValue(value.data(), static_cast<DWORD>(value.size()));

  WindowHost host;
  ASSERT_TRUE(host.Window());
  for (int i = 0; i < 18; ++i) EXPECT_EQ(host.Text(IDC_RATE_FIRST + i), Printed("%.5f", rates[i])) << i;
  EXPECT_EQ(host.Text(IDC_LAST_UPDATED), "Last Updated: 09/01/2007 08:05");
}

TEST_F(WindowTest, SnapshotOfTheWrongLengthIsIgnored) {
  const std::vector<BYTE> value(87, 0x40);
  SeedSnapshotValue(value.data(), static_cast<DWORD>(value.size()));
  WindowHost host;
  ASSERT_TRUE(host.Window());
  EXPECT_EQ(host.Text(IDC_RATE_FIRST), "0");
  EXPECT_EQ(host.Text(IDC_LAST_UPDATED), "");
}

TEST_F(WindowTest, TypingIntoTheAmountBoxesConvertsWithTheSavedRates) {
  float rates[18] = {3.5f};
  rates[1] = 2.8f;
  const std::vector<BYTE> value = SnapshotValue(rates, SYSTEMTIME{2007, 1, 1, 1, 9, 5, 0, 0});
  SeedSnapshotValue(value.data(), static_cast<DWORD>(value.size()));
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HWND fromEdit = host.Item(IDC_FROM_EDIT);
  HWND toEdit = host.Item(IDC_TO_EDIT);

  SetWindowTextA(fromEdit, "");  // a program's text: the counters do not see it
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "0.0000");
  Type(fromEdit, "1");
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "1");
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "0.2857");  // RON to EUR at 3.5

  SetWindowTextA(toEdit, "");
  Type(toEdit, "7");
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "24.5000");
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "7");
}

TEST_F(WindowTest, AmountBoxesLetThroughOnlyDigitsBackspaceAndOnePoint) {
  struct Case {
    const char* keys;
    const char* shown;
  } cases[] = {
      {".", ""},       {"-", ""},       {"12.5", "12.5"}, {"12.5.", "12.5"}, {"1,2", "12"},
      {"+1e5 ", "15"}, {"1.\b.", "1."}, {"1.5\b.", "1."}, {"\b", ""},        {"9\x16\x03\x18\x1a", "9"},
  };
  for (const Case& c : cases) {
    // A fresh box for every case: the counters live as long as the box, so each case gets a
    // window of its own.
    WindowHost fresh;
    ASSERT_TRUE(fresh.Window());
    HWND box = fresh.Item(IDC_FROM_EDIT);
    SetWindowTextA(box, "");
    Type(box, c.keys);
    EXPECT_EQ(fresh.Text(IDC_FROM_EDIT), c.shown) << c.keys;
  }
}

TEST_F(WindowTest, ChoosingCurrenciesKeepsEachListHoldingTheOthersChoiceOut) {
  float rates[18] = {3.5f};
  rates[2] = 200.0f;
  const std::vector<BYTE> value = SnapshotValue(rates, SYSTEMTIME{2007, 1, 1, 1, 9, 5, 0, 0});
  SeedSnapshotValue(value.data(), static_cast<DWORD>(value.size()));
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HWND dialog = host.Window();
  HWND from = host.Item(IDC_FROM_COMBO);
  HWND to = host.Item(IDC_TO_COMBO);
  SetWindowTextA(host.Item(IDC_TO_EDIT), "7");  // converts 7 EUR into RON in the from box
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "24.5000");

  Choose(dialog, from, 2);  // XAU
  EXPECT_EQ(ListItems(to), AllBut(2));
  EXPECT_EQ(SelectedCurrency(to), 0);
  EXPECT_EQ(SendMessageA(to, CB_GETCURSEL, 0, 0), 1);  // EUR behind RON now
  EXPECT_EQ(ListItems(from), AllBut(0));
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "7");
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "0.1225");  // 7 * 3.5 / 200

  Choose(dialog, from, 2);  // the same again: nothing changes
  EXPECT_EQ(ListItems(to), AllBut(2));
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "0.1225");

  Choose(dialog, to, RON);
  EXPECT_EQ(ListItems(from), AllBut(RON));
  EXPECT_EQ(SelectedCurrency(from), 2);
  EXPECT_EQ(ListItems(to), AllBut(2));
  EXPECT_EQ(SelectedCurrency(to), RON);
  EXPECT_EQ(host.Text(IDC_FROM_EDIT), "0.1225");
  EXPECT_EQ(host.Text(IDC_TO_EDIT), "24.5000");  // 0.1225 XAU in RON
}

TEST_F(WindowTest, CopyPutsTheWholeTextOnTheClipboard) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HWND edit = host.Item(IDC_TO_EDIT);
  SendMessageA(edit, EM_SETSEL, 0, 2);  // only part of it selected
  struct Case {
    const char* text;
  } cases[] = {{"123.4567"}, {""}};
  for (const Case& c : cases) {
    SetWindowTextA(edit, c.text);
    SendMessageA(edit, WM_COMMAND, 35000, 0);  // the menu's "Copy"
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_TEXT);
    ASSERT_TRUE(data);
    const char* text = static_cast<const char*>(GlobalLock(data));
    ASSERT_TRUE(text);
    EXPECT_STREQ(text, c.text);
    GlobalUnlock(data);
    CloseClipboard();
  }
}

TEST_F(WindowTest, EveryWayOfEndingSignalsTheRightEvent) {
  struct Case {
    const char* how;
    int event;
  } cases[] = {{"escape", 0}, {"exit button", 0}, {"enter", 0}, {"close", 0}};
  for (const Case& c : cases) {
    WindowHost host;
    ASSERT_TRUE(host.Window());
    const std::string how = c.how;
    if (how == "escape") {
      PostMessageA(host.Item(IDC_FROM_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (how == "exit button") {
      PostMessageA(host.Item(IDCANCEL), BM_CLICK, 0, 0);
    } else if (how == "enter") {
      PostMessageA(host.Item(IDC_FROM_EDIT), WM_KEYDOWN, VK_RETURN, 0);
    } else {
      PostMessageA(host.Window(), WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(host.WaitForEvent(), c.event) << how;
    EXPECT_EQ(host.WaitForEvent(0), -1) << how << ": one event only";
    EXPECT_TRUE(host.Ended(10000)) << how;
    EXPECT_FALSE(IsWindow(host.Window())) << how;
  }
}

TEST_F(WindowTest, ButtonsAndListsShowTheHandCursorAndAmountBoxesTheTextCursor) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HCURSOR hand = LoadCursorA(host.Library(), MAKEINTRESOURCEA(IDC_HANDCURSOR));
  ASSERT_TRUE(hand);
  // Sharing the window thread's input state makes its cursor visible here.
  const DWORD windowThread = GetWindowThreadProcessId(host.Window(), nullptr);
  ASSERT_TRUE(AttachThreadInput(GetCurrentThreadId(), windowThread, TRUE));
  struct Case {
    int id;
    int hitTest;
    HCURSOR expected;
  } cases[] = {{IDCANCEL, HTCLIENT, hand},
               {IDC_FROM_COMBO, HTCLIENT, hand},
               {IDC_TO_COMBO, HTBORDER, hand},
               {IDC_UPDATE_NOW, HTNOWHERE, hand},
               {IDC_FROM_EDIT, HTCLIENT, LoadCursorA(nullptr, MAKEINTRESOURCEA(32513))}};  // IDC_IBEAM
  for (const Case& c : cases) {
    SetCursor(nullptr);
    HWND control = host.Item(c.id);
    const LRESULT handled =
        SendMessageA(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(c.hitTest, WM_MOUSEMOVE));
    if (c.expected == hand) {
      EXPECT_TRUE(handled) << c.id;  // the skin controls answer it themselves
    }
    EXPECT_EQ(GetCursor(), c.expected) << c.id;
  }
  AttachThreadInput(GetCurrentThreadId(), windowThread, FALSE);
}

TEST_F(WindowTest, ListsMeasureTwentyPixelItemsAndCarryTheTooltip) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  for (int id : {IDC_FROM_COMBO, IDC_TO_COMBO}) {
    HWND combo = host.Item(id);
    // The selection field was set to 20; Wine answers with its 2-pixel edit spacing added.
    const LRESULT field = SendMessageA(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    EXPECT_TRUE(field == 20 || field == 22) << id << ": " << field;
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0), 20) << id;
    EXPECT_GE(SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0), 100) << id;
    EXPECT_FALSE(GetWindowLongA(combo, GWL_STYLE) & CBS_HASSTRINGS);
  }

  HWND tooltip = FindTooltip(host.Window());
  ASSERT_TRUE(tooltip);
  EXPECT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 3);  // the two lists and the "Last Updated" line
  for (int id : {IDC_FROM_COMBO, IDC_TO_COMBO})
    EXPECT_EQ(ToolText(tooltip, host.Window(), reinterpret_cast<UINT_PTR>(host.Item(id))),
              "Click here to change curency...")
        << id;
}

TEST_F(WindowTest, CentresOnTheWorkAreaSizeWithoutAddingItsOrigin) {
  struct Restore {
    RECT saved{};
    Restore() { SystemParametersInfoA(SPI_GETWORKAREA, 0, &saved, 0); }
    ~Restore() { SystemParametersInfoA(SPI_SETWORKAREA, 0, &saved, 0); }
  } restore;
  struct Case {
    RECT workArea;
    POINT expected;
  } cases[] = {{{0, 0, 1024, 738}, {312, 169}}, {{100, 50, 1124, 788}, {312, 169}}, {{0, 0, 1001, 401}, {300, 0}}};
  for (const Case& c : cases) {
    RECT area = c.workArea;
    if (!SystemParametersInfoA(SPI_SETWORKAREA, 0, &area, 0)) GTEST_SKIP() << "the work area cannot be set here";
    RECT now;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &now, 0);
    if (!EqualRect(&now, &area)) GTEST_SKIP() << "this display does not keep a work area that is set";
    WindowHost host;
    ASSERT_TRUE(host.Window());
    RECT rect;
    GetWindowRect(host.Window(), &rect);
    EXPECT_EQ(rect.left, c.expected.x);
    EXPECT_EQ(rect.top, c.expected.y);
  }
}

TEST_F(WindowTest, DraggingTheFaceMovesTheWindowUntilTheButtonIsReleased) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  RECT before;
  GetWindowRect(host.Window(), &before);
  // The real pointer waits where the drag ends: moving a window under it makes the platform send
  // mouse moves of its own, which then agree with the ones sent here. The move that putting the
  // pointer there raises is let through first, before the window can move.
  SetCursorPos(before.left + 70, before.top + 170);
  for (int i = 0; i < 3; ++i) {
    Sleep(50);
    host.Settle();
  }
  SendMessageA(host.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 150));
  // Client coordinates of the point as the window stood when the button went down.
  SendMessageA(host.Window(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(70, 170));
  host.Settle();
  RECT moved;
  GetWindowRect(host.Window(), &moved);
  EXPECT_EQ(moved.left, before.left + 50);
  EXPECT_EQ(moved.top, before.top + 20);
  EXPECT_EQ(moved.right - moved.left, 400);

  SendMessageA(host.Window(), WM_LBUTTONUP, 0, MAKELPARAM(20, 150));
  SendMessageA(host.Window(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  host.Settle();
  RECT after;
  GetWindowRect(host.Window(), &after);
  EXPECT_TRUE(EqualRect(&after, &moved)) << "no drag after the release";
}

TEST_F(WindowTest, ContextMenuOffersOnlyCopy) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HWND edit = host.Item(IDC_FROM_EDIT);
  SetWindowTextA(edit, "42.5");
  SetCursorPos(0, 0);  // the pointer away from where the menu opens
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  RECT rect;
  GetWindowRect(edit, &rect);
  PostMessageA(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), MAKELPARAM(rect.left + 5, rect.top + 5));
  HWND menu = nullptr;
  for (int i = 0; i < 6000 && !menu; ++i) {
    menu = FindWindowA("#32768", nullptr);
    if (!menu) Sleep(10);
  }
  ASSERT_TRUE(menu) << "no popup menu";
  HMENU items = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
  ASSERT_TRUE(items);
  EXPECT_EQ(GetMenuItemCount(items), 1);
  char text[32] = {};
  GetMenuStringA(items, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "Copy");
  EXPECT_EQ(GetMenuItemID(items, 0), 35000u);

  // Choose it from the keyboard, as the menu's own loop reads the window thread's input.
  PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
  // The command is posted to the box when the menu closes; wait for its result.
  std::string copied = "(none)";
  for (int i = 0; i < 6000 && copied != "42.5"; ++i) {
    Sleep(10);
    if (!OpenClipboard(nullptr)) continue;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      if (const char* locked = static_cast<const char*>(GlobalLock(data))) {
        copied = locked;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
  }
  EXPECT_EQ(copied, "42.5");
}

}  // namespace
