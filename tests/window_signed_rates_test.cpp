// The signed rates in the real library, run as the launcher runs it, against the fake service
// on the compiled-in port: what the board shows, what the registry keeps, what the "Last
// Updated" line's tip says, read back through the window's own tooltip, and what the tray icon's
// tip says, read back from the shell's.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "fake_rates_service.h"
#include "net/protocol.h"
#include "rates/display_format.h"
#include "resource.h"
#include "shell_tray.h"
#include "signing/rates_key.h"
#include "test_signing.h"
#include "test_support.h"
#include "window_host.h"

namespace {

using Bytes = std::vector<BYTE>;

RateTable Rates(float first) {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = first + 0.25f * static_cast<float>(i);
  return rates;
}

std::vector<std::string> Texts(const RateTable& rates) {
  std::vector<std::string> texts;
  for (float rate : rates) texts.push_back(FormatRate(rate));
  return texts;
}

std::vector<std::string> Boxes(const WindowHost& host) {
  std::vector<std::string> texts;
  for (int i = 0; i < RATE_COUNT; ++i) texts.push_back(host.Text(IDC_RATE_FIRST + i));
  return texts;
}

Bytes InfoBytes(std::uint32_t date, const char (&source)[4]) {
  Bytes bytes(8);
  StoreU32(bytes.data(), date);
  std::memcpy(bytes.data() + 4, source, 4);
  return bytes;
}

Bytes SnapshotBytes(const RateTable& rates, SYSTEMTIME time) {
  Bytes bytes(88);
  std::memcpy(bytes.data(), rates.data(), 72);
  std::memcpy(bytes.data() + 72, &time, 16);
  return bytes;
}

// Days from a date to today's, counted by the system's own calendar.
int DaysBefore(WORD year, WORD month, WORD day) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  now = SYSTEMTIME{now.wYear, now.wMonth, 0, now.wDay, 0, 0, 0, 0};
  const SYSTEMTIME then{year, month, 0, day, 0, 0, 0, 0};
  FILETIME a{}, b{};
  SystemTimeToFileTime(&now, &a);
  SystemTimeToFileTime(&then, &b);
  auto ticks = [](FILETIME t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<int>((ticks(a) - ticks(b)) / 864000000000LL);
}

std::string Aged(const std::string& tip, int days) {
  return days > 4 ? tip + " (" + std::to_string(days) + " days old)" : tip;
}

// What the tray icon's tip says for rates of `date` (dd/mm/yyyy), `days` old.
std::string TrayTip(const std::string& date, int days) { return Aged("Orvane: rates of " + date, days); }

std::string LineTip(const WindowHost& host) {
  HWND tooltip = FindTooltip(host.Window());
  return tooltip ? ToolText(tooltip, host.Window(), IDC_LAST_UPDATED) : "(no tooltip)";
}

// Every tip the shell shows over an icon, to say what it showed when the one looked for is not.
std::string ShellTips() {
  std::string tips = "the shell's tray tips:";
  for (const ShellTrayIcon& icon : ShellTrayIcons()) tips += " \"" + icon.tip + "\"";
  return tips;
}

class WindowSignedRatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    if (!BuildRatesKey()) GTEST_SKIP() << "this build has no rates key: it takes the unsigned rates";
    if (!BuildRatesTestKey()) GTEST_SKIP() << "this build has only the public half of its rates key";
    service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    // Served, but never to be asked for by a build with a rates key.
    service.SetReply(CMD_GET_RATES, {std::vector<std::uint8_t>(72, 0x41)});
  }
  void TearDown() override { ClearSettings(); }

  static std::vector<std::uint8_t> Record(std::uint32_t date, const RateTable& rates, const TestKey& key) {
    const auto bytes = SignedRatesRecordForTest({date, RatesBank::NationalBankOfRomania}, rates, key);
    return {bytes.begin(), bytes.end()};
  }
  static std::vector<std::uint8_t> Record(std::uint32_t date, const RateTable& rates) {
    return Record(date, rates, *BuildRatesTestKey());
  }

  bool AskedForUnsignedRates() const {
    for (const auto& request : service.Requests())
      if (!request.empty() && request[0] == CMD_GET_RATES) return true;
    return false;
  }

  FakeRatesService service{RATES_PORT};
};

