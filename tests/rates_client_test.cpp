#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "fake_rates_service.h"
#include "net/rates_client.h"
#include "test_support.h"

namespace {

const std::vector<std::uint8_t> RATES_REQUEST = {1, 0, 0, 0, 1, 0, 0, 0};
const std::vector<std::uint8_t> SIGNED_RATES_REQUEST = {5, 0, 0, 0, 1, 0, 0, 0};

// A rates reply: EUR 3.5 (00 00 60 40), USD the float nearest 2.8 (33 33 33 40), then i + 0.5.
std::vector<std::uint8_t> RatesReply(std::size_t size = 72) {
  std::vector<std::uint8_t> bytes = RatesBytes(RisingRates(0.5f));
  const std::uint8_t eurUsd[] = {0x00, 0x00, 0x60, 0x40, 0x33, 0x33, 0x33, 0x40};
  std::copy(std::begin(eurUsd), std::end(eurUsd), bytes.begin());
  bytes.resize(size, 0xEE);
  return bytes;
}

// One reply the fake service gives, and what the client must make of it.
struct ReplyCase {
  const char* name;
  FakeReply reply;
  bool ok;
  ClientError error;
};

class RatesClientTest : public ::testing::Test {
 protected:
  ClientConfig Config(std::uint16_t port) {
    ClientConfig config;
    config.host = "localhost";
    config.port = port;
    config.connectTimeout = Milliseconds(2000);
    config.receiveTimeout = Milliseconds(2000);
    return config;
  }

  // Only silence has to wait for the time-out, so only a case that expects it waits briefly; a
  // reply that comes gets the whole default, however busy the machine.
  ClientConfig ConfigExpecting(ClientError error) {
    ClientConfig config = Config(service.Port());
    if (error == ClientError::TimedOut) config.receiveTimeout = Milliseconds(300);
    return config;
  }

