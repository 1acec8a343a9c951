// The whole program under Wine: orvane.exe and the real BrennikDll.dll in a program folder, the
// real registry of the prefix, and the fake rates service on the compiled-in port on loopback.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "fake_rates_service.h"
#include "launcher_harness.h"
#include "net/protocol.h"
#include "program_window.h"
#include "rates/display_format.h"
#include "rates/snapshot.h"
#include "registry_store.h"
#include "resource.h"
#include "tray_icon.h"
#include "update/update_signature.h"

namespace {

using namespace std::chrono_literals;

using Requests = std::vector<std::vector<std::uint8_t>>;

const std::vector<std::uint8_t> VERSION_REQUEST = {3, 0, 0, 0, 1, 0, 0, 0};
const std::vector<std::uint8_t> SIZE_REQUEST = {4, 0, 0, 0, 1, 0, 0, 0};
const std::vector<std::uint8_t> FILE_REQUEST = {2, 0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> RATES_REQUEST = ProgramRatesRequest();

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanServeProgramRates()) GTEST_SKIP() << "this build has only the public half of its rates key";
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    folder.Place(ORVANE_LIBRARY, "BrennikDll.dll");
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software"); }

  void ServeRates() {
    service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    ServeProgramRates(service, ServiceRates());
  }

  void OfferUpdate(const std::vector<std::uint8_t>& file, FakeReply transfer) {
    service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
    service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(static_cast<std::int32_t>(file.size()))});
    service.SetReply(CMD_GET_UPDATE_FILE, std::move(transfer));
    ServeProgramRates(service, ServiceRates());
  }

  // The board of a started program, once it is on screen.
  HWND WaitForWindow(const LauncherProcess& process) { return WaitForRatesWindow(process.ProcessId()); }

  // True once the service has seen `count` connections and the whole request of each.
  bool WaitForRequests(std::size_t count) {
    return WaitUntil([&] {
      const Requests requests = service.Requests();
      return requests.size() >= count &&
             std::all_of(requests.begin(), requests.end(), [](const auto& r) { return r.size() == REQUEST_BYTES; });
    });
  }

  std::optional<RatesSnapshot> StoredSnapshot() {
    RegistryStore store(SETTINGS_COMPANY, SETTINGS_APPLICATION);
    RatesSnapshot snapshot;
    if (!LoadRatesSnapshot(store, snapshot)) return std::nullopt;
    return snapshot;
  }

  ProgramFolder folder;
  FakeRatesService service{RATES_PORT};
};

// Seconds since 1601 of a broken-down time; its day of the week is not consulted.
std::int64_t Seconds(const SYSTEMTIME& time) {
  FILETIME file{};
  SystemTimeToFileTime(&time, &file);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) /
         10000000;
}

SYSTEMTIME FromSeconds(std::int64_t seconds) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * 10000000;
  const FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME time{};
  FileTimeToSystemTime(&file, &time);  // fills in the day of the week
  return time;
}

TEST_F(ProgramTest, FirstRefreshShowsStoresAndStampsTheServiceRates) {
  ServeRates();
  SYSTEMTIME before{};
  GetLocalTime(&before);
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRates(window, ServiceRates()));
  EXPECT_EQ(service.Requests(), (Requests{VERSION_REQUEST, RATES_REQUEST}));

  ASSERT_TRUE(WaitUntil([&] { return StoredSnapshot().has_value(); }));
  SYSTEMTIME after{};
  GetLocalTime(&after);
  const RatesSnapshot stored = *StoredSnapshot();
  EXPECT_EQ(stored.rates, ServiceRates());
  EXPECT_EQ(stored.lastUpdate.wMilliseconds, 0);
  // Taken while the program ran, in whole seconds: between the test's two looks at the clock,
  // however long the machine took.
  const SYSTEMTIME stamp{stored.lastUpdate.wYear,   stored.lastUpdate.wMonth,       stored.lastUpdate.wDayOfWeek,
                         stored.lastUpdate.wDay,    stored.lastUpdate.wHour,        stored.lastUpdate.wMinute,
                         stored.lastUpdate.wSecond, stored.lastUpdate.wMilliseconds};
  EXPECT_LE(Seconds(before), Seconds(stamp));
  EXPECT_LE(Seconds(stamp), Seconds(after));
  EXPECT_TRUE(WaitUntil([&] { return ControlText(window, IDC_LAST_UPDATED) == FormatLastUpdated(stored.lastUpdate); }));

  LauncherProcess second(folder);
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_EQ(second.Messages(), Texts{});
  EXPECT_TRUE(IsWindowVisible(window));  // the first one goes on undisturbed

  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
  EXPECT_EQ(program.Messages(), Texts{});
}

