// The whole program as a screen reader and a keyboard user meet it: orvane.exe with the real
// library in a process of its own, read from this one through Active Accessibility, its events
// received out of context, Tab sent as keyboard input, and the screen read back.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>
#include <oleacc.h>

#include <fstream>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "focus_cues.h"
#include "launcher_harness.h"
#include "net/protocol.h"
#include "program_window.h"
#include "rates/display_format.h"
#include "resource.h"
#include "screen_capture.h"
#include "screen_reader.h"

#ifndef ORVANE_ARTIFACT_DIR
#error ORVANE_ARTIFACT_DIR names where the screenshots go
#endif

namespace {

constexpr COLORREF LIGHT_BLUE = RGB(175, 211, 237);
const char* const CODES[] = {"EUR",    "USD",    "XAU", "AUD", "CAD", "CHF", "CZK", "DKK", "EGP", "GBP",
                             "100HUF", "100JPY", "MDL", "NOK", "PLN", "SEK", "TRY", "XDR", "RON"};

RateTable OtherRates() {
  RateTable rates = ServiceRates();
  for (float& rate : rates) rate += 0.25f;
  return rates;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void PressKey(WORD key) {
  INPUT input[2] = {};
  for (INPUT& one : input) {
    one.type = INPUT_KEYBOARD;
    one.ki.wVk = key;
  }
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

// Lets the program's thread handle and paint everything so far.
void Settle(HWND window) {
  for (int i = 0; i < 5; ++i) {
    SendMessageA(window, WM_NULL, 0, 0);
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(50);
  }
}

RECT ScreenRect(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  return rect;
}

// The controls whose skin hides the focus, and where their focus frame would show.
struct SkinnedControl {
  int id;
  std::vector<POINT> frame;
};
std::vector<SkinnedControl> SkinnedControls(HWND window) {
  std::vector<SkinnedControl> controls;
  for (int id : {IDC_UPDATE_NOW, IDCANCEL, IDC_FROM_COMBO, IDC_TO_COMBO})
    controls.push_back({id, FocusFramePoints(GetDlgItem(window, id))});
  return controls;
}

bool SamePixels(const Picture& a, const Picture& b) {
  return a.width == b.width && a.height == b.height && a.bgrx == b.bgrx;
}

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanServeProgramRates()) GTEST_SKIP() << "this build has only the public half of its rates key";
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    folder.Place(ORVANE_LIBRARY, "BrennikDll.dll");
    Serve(ServiceRates());
    SetCursorPos(0, 0);  // the pointer away from the window: no hover frame
  }
  void TearDown() override {
    if (window) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    if (program) {
      EXPECT_EQ(program->WaitForExit(), 0u);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
  }

  void Serve(const RateTable& rates) {
    service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    // As the program asks for them: signed where the build has a rates key.
    ServeProgramRates(service, rates);
  }

  // The program, on screen with the service's rates.
  void Start() {
    program = std::make_unique<LauncherProcess>(folder);
    window = WaitForRatesWindow(program->ProcessId());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForRates(window, ServiceRates()));
  }

  HWND Item(int id) const { return GetDlgItem(window, id); }

  // Tab pressed `count` times, from the focus where it is; the control that has the focus after
  // each press, and what the window looks like then.
  struct Stop {
    HWND focus;
    Picture shot;
  };
  std::vector<Stop> WalkWithTab(int count) {
    std::vector<Stop> stops;
    SetForegroundWindow(window);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window && FocusOf(window) != nullptr; }));
    for (int i = 0; i < count; ++i) {
      const HWND before = FocusOf(window);
      PressKey(VK_TAB);
      // The key goes through the program's input queue: wait for its effect. A press that moves
      // nothing shows as a wrong stop.
      WaitUntil([&] { return FocusOf(window) != before; }, std::chrono::seconds(10));
      Settle(window);
      stops.push_back({FocusOf(window), CaptureScreen(ScreenRect(window))});
    }
    return stops;
  }

  // A control's own pixels in a shot of the whole window.
  Picture Crop(const Picture& shot, HWND control) const {
    const RECT windowRect = ScreenRect(window);
    const RECT rect = ScreenRect(control);
    Picture crop;
    crop.width = rect.right - rect.left;
    crop.height = rect.bottom - rect.top;
    for (int y = 0; y < crop.height; ++y)
      for (int x = 0; x < crop.width; ++x) {
        const COLORREF color = shot.At(rect.left - windowRect.left + x, rect.top - windowRect.top + y);
        crop.bgrx.insert(crop.bgrx.end(), {GetBValue(color), GetGValue(color), GetRValue(color), 0});
      }
    return crop;
  }

  ProgramFolder folder;
  FakeRatesService service{RATES_PORT};
  std::unique_ptr<LauncherProcess> program;
  HWND window = nullptr;
};

