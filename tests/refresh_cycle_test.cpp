#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fake_rates_service.h"
#include "rates/display_format.h"
#include "rates/snapshot.h"
#include "refresh/refresh_cycle.h"
#include "test_signing.h"
#include "test_support.h"

namespace {

// Records what the window would be told, in order, and what the converter's table held then.
class RecordingView final : public RefreshView {
 public:
  explicit RecordingView(const SharedRates& rates, const MemoryStore& store) : m_rates(rates), m_store(store) {}
  void ShowRates(const RateTable& rates) override {
    events.push_back("rates " + FormatRate(rates[0]) + " table " + FormatRate(m_rates.Load()[0]) + " stored " +
                     std::to_string(m_store.values.size()));
    if (during) during();
  }
  void ShowLastUpdated(const SystemTime& time) override {
    events.push_back(FormatLastUpdated(time) + " table " + FormatRate(m_rates.Load()[0]) + " stored " +
                     std::to_string(m_store.values.size()));
  }
  void UpdateReady() override { events.push_back("update ready"); }
  void ShowRatesInfo(const RatesInfo& info) override {
    events.push_back("info " + RatesLineTip(info, std::nullopt) + " stored " + std::to_string(m_store.values.size()));
  }

  std::vector<std::string> events;
  std::function<void()> during;

 private:
  const SharedRates& m_rates;
  const MemoryStore& m_store;
};

class RefreshCycleTest : public ::testing::Test {
 protected:
  RefreshCycleTest() : view(rates, store) {
    config.host = "localhost";
    config.port = service.Port();
    config.receiveTimeout = Milliseconds(2000);
    config.libraryPath = dir.File("BrennikDll.dll");
    config.updateKey = TEST_UPDATE_KEY.point;
    service.SetReply(CMD_GET_VERSION, {FloatBytes(CLIENT_VERSION)});
    service.SetReply(CMD_GET_RATES, {RatesBytes(RisingRates(4.5f))});
  }

  RefreshOutcome Refresh() {
    RatesClient client(sockets, config);
    return RunRefresh({gate, client, rates, store, clock, view});
  }

  FakeRatesService service;
  CountingSockets sockets;
  TempDir dir;
  ClientConfig config;
  // Whether a refresh could start now.
  bool GateIsFree() {
    if (!gate.TryBegin()) return false;
    gate.End();
    return true;
  }

  RefreshGate gate;
  SharedRates rates;
  MemoryStore store;
  FixedClock clock{LocalTime{2026, 12, 9, 10, 20, 30}};
  RecordingView view;
};

TEST_F(RefreshCycleTest, RefreshShowsTakesStoresAndStampsInThatOrder) {
  EXPECT_EQ(Refresh(), RefreshOutcome::Refreshed);
  EXPECT_EQ(view.events, (std::vector<std::string>{"rates 4.50000 table 0.00000 stored 0",
                                                   "Last Updated: 09/12/2026 10:20 table 4.50000 stored 1"}));
  RatesSnapshot stored;
  ASSERT_TRUE(LoadRatesSnapshot(store, stored));
  EXPECT_EQ(stored.rates[17], 21.5f);
  EXPECT_EQ(stored.lastUpdate.wHour, 10);
  EXPECT_TRUE(GateIsFree());
  EXPECT_EQ(service.Requests().size(), 2u);  // version, then rates
}

TEST_F(RefreshCycleTest, FailedFetchChangesNothing) {
  service.SetReply(CMD_GET_RATES, {std::vector<std::uint8_t>(71, 1)});
  rates.Store(RateTable{1.0f});
  EXPECT_EQ(Refresh(), RefreshOutcome::FetchFailed);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(store.values.empty());
  EXPECT_EQ(rates.Load()[0], 1.0f);
  EXPECT_TRUE(GateIsFree());
}

TEST_F(RefreshCycleTest, UnreachableServiceChangesNothing) {
  config.port = UnusedPort();
  EXPECT_EQ(Refresh(), RefreshOutcome::FetchFailed);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(store.values.empty());
}

TEST_F(RefreshCycleTest, DownloadedUpdateEndsTheRunWithoutRates) {
  const auto image = SignedLibraryImage(6000);
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(6000)});
  service.SetReply(CMD_GET_UPDATE_FILE, {image});
  EXPECT_EQ(Refresh(), RefreshOutcome::UpdateTaken);
  EXPECT_EQ(view.events, (std::vector<std::string>{"update ready"}));
  EXPECT_EQ(service.Requests().size(), 3u);
  EXPECT_EQ(ReadFileBytes(dir.File("BrennikDllUpdate.dll")), image);
  EXPECT_EQ(gate.WaitingUpdate(), 1.2f);
}