// 01:00 UTC on the last Sunday of `month`: when summer time starts (March) and ends (October)
// in the European Union.
std::int64_t EuropeanSwitch(WORD year, WORD month) {
  const std::int64_t firstOfNext = Seconds(SYSTEMTIME{year, static_cast<WORD>(month + 1), 0, 1, 1, 0, 0, 0});
  const SYSTEMTIME lastDay = FromSeconds(firstOfNext - 86400);
  return firstOfNext - 86400 * (1 + lastDay.wDayOfWeek);
}

int BucharestOffsetMinutes(const SYSTEMTIME& utc) {
  const std::int64_t now = Seconds(utc);
  const bool summer = now >= EuropeanSwitch(utc.wYear, 3) && now < EuropeanSwitch(utc.wYear, 10);
  return summer ? 180 : 120;
}

// Under Wine the zone comes from the TZ variable of the whole run, as Linux users set it, and
// Windows programs see the same variable; ctest runs this once for each zone of the table. Kiritimati
// (UTC+14) is on another day than UTC for most of the day, so a stamp taken in UTC also gets the day
// of the week wrong there.
TEST_F(ProgramTest, StampIsTheLocalTimeOfTheZoneThatTheTzVariableNames) {
  struct Zone {
    const char* name;
    int (*offsetMinutes)(const SYSTEMTIME& utc);
  } zones[] = {{"Europe/Bucharest", BucharestOffsetMinutes},
               {"Asia/Kolkata", [](const SYSTEMTIME&) { return 330; }},
               {"Pacific/Kiritimati", [](const SYSTEMTIME&) { return 840; }}};
  const char* tz = std::getenv("TZ");
  const auto zone =
      std::find_if(std::begin(zones), std::end(zones), [&](const Zone& z) { return tz && std::string(tz) == z.name; });
  if (zone == std::end(zones)) GTEST_SKIP() << "runs with TZ set to one of the zones of its table";

  ServeRates();
  const auto localNow = [&] {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    return FromSeconds(Seconds(utc) + 60 * zone->offsetMinutes(utc));
  };
  const SYSTEMTIME before = localNow();
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return StoredSnapshot().has_value(); }));
  const SYSTEMTIME local = localNow();
  const SystemTime stamp = StoredSnapshot()->lastUpdate;
  const SYSTEMTIME stored{stamp.wYear, stamp.wMonth,  stamp.wDayOfWeek, stamp.wDay,
                          stamp.wHour, stamp.wMinute, stamp.wSecond,    stamp.wMilliseconds};
  std::printf("TZ=%s: stored %04d-%02d-%02d %02d:%02d:%02d (day of week %d), local time %02d:%02d:%02d\n", tz,
              stored.wYear, stored.wMonth, stored.wDay, stored.wHour, stored.wMinute, stored.wSecond, stored.wDayOfWeek,
              local.wHour, local.wMinute, local.wSecond);
  // The zone's local time, taken between the test's two looks at it.
  EXPECT_LE(Seconds(before), Seconds(stored));
  EXPECT_LE(Seconds(stored), Seconds(local));
  EXPECT_EQ(stored.wDayOfWeek, FromSeconds(Seconds(stored)).wDayOfWeek);
  EXPECT_TRUE(WaitUntil([&] { return ControlText(window, IDC_LAST_UPDATED) == FormatLastUpdated(stamp); }));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(ProgramTest, SilentServiceLeavesTheSavedRatesAndTime) {
  RatesSnapshot saved;
  saved.rates = ServiceRates();
  saved.rates[0] = 5.0125f;
  RegistryStore store(SETTINGS_COMPANY, SETTINGS_APPLICATION);
  FixedClock clock(LocalTime{2024, 12, 13, 14, 5, 0});
  ASSERT_TRUE(SaveRatesSnapshot(store, clock, saved));
  // Every connection is accepted and closed without a word.
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRequests(2));  // version, then rates
  EXPECT_EQ(RateTexts(window), Formatted(saved.rates));
  EXPECT_EQ(ControlText(window, IDC_LAST_UPDATED), "Last Updated: 13/12/2024 14:05");
  EXPECT_EQ(StoredSnapshot()->lastUpdate, saved.lastUpdate);
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(ProgramTest, OfferedLibraryReplacesTheRunningOneWhichThenFetchesTheRates) {
  if (!ORVANE_BUILD_SIGNS_LIBRARIES)
    GTEST_SKIP() << "this build names a release key: its libraries are signed by the release, not here";
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  ASSERT_TRUE(next);
  ASSERT_TRUE(FindSignatureBlock(*next));
  OfferUpdate(*next, {*next});
  LauncherProcess program(folder);
  // The served library calls itself 1.2, so it takes the rates instead of updating again.
  ASSERT_TRUE(WaitForRequests(5));
  EXPECT_EQ(service.Requests(),
            (Requests{VERSION_REQUEST, SIZE_REQUEST, FILE_REQUEST, VERSION_REQUEST, RATES_REQUEST}));
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(WaitForRates(window, ServiceRates()));
  EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), next);
  EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll"));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
  EXPECT_EQ(program.Messages(), Texts{});
}

