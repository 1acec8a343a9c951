// The library's side of an update, run in this process as the launcher runs it: which messages
// end the window for an update, what it tells the launcher, and what it never downloads.
// clang-format off
#include <winsock2.h>  // before windows.h, which the other headers bring
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_rates_service.h"
#include "net/protocol.h"
#include "program_window.h"
#include "rates/display_format.h"
#include "resource.h"
#include "test_support.h"
#include "window_host.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::uint8_t> FILE_REQUEST = {2, 0, 0, 0, 0, 0, 0, 0};
// The signed record where the build has a rates key, the unsigned rates otherwise.
const std::vector<std::uint8_t> RATES_REQUEST = ProgramRatesRequest();

// 4.5, 5.5, 6.5, ...: the first box shows "4.50000" once they are taken.
RateTable Rates() {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = 4.5f + static_cast<float>(i);
  return rates;
}

std::wstring Environment(const wchar_t* name) {
  wchar_t value[64] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 64);
  return length > 0 && length < 64 ? std::wstring(value, length) : std::wstring();
}

class WindowUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    SetEnvironmentVariableW(L"OrvaneUpdateVersion", nullptr);
    SetEnvironmentVariableW(L"OrvaneRefusedUpdates", nullptr);
  }
  void TearDown() override {
    ClearSettings();
    SetEnvironmentVariableW(L"OrvaneUpdateVersion", nullptr);
    SetEnvironmentVariableW(L"OrvaneRefusedUpdates", nullptr);
  }

  void OfferNextLibrary() {
    const auto next = ReadFileBytes(ORVANE_NEXT_LIBRARY);
    ASSERT_TRUE(next);
    nextLibrary = *next;
    service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
    service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(static_cast<std::int32_t>(next->size()))});
    service.SetReply(CMD_GET_UPDATE_FILE, {*next});
    ServeProgramRates(service, Rates());
  }

  std::size_t Downloads() const {
    const auto requests = service.Requests();
    return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), FILE_REQUEST));
  }

  FakeRatesService service{RATES_PORT};
  std::vector<std::uint8_t> nextLibrary;
};

TEST_F(WindowUpdateTest, UpdateReadyThatNoRefreshOfTheWindowSentIsIgnored) {
  if (!CanServeProgramRates()) GTEST_SKIP() << "this build has only the public half of its rates key";
  service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
  ServeProgramRates(service, Rates());
  WindowHost host;
  ASSERT_TRUE(host.Window());
  ASSERT_TRUE(WaitUntil([&] { return host.Text(IDC_RATE_FIRST) == "4.50000"; }));
  PostMessageA(host.Window(), 0x8001, 0, 0);  // WM_UPDATE_READY
  host.Settle();
  EXPECT_EQ(host.WaitForEvent(0), -1);
  EXPECT_TRUE(IsWindow(host.Window()));
  EXPECT_EQ(Environment(L"OrvaneUpdateVersion"), L"");
  PostMessageA(host.Item(IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_EQ(host.WaitForEvent(), 0);
}

TEST_F(WindowUpdateTest, FolderNamedOutsideTheAnsiCodePageTakesASignedUpdate) {
  if (!ORVANE_BUILD_SIGNS_LIBRARIES)
    GTEST_SKIP() << "this build names a release key: its libraries are signed by the release, not here";
  OfferNextLibrary();
  TempDir dir;
  // "Ș" (U+0218) is in no Windows ANSI code page: an ANSI path would have "?" in its place.
  const fs::path folder = dir.Path() / fs::path(u8"\u0218tefan Orvane");
  fs::create_directory(folder);
  fs::copy_file(ORVANE_LIBRARY, folder / "BrennikDll.dll");
  {
    WindowHost host(folder / "BrennikDll.dll");
    ASSERT_TRUE(host.Window());
    EXPECT_EQ(host.WaitForEvent(60000), 1);
    EXPECT_TRUE(host.Ended(10000));
  }
  EXPECT_EQ(ReadWholeFile(folder / "BrennikDllUpdate.dll"), nextLibrary);
  EXPECT_FALSE(fs::exists(folder / "BrennikDllUpdate.dll.part"));
  // What the launcher is told it swaps in.
  EXPECT_EQ(Environment(L"OrvaneUpdateVersion"), L"1.2");
}

TEST_F(WindowUpdateTest, VersionsTheLauncherRefusedAreNeverDownloaded) {
  if (!CanServeProgramRates()) GTEST_SKIP() << "this build has only the public half of its rates key";
  for (const wchar_t* refused : {L"1.2", L"1.3;1.2", L"*"}) {
    SCOPED_TRACE(testing::PrintToString(fs::path(refused).string()));
    ClearSettings();  // the boxes show the rates only once this run has fetched them
    OfferNextLibrary();
    SetEnvironmentVariableW(L"OrvaneRefusedUpdates", refused);
    const std::size_t before = Downloads();
    WindowHost host;
    ASSERT_TRUE(host.Window());
    // The refresh goes on to the rates, as it does when no update is offered.
    EXPECT_TRUE(WaitUntil([&] { return host.Text(IDC_RATE_FIRST) == "4.50000"; }));
    EXPECT_EQ(Downloads(), before);
    const auto requests = service.Requests();
    EXPECT_TRUE(!requests.empty() && requests.back() == RATES_REQUEST);
    PostMessageA(host.Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(host.WaitForEvent(), 0);
  }
}

}  // namespace