TEST_F(RefreshCycleTest, OnceAnUpdateWaitsNoRefreshStartsAndTheFileStaysAsVerified) {
  const auto image = SignedLibraryImage(6000);
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(6000)});
  service.SetReply(CMD_GET_UPDATE_FILE, {image});
  ASSERT_EQ(Refresh(), RefreshOutcome::UpdateTaken);
  // Another offer, a cut one, as a timer tick or "Update Now" would meet it right after.
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.3f)});
  service.SetReply(CMD_GET_UPDATE_FILE, {std::vector<std::uint8_t>(image.begin(), image.begin() + 100)});
  EXPECT_EQ(Refresh(), RefreshOutcome::Dropped);
  EXPECT_EQ(Refresh(), RefreshOutcome::Dropped);
  EXPECT_EQ(service.Requests().size(), 3u);
  EXPECT_EQ(ReadFileBytes(dir.File("BrennikDllUpdate.dll")), image);
  EXPECT_FALSE(GateIsFree());
  EXPECT_EQ(gate.WaitingUpdate(), 1.2f);
}

TEST_F(RefreshCycleTest, FailedDownloadGoesOnToFetchTheRates) {
  service.SetReply(CMD_GET_VERSION, {FloatBytes(1.2f)});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(6000)});
  service.SetReply(CMD_GET_UPDATE_FILE, {std::vector<std::uint8_t>(6000, 0x90)});  // not a library
  EXPECT_EQ(Refresh(), RefreshOutcome::Refreshed);
  EXPECT_EQ(view.events.size(), 2u);
  EXPECT_EQ(service.Requests().size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("BrennikDllUpdate.dll")));
}

TEST_F(RefreshCycleTest, StartWhileARunIsInProgressIsDropped) {
  RefreshOutcome second = RefreshOutcome::Refreshed;
  std::size_t connectionsDuringFirst = 0;
  bool started = false;
  view.during = [&] {
    if (std::exchange(started, true)) return;
    connectionsDuringFirst = service.Requests().size();
    RatesClient client(sockets, config);
    second = RunRefresh({gate, client, rates, store, clock, view});
  };
  EXPECT_EQ(Refresh(), RefreshOutcome::Refreshed);
  EXPECT_EQ(second, RefreshOutcome::Dropped);
  EXPECT_EQ(service.Requests().size(), connectionsDuringFirst);  // the dropped start made none
  EXPECT_EQ(Refresh(), RefreshOutcome::Refreshed);               // and the flag is free again
}

// A build with a rates key: the rates come only from records signed with it.
class SignedRefreshTest : public RefreshCycleTest {
 protected:
  SignedRefreshTest() {
    config.ratesKey = TEST_UPDATE_KEY.point;
    signedRates.key = TEST_UPDATE_KEY.point;
    service.SetReply(CMD_GET_SIGNED_RATES, {Record(20261208, 6.5f)});
  }

  static std::vector<std::uint8_t> Record(std::uint32_t date, float first, const TestKey& key = TEST_UPDATE_KEY) {
    RateTable table{};
    for (int i = 0; i < RATE_COUNT; ++i) table[i] = first + static_cast<float>(i);
    const auto bytes = SignedRatesRecordForTest({date, RatesBank::NationalBankOfRomania}, table, key);
    return {bytes.begin(), bytes.end()};
  }

  RefreshOutcome SignedRefresh() {
    RatesClient client(sockets, config);
    return RunRefresh({gate, client, rates, store, clock, view, &signedRates});
  }