TEST_F(ProgramTest, RefusedDownloadKeepsTheOldLibraryAndFetchesTheRates) {
  const auto library = ReadFileBytes(ORVANE_LIBRARY);
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  const auto otherKey = ReadFileBytes(ORVANE_NEXT_LIBRARY_OTHER_KEY);
  ASSERT_TRUE(library && next && otherKey);
  std::vector<std::uint8_t> garbage(library->size(), 0xCC);
  const std::vector<std::uint8_t> truncated(library->begin(), library->begin() + library->size() / 2);
  const std::vector<std::uint8_t> unsignedCopy(next->begin(), next->end() - SIGNATURE_BLOCK_BYTES);
  std::vector<std::uint8_t> changed = *next;
  changed[changed.size() / 2] ^= 0x01;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> announced;
    FakeReply transfer;
  } cases[] = {
      {"garbage", garbage, {garbage}},
      {"truncated", *library, {truncated}},
      {"unsigned copy of the library", unsignedCopy, {unsignedCopy}},
      {"copy signed with another key", *otherKey, {*otherKey}},
      {"signed library with one byte changed", changed, {changed}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brennik Software");
    const std::size_t before = service.Requests().size();
    OfferUpdate(c.announced, c.transfer);
    LauncherProcess program(folder);
    HWND window = WaitForWindow(program);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitForRates(window, ServiceRates()));
    const Requests requests = service.Requests();
    EXPECT_EQ(Requests(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()),
              (Requests{VERSION_REQUEST, SIZE_REQUEST, FILE_REQUEST, RATES_REQUEST}));
    EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), library);
    // Nothing of a refused download is left for the launcher to take.
    EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll"));
    EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll.part"));
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(program.Messages(), Texts{});
  }
}

TEST_F(ProgramTest, ExitDuringAStalledDownloadEndsAtOnce) {
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  ASSERT_TRUE(next);
  const std::vector<std::uint8_t> part(next->begin(), next->begin() + 1000);
  OfferUpdate(*next, {part, {}, true});  // a thousand bytes, then silence
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRequests(3));
  const auto exitPressed = std::chrono::steady_clock::now();
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  // A worker left to its 30-second receive time-out would miss these bounds by far; the time it
  // took is recorded, not judged, since a loaded machine may be slow.
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 10s));
  const auto gone =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - exitPressed);
  RecordProperty("window_gone_ms", static_cast<int>(gone.count()));
  std::printf("window gone %lld ms after Exit\n", static_cast<long long>(gone.count()));
  EXPECT_EQ(program.WaitForExit(10000), 0u);
  EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), ReadFileBytes(ORVANE_LIBRARY));
  // The download that Exit cut short is gone with the window.
  EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll"));
  EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll.part"));
}

