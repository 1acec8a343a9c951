#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "display_format.h"
#include "fake_rates_service.h"
#include "rates_snapshot.h"
#include "refresh_cycle.h"
#include "test_signing.h"
#include "test_support.h"

namespace {

std::vector<std::uint8_t> RatesBytes(float first) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < RATE_COUNT; ++i) {
    const auto rate = FloatBytes(first + static_cast<float>(i));
    bytes.insert(bytes.end(), rate.begin(), rate.end());
  }
  return bytes;
}

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
    service.SetReply(CMD_GET_RATES, {RatesBytes(4.5f)});
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

}  // namespace