  SignedRatesState signedRates;
};

TEST_F(SignedRefreshTest, RecordIsShownStoredWithItsDateAndTheUnsignedCommandNeverAsked) {
  EXPECT_EQ(SignedRefresh(), RefreshOutcome::Refreshed);
  EXPECT_EQ(view.events, (std::vector<std::string>{
                             "rates 6.50000 table 0.00000 stored 0",
                             "Last Updated: 09/12/2026 10:20 table 6.50000 stored 2",
                             "info Rates of 08/12/2026 from the National Bank of Romania stored 2",
                         }));
  EXPECT_EQ(store.values["LastUpdate/RatesInfo"],
            (std::vector<std::uint8_t>{0x58, 0x29, 0x35, 0x01, 'B', 'N', 'R', 0}));
  EXPECT_EQ(signedRates.held, (RatesInfo{20261208, RatesBank::NationalBankOfRomania}));
  const std::vector<std::vector<std::uint8_t>> asked = {{3, 0, 0, 0, 1, 0, 0, 0}, {5, 0, 0, 0, 1, 0, 0, 0}};
  EXPECT_EQ(service.Requests(), asked);
}

TEST_F(SignedRefreshTest, RefusedRecordsChangeNothingAndNeverFallBackToTheUnsignedRates) {
  auto tampered = Record(20261209, 7.5f);
  tampered[20] ^= 0x01;
  auto replayed = Record(20261207, 7.5f);  // genuine, but older than the rates held
  struct Case {
    const char* name;
    FakeReply reply;
    RefreshOutcome outcome;
  } cases[] = {
      {"signed with another key", {Record(20261209, 7.5f, OTHER_TEST_KEY)}, RefreshOutcome::RecordRefused},
      {"tampered", {tampered}, RefreshOutcome::RecordRefused},
      {"older than the rates held", {replayed}, RefreshOutcome::RecordRefused},
      {"cut short", {std::vector<std::uint8_t>(replayed.begin(), replayed.begin() + 159)}, RefreshOutcome::FetchFailed},
      {"closed without a reply", {}, RefreshOutcome::FetchFailed},
  };
  for (Case& c : cases) {
    ASSERT_EQ(SignedRefresh(), RefreshOutcome::Refreshed) << c.name;  // the rates of 8 December
    const auto before = store.values;
    view.events.clear();
    const std::size_t asked = service.Requests().size();
    service.SetReply(CMD_GET_SIGNED_RATES, c.reply);
    EXPECT_EQ(SignedRefresh(), c.outcome) << c.name;
    EXPECT_TRUE(view.events.empty()) << c.name;
    EXPECT_EQ(store.values, before) << c.name;
    EXPECT_EQ(rates.Load()[0], 6.5f) << c.name;
    EXPECT_EQ(signedRates.held->date, 20261208u) << c.name;
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), asked + 2) << c.name;
    EXPECT_EQ(requests.back()[0], CMD_GET_SIGNED_RATES) << c.name;
    service.SetReply(CMD_GET_SIGNED_RATES, {Record(20261208, 6.5f)});
  }
}

TEST_F(SignedRefreshTest, SameOrLaterDateIsTakenAndAFailedSnapshotWriteStoresNoDate) {
  signedRates.held = RatesInfo{20261208, RatesBank::NationalBankOfRomania};
  EXPECT_EQ(SignedRefresh(), RefreshOutcome::Refreshed);  // the same day again, ten minutes later
  service.SetReply(CMD_GET_SIGNED_RATES, {Record(20261209, 8.5f)});
  store.failWrites = true;
  EXPECT_EQ(SignedRefresh(), RefreshOutcome::Refreshed);
  EXPECT_EQ(rates.Load()[0], 8.5f);
  EXPECT_EQ(signedRates.held->date, 20261209u);  // held in memory: an older replay stays refused
  EXPECT_EQ(DecodeRatesInfo(store.values["LastUpdate/RatesInfo"])->date, 20261208u);
}

}  // namespace