// Waits until the window's thread has handled everything posted to it so far: posted messages
// are handled in order, and a double click on the tray icon posted behind them hides the window
// (a second one shows it again).
bool HandledSoFar(HWND window) {
  PostMessageA(window, WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK);
  if (!WaitUntil([&] { return !IsWindowVisible(window); })) return false;
  PostMessageA(window, WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK);
  return WaitUntil([&] { return IsWindowVisible(window) != FALSE; });
}

TEST_F(ProgramTest, UpdateNowTwiceQuicklyRunsOneRefresh) {
  ServeRates();
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRates(window, ServiceRates()));
  ASSERT_EQ(service.Requests().size(), 2u);
  // The version answer is held back until both clicks have been handled, so the first click's
  // refresh is still busy for the second however slow the machine; its rates are new, so that
  // its end shows.
  const auto release = std::make_shared<std::atomic<bool>>(false);
  FakeReply held(FloatBytes(CLIENT_VERSION));
  held.heldUntil = release;
  service.SetReply(CMD_GET_VERSION, held);
  RateTable next = ServiceRates();
  for (float& rate : next) rate += 0.25f;
  ServeProgramRates(service, next);
  HWND button = GetDlgItem(window, IDC_UPDATE_NOW);
  const auto click = [&] {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  };
  click();
  click();
  ASSERT_TRUE(WaitForRequests(3));
  ASSERT_TRUE(HandledSoFar(window));
  service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
  *release = true;
  ASSERT_TRUE(WaitForRates(window, next));
  ASSERT_TRUE(HandledSoFar(window));

  // A marker refresh, told of a version 1.2 of no size: it asks for the size as well, which no
  // refresh before it did. It is clicked for until it starts (a click while a refresh still ends
  // is dropped). A refresh that the second click had queued would have started as the first
  // ended, before the marker, and shows as one more version and rates request before it.
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(0)});
  const auto markerSeen = [&] {
    const Requests requests = service.Requests();
    return std::find(requests.begin(), requests.end(), SIZE_REQUEST) != requests.end();
  };
  for (int press = 0; press < 120 && !markerSeen(); ++press) {
    click();
    WaitUntil(markerSeen, 500ms);
  }
  ASSERT_TRUE(markerSeen());
  const Requests requests = service.Requests();
  const auto marker = std::find(requests.begin(), requests.end(), SIZE_REQUEST);
  EXPECT_EQ(Requests(requests.begin(), marker),
            (Requests{VERSION_REQUEST, RATES_REQUEST, VERSION_REQUEST, RATES_REQUEST, VERSION_REQUEST}));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

std::size_t Downloads(const Requests& requests) {
  return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), FILE_REQUEST));
}

// Posted messages are handled in order: once the refresh that a later "Update Now" starts has
// asked for the rates, everything posted before it has been handled. A press while the last
// refresh still ends is dropped, so it presses again until one runs.
void ClickUpdateNowAndWait(HWND window, FakeRatesService& service) {
  const std::size_t before = service.Requests().size();
  const auto refreshed = [&] {
    const Requests requests = service.Requests();
    return requests.size() >= before + 2 && requests.back() == RATES_REQUEST;
  };
  for (int press = 0; press < 120 && !refreshed(); ++press) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_UPDATE_NOW)));
    WaitUntil(refreshed, 500ms);
  }
  EXPECT_TRUE(refreshed());
}

TEST_F(ProgramTest, UpdateReadyPostedByAnotherProgramIsIgnored) {
  ServeRates();
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRates(window, ServiceRates()));
  // An unsigned library waits under the update's name, as a hostile program would leave it.
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  ASSERT_TRUE(next);
  WriteFileBytes(folder.File("BrennikDllUpdate.dll"),
                 std::vector<std::uint8_t>(next->begin(), next->end() - SIGNATURE_BLOCK_BYTES));
  PostMessageA(window, 0x8001, 0, 0);  // WM_UPDATE_READY, from this process
  ClickUpdateNowAndWait(window, service);
  EXPECT_TRUE(IsWindow(window)) << "the window ended on a message it did not ask for";
  EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), ReadFileBytes(ORVANE_LIBRARY));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
  EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), ReadFileBytes(ORVANE_LIBRARY));
  EXPECT_EQ(program.Messages(), Texts{});
}