struct Expected {
  int id;
  std::string name;
  std::string value;
  long role;      // what Windows' standard objects say
  long wineRole;  // Wine 8's: it knows only the edit class and calls the others "client"
};

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

TEST_F(AccessibilityTest, EveryControlTellsAScreenReaderItsNameValueAndTheSystemsRole) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string lastUpdated = ControlText(window, IDC_LAST_UPDATED);
  ASSERT_NE(lastUpdated, "");
  std::vector<Expected> table = {
      {IDC_UPDATE_NOW, "Update Now", "", ROLE_SYSTEM_PUSHBUTTON, ROLE_SYSTEM_CLIENT},
      {IDCANCEL, "Exit", "", ROLE_SYSTEM_PUSHBUTTON, ROLE_SYSTEM_CLIENT},
      {IDC_FROM_COMBO, "Convert from", "RON", ROLE_SYSTEM_COMBOBOX, ROLE_SYSTEM_CLIENT},
      {IDC_FROM_EDIT, "Amount in RON", "0.0000", ROLE_SYSTEM_TEXT, ROLE_SYSTEM_TEXT},
      {IDC_TO_COMBO, "Convert to", "EUR", ROLE_SYSTEM_COMBOBOX, ROLE_SYSTEM_CLIENT},
      {IDC_TO_EDIT, "Amount in EUR", "0.0000", ROLE_SYSTEM_TEXT, ROLE_SYSTEM_TEXT},
      {IDC_LAST_UPDATED, lastUpdated, "", ROLE_SYSTEM_STATICTEXT, ROLE_SYSTEM_CLIENT},
  };
  const Texts rates = Formatted(ServiceRates());
  for (int i = 0; i < RATE_COUNT; ++i)
    table.push_back(
        {IDC_RATE_FIRST + i, std::string(CODES[i]) + " in RON", rates[i], ROLE_SYSTEM_TEXT, ROLE_SYSTEM_TEXT});
  const bool wine = UnderWine();

  // The table as a reader hears it without the program's help and with it, to look at.
  std::ofstream record(std::string(ORVANE_ARTIFACT_DIR) + "/accessibility.md");
  record << "| id | system's name | value | role | program's name | value | role |\n|---|---|---|---|---|---|---|\n";
  for (const Expected& row : table) {
    const AccessibleReading standard = ReadStandardAccessible(Item(row.id));
    const AccessibleReading read = ReadAccessible(Item(row.id));
    record << "| " << row.id << " | " << standard.name << " | " << standard.value << " | " << RoleText(standard.role)
           << " | " << read.name << " | " << read.value << " | " << RoleText(read.role) << " |\n";
    ASSERT_TRUE(read.found) << row.id;
    EXPECT_EQ(read.name, row.name) << row.id;
    EXPECT_EQ(read.value, row.value) << row.id;
    EXPECT_EQ(read.role, wine ? row.wineRole : row.role) << row.id << ": " << RoleText(read.role);
    EXPECT_EQ(read.role, standard.role) << row.id << ": the role stays the system's own";
  }
}

TEST_F(AccessibilityTest, ChangedSelectionIsAnnouncedAndRenamesTheAmountBoxBesideIt) {
  ASSERT_NO_FATAL_FAILURE(Start());
  WinEventRecorder events(program->ProcessId());
  ASSERT_TRUE(events.Hooked());
  HWND from = Item(IDC_FROM_COMBO);
  HWND to = Item(IDC_TO_COMBO);

  // The user's choice in the open from list: XAU, third in it behind RON and USD.
  SendMessageA(from, CB_SETCURSEL, 2, 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_FROM_COMBO, CBN_SELENDOK), reinterpret_cast<LPARAM>(from));
  EXPECT_TRUE(events.WaitFor(EVENT_OBJECT_VALUECHANGE, from));
  EXPECT_TRUE(events.WaitFor(EVENT_OBJECT_NAMECHANGE, Item(IDC_FROM_EDIT)));
  EXPECT_EQ(ReadAccessible(from).value, "XAU");
  EXPECT_EQ(ReadAccessible(Item(IDC_FROM_EDIT)).name, "Amount in XAU");
  for (const WinEvent& event : events.Events()) EXPECT_NE(event.window, to) << "the to list kept its currency";

  // Down in the closed to list: the next currency, EUR to USD.
  PostMessageA(to, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_TRUE(events.WaitFor(EVENT_OBJECT_VALUECHANGE, to));
  EXPECT_TRUE(events.WaitFor(EVENT_OBJECT_NAMECHANGE, Item(IDC_TO_EDIT)));
  EXPECT_EQ(ReadAccessible(to).value, "USD");
  EXPECT_EQ(ReadAccessible(Item(IDC_TO_EDIT)).name, "Amount in USD");
  EXPECT_EQ(ReadAccessible(Item(IDC_FROM_EDIT)).name, "Amount in XAU");
}