  FakeRatesService service;
  CountingSockets sockets;
};

TEST_F(RatesClientTest, FetchRatesDecodesTheLittleEndianReply) {
  service.SetReply(CMD_GET_RATES, {RatesReply()});
  RatesClient client(sockets, Config(service.Port()));
  RateTable rates{};
  ASSERT_TRUE(client.FetchRates(rates));
  EXPECT_EQ(rates[0], 3.5f);
  EXPECT_EQ(rates[1], 2.8f);
  EXPECT_EQ(rates[17], 17.5f);
  EXPECT_EQ(service.Requests(), (std::vector<std::vector<std::uint8_t>>{RATES_REQUEST}));
  EXPECT_EQ(sockets.resolves, 1);  // the name is resolved on every connection, once
  EXPECT_EQ(sockets.opens, 1);
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(RatesClientTest, FetchRatesAssemblesReplyDeliveredInPieces) {
  const std::vector<std::vector<std::size_t>> piecings = {{1, 40, 31}, {72}, {8, 8, 8, 8, 8, 8, 8, 8, 8}};
  for (const auto& pieces : piecings) {
    service.SetReply(CMD_GET_RATES, {RatesReply(), pieces});
    RatesClient client(sockets, Config(service.Port()));
    RateTable rates{};
    ASSERT_TRUE(client.FetchRates(rates));
    EXPECT_EQ(rates[0], 3.5f);
    EXPECT_EQ(rates[17], 17.5f);
  }
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(RatesClientTest, ShortOrSurplusRepliesAndSilentServices) {
  const ReplyCase cases[] = {
      {"71 bytes then close", {RatesReply(71)}, false, ClientError::ShortReply},
      {"nothing then close", {{}}, false, ClientError::ShortReply},
      {"100 bytes", {RatesReply(100)}, true, ClientError::None},
      {"71 bytes then silence", {RatesReply(71), {}, true}, false, ClientError::TimedOut},
  };
  for (const auto& c : cases) {
    service.SetReply(CMD_GET_RATES, c.reply);
    RatesClient client(sockets, ConfigExpecting(c.error));
    RateTable rates{};
    rates[0] = 9.0f;
    EXPECT_EQ(client.FetchRates(rates), c.ok) << c.name;
    EXPECT_EQ(client.LastError(), c.error) << c.name;
    EXPECT_EQ(rates[0], c.ok ? 3.5f : 9.0f) << c.name;  // a failed fetch leaves the rates as they were
    EXPECT_EQ(rates[17], c.ok ? 17.5f : 0.0f) << c.name;
  }
  EXPECT_EQ(service.Requests().size(), std::size(cases));
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(RatesClientTest, SignedRecordIsExactly160BytesThenTheClose) {
  std::vector<std::uint8_t> record(RATES_RECORD_BYTES);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const auto sized = [&](std::size_t size) {
    std::vector<std::uint8_t> bytes = record;
    bytes.resize(size, 0xEE);
    return bytes;
  };
  const ReplyCase cases[] = {
      {"160 bytes then close", {record}, true, ClientError::None},
      {"160 bytes in pieces then close", {record, {1, 95, 64}}, true, ClientError::None},
      {"159 bytes then close", {sized(159)}, false, ClientError::ShortReply},
      {"nothing then close", {{}}, false, ClientError::ShortReply},
      {"161 bytes", {sized(161)}, false, ClientError::LongTransfer},
      {"a second record after the first", {sized(320)}, false, ClientError::LongTransfer},
      {"one byte more, sent apart", {sized(161), {160, 1}}, false, ClientError::LongTransfer},
      {"160 bytes then silence", {record, {}, true}, false, ClientError::TimedOut},
  };
  for (const auto& c : cases) {
    service.SetReply(CMD_GET_SIGNED_RATES, c.reply);
    RatesClient client(sockets, ConfigExpecting(c.error));
    RatesRecordBytes fetched{};
    fetched.fill(0x55);
    EXPECT_EQ(client.FetchRatesRecord(fetched), c.ok) << c.name;
    EXPECT_EQ(client.LastError(), c.error) << c.name;
    // A refused reply leaves the record as it was.
    EXPECT_EQ(std::vector<std::uint8_t>(fetched.begin(), fetched.end()),
              c.ok ? record : std::vector<std::uint8_t>(RATES_RECORD_BYTES, 0x55))
        << c.name;
  }
  EXPECT_EQ(service.Requests(), std::vector<std::vector<std::uint8_t>>(std::size(cases), SIGNED_RATES_REQUEST));
  EXPECT_TRUE(sockets.AllClosedOnce());
}

TEST_F(RatesClientTest, SlowDripEndsAtTheRepliesDeadline) {
  struct Case {
    const char* name;
    std::int32_t command;
    std::size_t bytes;
  } cases[] = {{"rates", CMD_GET_RATES, 72}, {"version", CMD_GET_VERSION, 4}, {"size", CMD_GET_UPDATE_SIZE, 4}};
  for (const auto& c : cases) {
    FakeReply drip(RatesReply(c.bytes), std::vector<std::size_t>(c.bytes, 1));
    drip.pieceDelay = std::chrono::milliseconds(500);
    service.SetReply(c.command, drip);
    ClientConfig config = Config(service.Port());
    config.receiveTimeout = Milliseconds(60000);  // every byte comes well within it
    config.replyDeadline = Milliseconds(700);
    RatesClient client(sockets, config);
    const auto started = std::chrono::steady_clock::now();
    RateTable rates{};
    float version = 0;
    std::int32_t size = 0;
    const bool ok = c.command == CMD_GET_RATES     ? client.FetchRates(rates)
                    : c.command == CMD_GET_VERSION ? client.FetchVersion(version)
                                                   : client.FetchUpdateSize(size);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("%s drip ended after %lld ms (deadline 700 ms)\n", c.name, static_cast<long long>(took.count()));
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(client.LastError(), ClientError::TimedOut) << c.name;
  }
  EXPECT_TRUE(sockets.AllClosedOnce());
}

// A name look-up that nothing can cancel, held until the test lets it go.
std::atomic<bool> g_lookupReleased{false};
std::atomic<int> g_lookupsBegun{0};
std::atomic<int> g_lookupsEnded{0};
std::optional<Ipv4Address> HangingLookup(const std::string&) {
  ++g_lookupsBegun;
  WaitUntil([] { return g_lookupReleased.load(); }, std::chrono::seconds(120));
  ++g_lookupsEnded;
  return std::nullopt;
}

TEST(RatesClientLookUp, AbortEndsAHangingLookUpWithoutWaitingForIt) {
  g_lookupReleased = false;
  g_lookupsBegun = 0;
  g_lookupsEnded = 0;
  const auto sockets = MakePlatformSockets(HangingLookup);
  ClientConfig config;
  config.host = "hangs.example";
  RatesClient client(*sockets, config);
  std::atomic<bool> fetched{true};
  std::thread worker([&] {
    RateTable rates{};
    fetched = client.FetchRates(rates);
  });
  EXPECT_TRUE(WaitUntil([] { return g_lookupsBegun.load() == 1; }));
  const auto aborted = std::chrono::steady_clock::now();
  client.Abort();
  worker.join();  // without the detached look-up this would wait for the release below
  const auto joined = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - aborted);
  std::printf("worker joined %lld us after Abort, the look-up still hanging\n", static_cast<long long>(joined.count()));
  EXPECT_FALSE(fetched);
  EXPECT_EQ(client.LastError(), ClientError::Unresolved);
  EXPECT_EQ(g_lookupsEnded, 0) << "the join waited for the look-up";
  g_lookupReleased = true;
  // The helper finishes on its own and drops its result into the state it shares.
  EXPECT_TRUE(WaitUntil([] { return g_lookupsEnded.load() == 1; }));
}

TEST_F(RatesClientTest, RefusedConnectionClosesItsSocket) {
  RatesClient client(sockets, Config(UnusedPort()));
  RateTable rates{};
  EXPECT_FALSE(client.FetchRates(rates));
  EXPECT_EQ(client.LastError(), ClientError::Unreachable);
  EXPECT_EQ(sockets.opens, 1);
  EXPECT_EQ(sockets.closeCalls, 1);
}

TEST_F(RatesClientTest, UnresolvableHostCreatesNoSocket) {
  ClientConfig config = Config(service.Port());
  config.host = "no-such-host.invalid";
  RatesClient client(sockets, config);
  RateTable rates{};
  EXPECT_FALSE(client.FetchRates(rates));
  EXPECT_EQ(client.LastError(), ClientError::Unresolved);
  EXPECT_EQ(sockets.resolves, 1);
  EXPECT_EQ(sockets.opens, 0);
  EXPECT_EQ(sockets.closeCalls, 0);
}

TEST_F(RatesClientTest, ReceiveAllReportsWhatArrivedBeforeTheClose) {
  std::vector<std::uint8_t> tenBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  service.SetReply(CMD_GET_UPDATE_FILE, {tenBytes});
  RatesClient client(sockets, Config(service.Port()));
  ASSERT_TRUE(client.Connect());
  const Request request = EncodeRequest(CMD_GET_UPDATE_FILE, 0);
  ASSERT_TRUE(client.SendAll(request.data(), REQUEST_BYTES));
  std::vector<std::uint8_t> buffer(4096, 0);
  int count = -1;
  EXPECT_FALSE(client.ReceiveAll(buffer.data(), 4096, &count));
  EXPECT_EQ(count, 10);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 10), tenBytes);
  EXPECT_EQ(buffer[10], 0);
}

TEST_F(RatesClientTest, AbortEndsAWaitAtOnce) {
  service.SetReply(CMD_GET_RATES, {{}, {}, true});
  ClientConfig config = Config(service.Port());
  config.receiveTimeout = Milliseconds(120000);  // without the abort the test would hang
  RatesClient client(sockets, config);
  std::atomic<std::chrono::steady_clock::rep> aborted{0};
  std::thread stopper([&] {
    while (service.Requests().empty() || service.Requests()[0].size() < 8) std::this_thread::yield();
    aborted = std::chrono::steady_clock::now().time_since_epoch().count();
    client.Abort();
  });
  RateTable rates{};
  EXPECT_FALSE(client.FetchRates(rates));
  const auto ended = std::chrono::steady_clock::now().time_since_epoch().count();
  stopper.join();
  // Recorded, not judged: a loaded machine may be slow to run the woken thread.
  const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::duration(ended - aborted.load()));
  RecordProperty("receive_ended_us", static_cast<int>(waited.count()));
  std::printf("receive ended %lld us after Abort\n", static_cast<long long>(waited.count()));
  EXPECT_EQ(client.LastError(), ClientError::ReceiveFailed);
  EXPECT_TRUE(sockets.AllClosedOnce());
  EXPECT_FALSE(client.FetchRates(rates));  // and every later command
  EXPECT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(client.LastError(), ClientError::Unresolved) << "not even the name is looked up again";
}

TEST_F(RatesClientTest, VersionAndSizeQueries) {
  service.SetReply(CMD_GET_VERSION, {{0xCD, 0xCC, 0x8C, 0x3F}});
  service.SetReply(CMD_GET_UPDATE_SIZE, {Int32Bytes(-5)});
  RatesClient client(sockets, Config(service.Port()));
  float version = 0;
  std::int32_t size = 0;
  ASSERT_TRUE(client.FetchVersion(version));
  ASSERT_TRUE(client.FetchUpdateSize(size));
  EXPECT_EQ(version, CLIENT_VERSION);
  EXPECT_EQ(size, -5);
  EXPECT_EQ(service.Requests(),
            (std::vector<std::vector<std::uint8_t>>{{3, 0, 0, 0, 1, 0, 0, 0}, {4, 0, 0, 0, 1, 0, 0, 0}}));
}

}  // namespace
