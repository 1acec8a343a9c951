// Where the window's controls sit and whether their texts fit, read from the running window and
// compared with what the dialog template asks for in dialog units.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "net/protocol.h"
#include "rates/currency.h"
#include "rates/display_format.h"
#include "rates_xml.h"
#include "resource.h"
#include "window_host.h"

#ifndef ORVANE_RATES_FIXTURES
#error ORVANE_RATES_FIXTURES names the folder of real rates files
#endif
#ifndef ORVANE_SAMPLE_RATES
#error ORVANE_SAMPLE_RATES names the sample rates file
#endif

namespace {

// What Windows gives for "Microsoft Sans Serif" 8 pt at 96 DPI.
constexpr SIZE WINDOWS_BASE_UNITS{6, 13};
constexpr int LAST_FLAG_ROW_BOTTOM = 40 + 25 * 8 + 20;

struct TemplateControl {
  int id;
  short x, y, cx, cy;  // dialog units
  DWORD style;
};

struct DialogTemplate {
  std::wstring font;
  int pointSize = 0;
  std::vector<TemplateControl> controls;
};

// The extended dialog template IDD_MAIN as the library carries it.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* data) : m_start(data), m_at(data) {}

  DialogTemplate Read() {
    DialogTemplate result;
    Skip(2 + 2 + 4 + 4);  // version, signature, help id, extended style
    const DWORD style = Dword();
    const WORD count = Word();
    Skip(4 * 2);          // x, y, cx, cy of the dialog
    SkipNameOrOrdinal();  // menu
    SkipNameOrOrdinal();  // class
    SkipNameOrOrdinal();  // title
    if (style & DS_SETFONT) {
      result.pointSize = Word();
      Skip(2 + 1 + 1);  // weight, italic, character set
      result.font = String();
    }
    for (WORD i = 0; i < count; ++i) {
      AlignToDword();
      Skip(4 + 4);  // help id, extended style
      TemplateControl control{};
      control.style = Dword();
      control.x = static_cast<short>(Word());
      control.y = static_cast<short>(Word());
      control.cx = static_cast<short>(Word());
      control.cy = static_cast<short>(Word());
      control.id = static_cast<int>(Dword());
      SkipNameOrOrdinal();  // class
      SkipNameOrOrdinal();  // text
      Skip(Word());         // creation data
      result.controls.push_back(control);
    }
    return result;
  }