TEST_F(ProgramTest, UpdateNowAsTheUpdateIsPostedLeavesTheVerifiedLibraryToBeSwapped) {
  if (!ORVANE_BUILD_SIGNS_LIBRARIES)
    GTEST_SKIP() << "this build names a release key: its libraries are signed by the release, not here";
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  ASSERT_TRUE(next);
  // The file comes slowly, so that the clicks below fall before, at and after its last byte.
  std::vector<std::size_t> pieces(20, next->size() / 20 + 1);
  FakeReply slow(*next, pieces);
  slow.pieceDelay = 50ms;
  OfferUpdate(*next, slow);
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitForRequests(3));
  // Any second download from here on would get a cut file.
  service.SetReply(CMD_GET_UPDATE_FILE, {std::vector<std::uint8_t>(next->begin(), next->begin() + 1000)});
  int clicks = 0;
  while (IsWindow(window) && clicks < 2000) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_UPDATE_NOW)));
    ++clicks;
    std::this_thread::sleep_for(1ms);
  }
  std::printf("%d clicks of \"Update Now\" while the first library ran\n", clicks);
  // The new library (1.2) takes the rates rather than the offer of its own version.
  HWND next_window = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    next_window = FindRatesWindow(program.ProcessId());
    return next_window != nullptr && next_window != window;
  }));
  EXPECT_TRUE(WaitForRates(next_window, ServiceRates()));
  EXPECT_EQ(Downloads(service.Requests()), 1u);
  EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), next) << "the swapped library is the verified one";
  PostMessageA(next_window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
  EXPECT_EQ(program.Messages(), Texts{});
}

TEST_F(ProgramTest, OffersTheRunningLibraryMustNotTakeAreNotDownloadedAgain) {
  const auto library = ReadFileBytes(ORVANE_LIBRARY);  // signed, and 1.1 by its own resource
  const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
  ASSERT_TRUE(library && next);
  struct Case {
    const char* name;
    float offered;
    std::vector<std::uint8_t> file;
    std::size_t downloads;  // over the first refresh and three presses of "Update Now"
  } cases[] = {
      {"1.0, an older version", 1.0f, *next, 0},
      {"1.1, the running version", 1.1f, *next, 0},
      {"1.2 serving the signed 1.1 library", 1.2f, *library, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = Downloads(service.Requests());
    OfferUpdate(c.file, {c.file});
    service.SetReply(CMD_GET_VERSION, {FloatBytes(c.offered)});
    LauncherProcess program(folder);
    HWND window = WaitForWindow(program);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitForRates(window, ServiceRates()));
    for (int press = 0; press < 3; ++press) ClickUpdateNowAndWait(window, service);
    const std::size_t downloads = Downloads(service.Requests()) - before;
    std::printf("%s: %zu downloads\n", c.name, downloads);
    EXPECT_EQ(downloads, c.downloads);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(ReadFileBytes(folder.File("BrennikDll.dll")), library);
    EXPECT_FALSE(folder.Has("BrennikDllUpdate.dll"));
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(program.Messages(), Texts{});
  }
}

TEST_F(ProgramTest, TrayDoubleClickHidesAndRestoresOtherClicksDoNothing) {
  ServeRates();
  LauncherProcess program(folder);
  HWND window = WaitForWindow(program);
  ASSERT_NE(window, nullptr);
  RECT before{};
  GetWindowRect(window, &before);
  auto tray = [&](LPARAM mouse) { SendMessageA(window, WM_TRAYNOTIFY, 0, mouse); };
  tray(WM_LBUTTONDBLCLK);
  EXPECT_FALSE(IsWindowVisible(window));
  for (LPARAM ignored : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP}) tray(ignored);
  EXPECT_FALSE(IsWindowVisible(window));
  tray(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(window));
  for (LPARAM ignored : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP}) tray(ignored);
  EXPECT_TRUE(IsWindowVisible(window));
  RECT after{};
  GetWindowRect(window, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

}  // namespace