TEST_F(WindowSignedRatesTest, SignedRecordIsShownStoredAndNamedInTheLinesTip) {
  SYSTEMTIME today{};
  GetLocalTime(&today);
  const std::uint32_t todays = today.wYear * 10000u + today.wMonth * 100u + today.wDay;
  struct Case {
    std::uint32_t date;
    const char source[4];
    RatesBank bank;
    std::string tip;
    std::string trayTip;
  } cases[] = {
      {todays, "BNR", RatesBank::NationalBankOfRomania,
       "Rates of " + FormatRatesDate(todays) + " from the National Bank of Romania",
       "Orvane: rates of " + FormatRatesDate(todays)},
      {20241213, "ECB", RatesBank::EuropeanCentralBank,
       Aged("Rates of 13/12/2024 from the European Central Bank", DaysBefore(2024, 12, 13)),
       TrayTip("13/12/2024", DaysBefore(2024, 12, 13))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tip);
    ClearSettings();
    const RateTable rates = Rates(4.5f + static_cast<float>(c.date % 7));
    const auto record = SignedRatesRecordForTest({c.date, c.bank}, rates, *BuildRatesTestKey());
    service.SetReply(CMD_GET_SIGNED_RATES, {{record.begin(), record.end()}});
    WindowHost host;
    ASSERT_TRUE(host.Window());
    ASSERT_TRUE(WaitUntil([&] { return Boxes(host) == Texts(rates); }));
    ASSERT_TRUE(WaitUntil([&] { return LineTip(host) == c.tip; })) << LineTip(host);
    EXPECT_TRUE(WaitForTrayTip(host.Window(), c.trayTip)) << ShellTips();
    EXPECT_EQ(SettingsValue("RatesInfo"), InfoBytes(c.date, c.source));
    const auto snapshot = SettingsValue("LastUpdate");
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->size(), 88u);
    EXPECT_EQ(std::memcmp(snapshot->data(), rates.data(), 72), 0);
    EXPECT_TRUE(host.Text(IDC_LAST_UPDATED).starts_with("Last Updated: "));  // the line itself as before
    EXPECT_FALSE(AskedForUnsignedRates());
    PostMessageA(host.Window(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(host.WaitForEvent(), 0);
  }
}

TEST_F(WindowSignedRatesTest, ForgedDamagedShortOrOlderRecordsLeaveTheBoardAndTheRegistryAsTheyWere) {
  const RateTable held = Rates(5.25f);
  const Bytes snapshot = SnapshotBytes(held, SYSTEMTIME{2026, 12, 2, 8, 14, 5, 0, 0});
  const Bytes info = InfoBytes(20261208, "BNR");
  const RateTable offered = Rates(9.75f);
  auto tampered = Record(20261209, offered);
  tampered[40] ^= 0x01;
  const auto good = Record(20261209, offered);
  struct Case {
    const char* name;
    FakeReply reply;
  } cases[] = {
      {"signed with another key", {Record(20261209, offered, OTHER_TEST_KEY)}},
      {"tampered", {tampered}},
      {"cut short", {{good.begin(), good.begin() + 120}}},
      {"older than the one held", {Record(20261207, offered)}},
      {"command 5 closed without a reply", {}},
  };
  const std::string tip = Aged("Rates of 08/12/2026 from the National Bank of Romania", DaysBefore(2026, 12, 8));
  const std::string trayTip = TrayTip("08/12/2026", DaysBefore(2026, 12, 8));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearSettings();
    SeedSnapshotValue(snapshot.data(), static_cast<DWORD>(snapshot.size()));
    SeedSettingsValue("RatesInfo", info.data(), static_cast<DWORD>(info.size()));
    service.SetReply(CMD_GET_SIGNED_RATES, c.reply);
    const std::size_t before = service.Requests().size();
    WindowHost host;
    ASSERT_TRUE(host.Window());
    // A refresh ends before the next may start: once "Update Now" gets one going, the first is
    // over, with whatever it did to the board and the registry.
    HWND button = host.Item(IDC_UPDATE_NOW);
    ASSERT_TRUE(WaitUntil(
        [&] {
          PostMessageA(host.Window(), WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
          return service.Requests().size() >= before + 3;
        },
        std::chrono::seconds(60), std::chrono::milliseconds(100)));
    host.Settle();
    EXPECT_EQ(Boxes(host), Texts(held));
    EXPECT_EQ(host.Text(IDC_LAST_UPDATED), "Last Updated: 08/12/2026 14:05");
    EXPECT_EQ(SettingsValue("LastUpdate"), snapshot);
    EXPECT_EQ(SettingsValue("RatesInfo"), info);
    EXPECT_EQ(LineTip(host), tip);
    EXPECT_TRUE(WaitForTrayTip(host.Window(), trayTip)) << ShellTips();
    EXPECT_FALSE(AskedForUnsignedRates());
    PostMessageA(host.Window(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(host.WaitForEvent(), 0);
  }
}

TEST_F(WindowSignedRatesTest, StoredDateGivesTheTipAtStartAndAnyOtherValueIsIgnored) {
  service.SetReply(CMD_GET_VERSION, {});  // offline: every connection closed at once
  const Bytes snapshot = SnapshotBytes(Rates(4.75f), SYSTEMTIME{2025, 5, 5, 9, 10, 0, 0, 0});
  const Bytes good = InfoBytes(20250509, "ECB");
  const std::string unknown = "Date of the rates unknown";
  const DWORD number = 20250509;
  struct Case {
    const char* name;
    Bytes value;
    DWORD type;
    bool withSnapshot;
    std::string tip;
  } cases[] = {
      {"8 bytes", good, REG_BINARY, true,
       Aged("Rates of 09/05/2025 from the European Central Bank", DaysBefore(2025, 5, 9))},
      {"without the snapshot it describes", good, REG_BINARY, false, unknown},
      {"7 bytes", Bytes(good.begin(), good.end() - 1), REG_BINARY, true, unknown},
      {"9 bytes",
       [&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }(),
       REG_BINARY, true, unknown},
      {"a DWORD", Bytes(reinterpret_cast<const BYTE*>(&number), reinterpret_cast<const BYTE*>(&number) + 4), REG_DWORD,
       true, unknown},
      {"8 bytes of another type", good, REG_QWORD, true, unknown},
      {"an unknown source", InfoBytes(20250509, "XYZ"), REG_BINARY, true, unknown},
      {"no day of the calendar", InfoBytes(20250230, "BNR"), REG_BINARY, true, unknown},
      {"none", {}, REG_NONE, true, unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearSettings();
    if (c.withSnapshot) SeedSnapshotValue(snapshot.data(), static_cast<DWORD>(snapshot.size()));
    if (c.type != REG_NONE) SeedSettingsValue("RatesInfo", c.value.data(), static_cast<DWORD>(c.value.size()), c.type);
    WindowHost host;
    ASSERT_TRUE(host.Window());
    EXPECT_EQ(LineTip(host), c.tip);
    // The tray icon's tip from the same stored date, before any refresh; without one it names
    // no date (the shell's tips of other programs' icons may be empty too, so it is not read).
    if (c.tip != unknown) {
      EXPECT_TRUE(WaitForTrayTip(host.Window(), TrayTip("09/05/2025", DaysBefore(2025, 5, 9)))) << ShellTips();
    }
    PostMessageA(host.Window(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(host.WaitForEvent(), 0);
  }
}

}  // namespace