 private:
  WORD Word() {
    WORD value;
    std::memcpy(&value, m_at, 2);
    m_at += 2;
    return value;
  }
  DWORD Dword() {
    DWORD value;
    std::memcpy(&value, m_at, 4);
    m_at += 4;
    return value;
  }
  void Skip(std::size_t bytes) { m_at += bytes; }
  void AlignToDword() { m_at = m_start + ((m_at - m_start + 3) & ~static_cast<std::ptrdiff_t>(3)); }
  std::wstring String() {
    std::wstring text;
    for (WORD c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  void SkipNameOrOrdinal() {
    const WORD first = Word();
    if (first == 0xFFFF) {
      Skip(2);
    } else if (first != 0) {
      String();
    }
  }

  const BYTE* m_start;
  const BYTE* m_at;
};

DialogTemplate MainTemplate(HMODULE library) {
  HRSRC resource = FindResourceA(library, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!resource) return {};
  return TemplateReader(static_cast<const BYTE*>(LockResource(LoadResource(library, resource)))).Read();
}

// Dialog base units of a font, measured as the dialog manager measures them: the average width of
// the 52 Latin letters, rounded, and the character height.
SIZE BaseUnitsOf(const std::wstring& face, int pointSize) {
  HDC screen = GetDC(nullptr);
  HFONT font = CreateFontW(-MulDiv(pointSize, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                           FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
  HGDIOBJ previous = SelectObject(screen, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(screen, &metrics);
  SIZE letters{};
  GetTextExtentPoint32A(screen, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
  SelectObject(screen, previous);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

// Where the dialog manager puts a template control: position and size each mapped on its own.
RECT Mapped(const TemplateControl& control, SIZE base) {
  const int left = MulDiv(control.x, base.cx, 4);
  const int top = MulDiv(control.y, base.cy, 8);
  return {left, top, left + MulDiv(control.cx, base.cx, 4), top + MulDiv(control.cy, base.cy, 8)};
}

std::string Describe(const RECT& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld, %ld, %ld x %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return text;
}

// The platform's own combo box of this style and template rectangle, with the 20-pixel selection
// field that the flag lists ask for: how tall it is closed, and how tall open.
struct ComboHeights {
  int closed = 0;
  int open = 0;
};

ComboHeights ReferenceCombo(DWORD style, const RECT& rect, HFONT font) {
  HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr, nullptr, nullptr);
  HWND combo = CreateWindowExA(0, "COMBOBOX", "", (style & ~WS_VISIBLE) | WS_CHILD, rect.left, rect.top,
                               rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, nullptr, nullptr);
  SendMessageA(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 20);
  RECT closed, dropped;
  GetWindowRect(combo, &closed);
  SendMessageA(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
  DestroyWindow(parent);
  return {closed.bottom - closed.top, dropped.bottom - dropped.top};
}

SIZE TextExtent(HWND window, const std::string& text) {
  HDC dc = GetDC(window);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  return size;
}

void SeedRates(const RateTable& rates, const SYSTEMTIME& time) {
  std::vector<BYTE> value(88);
  std::memcpy(value.data(), rates.data(), 72);
  std::memcpy(value.data() + 72, &time, 16);
  SeedSnapshotValue(value.data(), static_cast<DWORD>(value.size()));
}

class WindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSettings(); }
  void TearDown() override { ClearSettings(); }

  // The window's first refresh finds a service on the compiled-in port that closes every
  // connection, so the board keeps showing the seeded snapshot.
  FakeRatesService silentService{RATES_PORT};
};

TEST_F(WindowLayoutTest, TemplateFontHasTheDialogBaseUnitsOfWindows) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  const DialogTemplate dialog = MainTemplate(host.Library());
  ASSERT_EQ(dialog.font, L"Microsoft Sans Serif");
  ASSERT_EQ(dialog.pointSize, 8);

  const SIZE measured = BaseUnitsOf(dialog.font, dialog.pointSize);
  RECT units{0, 0, 4, 8};
  ASSERT_TRUE(MapDialogRect(host.Window(), &units));
  std::printf("base units: font %ld x %ld, window %ld x %ld\n", measured.cx, measured.cy, units.right, units.bottom);
  EXPECT_EQ(measured.cx, WINDOWS_BASE_UNITS.cx);
  EXPECT_EQ(measured.cy, WINDOWS_BASE_UNITS.cy);
  EXPECT_EQ(units.right, WINDOWS_BASE_UNITS.cx);
  EXPECT_EQ(units.bottom, WINDOWS_BASE_UNITS.cy);
}

TEST_F(WindowLayoutTest, EveryControlSitsWhereItsDialogUnitsPutIt) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  const DialogTemplate dialog = MainTemplate(host.Library());
  ASSERT_EQ(dialog.controls.size(), 7u);
  BITMAP skin{};
  HBITMAP skinBitmap = LoadBitmapA(host.Library(), MAKEINTRESOURCEA(IDB_BUTTON));
  ASSERT_TRUE(GetObjectA(skinBitmap, sizeof skin, &skin));
  DeleteObject(skinBitmap);
  const HFONT font = reinterpret_cast<HFONT>(SendMessageA(host.Window(), WM_GETFONT, 0, 0));

  for (const TemplateControl& control : dialog.controls) {
    HWND window = host.Item(control.id);
    ASSERT_TRUE(window) << control.id;
    RECT expected = Mapped(control, WINDOWS_BASE_UNITS);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    const std::string kind = className;
    if (kind == "Button") {
      // A skin button takes the size of one state image of its skin.
      expected.right = expected.left + skin.bmWidth / 2;
      expected.bottom = expected.top + skin.bmHeight;
    } else if (kind == "ComboBox") {
      // The template's height is the open list's; closed, the box is as tall as its field.
      const ComboHeights reference = ReferenceCombo(control.style, expected, font);
      RECT dropped{};
      SendMessageA(window, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
      EXPECT_EQ(dropped.bottom - dropped.top, reference.open) << control.id << ": open list";
      expected.bottom = expected.top + reference.closed;
    }
    const RECT actual = RectIn(host.Window(), window);
    std::printf("control %4d %-8s %s\n", control.id, className, Describe(actual).c_str());
    EXPECT_TRUE(EqualRect(&actual, &expected))
        << control.id << " " << kind << ": " << Describe(actual) << ", expected " << Describe(expected);
  }

  // The rate boxes are placed in pixels, whatever the font.
  for (int i = 0; i < RATE_COUNT; ++i) {
    const int row = i % 9;
    const int left = i < 9 ? 95 : 280;
    const RECT expected{left, 43 + 25 * row, left + 60, 68 + 25 * row};
    const RECT actual = RectIn(host.Window(), host.Item(IDC_RATE_FIRST + i));
    EXPECT_TRUE(EqualRect(&actual, &expected)) << CurrencyCodes[i] << ": " << Describe(actual);
  }
}

TEST_F(WindowLayoutTest, LastUpdatedLineLiesBelowTheFlagsAndShowsWhole) {
  SeedRates(RateTable{}, SYSTEMTIME{2026, 12, 1, 28, 23, 58, 59, 0});
  WindowHost host;
  ASSERT_TRUE(host.Window());
  HWND line = host.Item(IDC_LAST_UPDATED);
  const RECT rect = RectIn(host.Window(), line);
  EXPECT_GE(rect.top, LAST_FLAG_ROW_BOTTOM) << Describe(rect);
  const std::string text = host.Text(IDC_LAST_UPDATED);
  ASSERT_EQ(text, "Last Updated: 28/12/2026 23:58");
  const SIZE extent = TextExtent(line, text);
  EXPECT_LE(extent.cx, rect.right - rect.left);
  EXPECT_LE(extent.cy, rect.bottom - rect.top);
}

TEST_F(WindowLayoutTest, EveryLabelShowsWholeBesideItsRateBox) {
  WindowHost host;
  ASSERT_TRUE(host.Window());
  // The labels are painted in the dialog's font into their rectangles, which clip them; the rate
  // box beside each one is painted over whatever reaches under it.
  for (int i = 0; i < RATE_COUNT; ++i) {
    const bool left = i < 9;
    const int labelLeft = left ? 71 : 231;
    const int labelRight = left ? 101 : 271;
    const RECT box = RectIn(host.Window(), host.Item(IDC_RATE_FIRST + i));
    const SIZE extent = TextExtent(host.Window(), CurrencyCodes[i]);
    EXPECT_LE(labelLeft + extent.cx, labelRight) << CurrencyCodes[i];
    EXPECT_LE(labelLeft + extent.cx, box.left) << CurrencyCodes[i];
  }
}

// Every rate of the sample file and of real bank files, in the unit the service serves.
struct RatesFile {
  const char* name;
  RateTable rates;
};

std::vector<RatesFile> RatesFiles() {
  const std::string fixtures = ORVANE_RATES_FIXTURES;
  std::vector<RatesFile> files{{"sample", ExpectedNationalBankRates(ReadText(ORVANE_SAMPLE_RATES))}};
  for (const char* name : {"bnr-2015-11-20.xml", "bnr-2016-10-18.xml", "bnr-2021-05-05.xml", "bnr-2021.xml",
                           "bnr-2022-06-17.xml", "bnr-2024-12-13.xml"})
    files.push_back({name, ExpectedNationalBankRates(ReadText(fixtures + "/" + name))});
  for (const char* name : {"ecb-2017-03-08.xml", "ecb-2022-07-08.xml", "ecb-2025-05-09.xml"})
    files.push_back({name, ExpectedCentralBankRates(ReadText(fixtures + "/" + name))});
  return files;
}

TEST_F(WindowLayoutTest, EveryRateOfRealFilesShowsWholeInItsBox) {
  for (const RatesFile& file : RatesFiles()) {
    ASSERT_GT(file.rates[0], 0.0f) << file.name << ": not read";
    SeedRates(file.rates, SYSTEMTIME{2026, 12, 2, 8, 13, 30, 0, 0});
    WindowHost host;
    ASSERT_TRUE(host.Window()) << file.name;
    for (int i = 0; i < RATE_COUNT; ++i) {
      HWND box = host.Item(IDC_RATE_FIRST + i);
      const std::string text = host.Text(IDC_RATE_FIRST + i);
      ASSERT_EQ(text, FormatRate(file.rates[i])) << file.name << " " << CurrencyCodes[i];
      RECT client;
      GetClientRect(box, &client);
      const DWORD margins = static_cast<DWORD>(SendMessageA(box, EM_GETMARGINS, 0, 0));
      const SIZE extent = TextExtent(box, text);
      EXPECT_LE(LOWORD(margins) + extent.cx + HIWORD(margins), client.right)
          << file.name << " " << CurrencyCodes[i] << " " << text;
      // The first character starts inside the box: nothing is scrolled out of sight.
      const LRESULT first = SendMessageA(box, EM_POSFROMCHAR, 0, 0);
      EXPECT_GE(static_cast<short>(LOWORD(first)), 0) << file.name << " " << CurrencyCodes[i] << " " << text;
    }
  }
}

}  // namespace