TEST_F(AccessibilityTest, RefreshedRatesReachTheReaderAndAreAnnounced) {
  ASSERT_NO_FATAL_FAILURE(Start());
  WinEventRecorder events(program->ProcessId());
  ASSERT_TRUE(events.Hooked());
  const RateTable next = OtherRates();
  Serve(next);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED),
               reinterpret_cast<LPARAM>(Item(IDC_UPDATE_NOW)));
  ASSERT_TRUE(WaitForRates(window, next));
  const Texts shown = Formatted(next);
  for (int i = 0; i < RATE_COUNT; ++i) {
    HWND box = Item(IDC_RATE_FIRST + i);
    EXPECT_TRUE(events.WaitFor(EVENT_OBJECT_VALUECHANGE, box)) << i;
    const AccessibleReading read = ReadAccessible(box);
    EXPECT_EQ(read.value, shown[i]) << i;
    EXPECT_EQ(read.name, std::string(CODES[i]) + " in RON") << i;
  }
}

TEST_F(AccessibilityTest, TabWalksTheTemplatesOrderAndTheSkinHidesTheFocusByDefault) {
  KeyboardCues restore;
  ASSERT_TRUE(KeyboardCues::Set(false));
  ASSERT_NO_FATAL_FAILURE(Start());
  // The buttons first, as their binding raised them, then the converter, then the rate boxes,
  // and round to the first again.
  std::vector<HWND> order = {Item(IDC_UPDATE_NOW), Item(IDCANCEL),     Item(IDC_FROM_COMBO),
                             Item(IDC_FROM_EDIT),  Item(IDC_TO_COMBO), Item(IDC_TO_EDIT)};
  for (int i = 0; i < RATE_COUNT; ++i) order.push_back(Item(IDC_RATE_FIRST + i));
  ASSERT_EQ(FocusOf(window), order[0]) << "the first control has the focus at start";

  const std::vector<Stop> stops = WalkWithTab(static_cast<int>(order.size()));
  ASSERT_EQ(stops.size(), order.size());
  for (std::size_t i = 0; i < stops.size(); ++i)
    EXPECT_EQ(stops[i].focus, order[(i + 1) % order.size()]) << "press " << i + 1;

  // Every skinned control looks the same with the focus as without: the focus on the last rate
  // box is the picture without it.
  const Picture& unfocused = stops[stops.size() - 2].shot;
  for (const SkinnedControl& control : SkinnedControls(window)) {
    HWND handle = Item(control.id);
    for (const Stop& stop : stops) {
      if (stop.focus != handle) continue;
      EXPECT_TRUE(SamePixels(Crop(stop.shot, handle), Crop(unfocused, handle))) << control.id;
      WritePng(stop.shot, std::string(ORVANE_ARTIFACT_DIR) + "/focus-hidden-" + std::to_string(control.id) + ".png");
    }
  }
}

// The setting is made before the program starts: Wine keeps a copy of each system parameter in
// every process and does not refresh it when another process changes it, so a change made
// elsewhere reaches a running program only at its next start. Following a change while running
// is checked where the window runs in the process that makes the change (window_focus_test).
TEST_F(AccessibilityTest, WithKeyboardCuesOnTheFocusedSkinControlShowsAFrame) {
  KeyboardCues restore;
  ASSERT_TRUE(KeyboardCues::Set(true));
  ASSERT_TRUE(KeyboardCues::On());
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::vector<SkinnedControl> skinned = SkinnedControls(window);

  // Once round: the focus comes to every control and back to Update Now, where it started.
  const std::vector<Stop> stops = WalkWithTab(6 + RATE_COUNT);
  ASSERT_EQ(stops.back().focus, Item(IDC_UPDATE_NOW));
  for (const SkinnedControl& control : skinned) {
    HWND handle = Item(control.id);
    const Stop* focused = nullptr;
    for (const Stop& stop : stops)
      if (stop.focus == handle) focused = &stop;
    ASSERT_TRUE(focused) << control.id;
    const Picture crop = Crop(focused->shot, handle);
    for (POINT p : control.frame)
      EXPECT_EQ(crop.At(p.x, p.y), LIGHT_BLUE) << control.id << " at " << p.x << ", " << p.y;
    // The others show no frame meanwhile.
    for (const SkinnedControl& other : skinned) {
      if (other.id == control.id) continue;
      const Picture otherCrop = Crop(focused->shot, Item(other.id));
      for (POINT p : other.frame) EXPECT_NE(otherCrop.At(p.x, p.y), LIGHT_BLUE) << other.id << " beside " << control.id;
    }
    WritePng(focused->shot, std::string(ORVANE_ARTIFACT_DIR) + "/focus-shown-" + std::to_string(control.id) + ".png");
  }
}

}  // namespace
