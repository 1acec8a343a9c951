#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>

#include "net/rates_client.h"
#include "rates_xml.h"
#include "service_process.h"
#include "service_wire.h"
#include "test_signing.h"
#include "test_sockets.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;

const std::string FIXTURES = ORVANE_RATES_FIXTURES;

const std::string GOOD = FIXTURES + "/bnr-2021-05-05.xml";

// Which of two rates to believe is anybody's guess; such a file is refused.
std::string WithSecondEuroRate(std::string xml) {
  return xml.insert(xml.find("<Rate currency=\"USD\""), "<Rate currency=\"EUR\">5.1</Rate>");
}

TEST(ServiceBadInput, RequestsCutShortThenSilentAreClosedAtTheDeadline) {
  ServiceProcess service({"--rates", GOOD, "--request-timeout", "0.3"});
  ASSERT_TRUE(service.Listening());
  for (std::size_t length : {0, 1, 4, 7}) {
    const NativeSocket s = Dial(service.Port());
    ASSERT_NE(s, NATIVE_NO_SOCKET);
    const auto request = RequestBytes(CMD_GET_RATES, 1);
    ASSERT_TRUE(SendBytes(s, {request.begin(), request.begin() + static_cast<std::ptrdiff_t>(length)}));
    const Received received = ReadUntilClosed(s, 30000ms);
    EXPECT_TRUE(received.closed) << length;
    EXPECT_TRUE(received.bytes.empty()) << length;
    CloseNative(s);
  }
  EXPECT_TRUE(service.WaitForLine("timed out waiting for the request"));
}

TEST(ServiceBadInput, AClientThatStaysAfterItsReplyIsClosedAtTheDeadline) {
  ServiceProcess service({"--rates", GOOD, "--request-timeout", "0.3"});
  ASSERT_TRUE(service.Listening());
  for (const auto& [command, length] :
       {std::pair{CMD_GET_RATES, 72u}, {CMD_GET_VERSION, 4u}, {CMD_GET_UPDATE_SIZE, 4u}}) {
    const NativeSocket s = Dial(service.Port());
    ASSERT_TRUE(SendBytes(s, RequestBytes(command, 1)));
    const Received received = ReadUntilClosed(s, 30000ms);
    EXPECT_TRUE(received.closed) << command;
    EXPECT_EQ(received.bytes.size(), length) << command;
    CloseNative(s);
  }
}

TEST(ServiceBadInput, AnyOtherCommandOrArgumentIsClosedWithoutAReply) {
  ServiceProcess service({"--rates", GOOD});
  ASSERT_TRUE(service.Listening());
  const std::pair<std::int32_t, std::int32_t> requests[] = {
      {0, 0}, {5, 1}, {-1, -1}, {1, 0}, {1, 2}, {2, 1}, {3, 0}, {4, 0}, {0x01000000, 1}, {1, 0x01000000}, {3, 3}};
  for (const auto& [command, argument] : requests) {
    const NativeSocket s = Dial(service.Port());
    ASSERT_TRUE(SendBytes(s, RequestBytes(command, argument)));
    const Received received = ReadUntilClosed(s, 30000ms);
    EXPECT_TRUE(received.closed) << command << "," << argument;
    EXPECT_TRUE(received.bytes.empty()) << command << "," << argument;
    CloseNative(s);
  }
  RateTable rates{};
  EXPECT_TRUE(FetchRates(service, rates));
}

TEST(ServiceBadInput, MegabytesOfGarbageGetNothingOrExactlyOneReply) {
  ServiceProcess service({"--rates", GOOD});
  ASSERT_TRUE(service.Listening());
  std::mt19937 random(7);
  std::vector<std::uint8_t> garbage(4 << 20);
  for (auto& byte : garbage) byte = static_cast<std::uint8_t>(random());
  garbage[0] = 0x77;  // not a command

  const NativeSocket s = Dial(service.Port());
  SendBytes(s, garbage);  // may fail half-way once the service has closed
  const Received refused = ReadUntilClosed(s, 30000ms);
  EXPECT_TRUE(refused.closed);
  EXPECT_TRUE(refused.bytes.empty());
  CloseNative(s);

  // A valid request followed by garbage: the reply arrives whole, then the close.
  auto leading = RequestBytes(CMD_GET_RATES, 1);
  leading.insert(leading.end(), garbage.begin(), garbage.begin() + (1 << 20));
  const NativeSocket t = Dial(service.Port());
  SendBytes(t, leading);
  shutdown(t, SHUT_WR);
  const Received answered = ReadUntilClosed(t, 30000ms);
  EXPECT_TRUE(answered.closed);
  EXPECT_EQ(answered.bytes.size(), 72u);
  CloseNative(t);

  RateTable rates{};
  EXPECT_TRUE(FetchRates(service, rates));
  EXPECT_EQ(rates, ExpectedNationalBankRates(ReadText(GOOD)));
}

TEST(ServiceBadInput, AClientThatNeverReadsTheFileIsClosedAtTheTransferDeadline) {
  TempDir dir;
  const auto image = SignedLibraryImage(32 << 20);
  WriteFileBytes(dir.File("offer.dll"), image);
  ServiceProcess service(
      {"--rates", GOOD, "--offer-version", "1.2", "--offer-file", dir.File("offer.dll"), "--transfer-timeout", "1"});
  ASSERT_TRUE(service.Listening());
  const NativeSocket stalled = Dial(service.Port());
  int small = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(SendBytes(stalled, RequestBytes(CMD_GET_UPDATE_FILE, 0)));

  // The service keeps serving others while that transfer is stuck.
  RateTable rates{};
  EXPECT_TRUE(FetchRates(service, rates));
  EXPECT_TRUE(service.WaitForLine("timed out sending the reply"));
  const Received received = ReadUntilClosed(stalled, 10000ms);
  EXPECT_TRUE(received.closed) << received.bytes.size();
  EXPECT_LT(received.bytes.size(), image.size());
  EXPECT_TRUE(std::equal(received.bytes.begin(), received.bytes.end(), image.begin()));  // never wrong bytes
  CloseNative(stalled);
}

class ManyConnections : public ::testing::Test {
 protected:
  void SetUp() override {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 2100) GTEST_SKIP() << "the open-file limit allows no 2000 connections";
  }
};

TEST_F(ManyConnections, TwoThousandIdleConnectionsDoNotKeepAFreshClientWaiting) {
  struct Case {
    const char* maxConnections;
    const char* why;
  } cases[] = {{"10000", "room for all"}, {"500", "the oldest idle ones make room"}};
  for (const Case& c : cases) {
    // All from one address here: the per-peer cap is not what this is about.
    ServiceProcess service(
        {"--rates", GOOD, "--max-connections", c.maxConnections, "--max-connections-per-peer", "100000", "--quiet"});
    ASSERT_TRUE(service.Listening());
    std::vector<NativeSocket> idle;
    for (int i = 0; i < 2000; ++i) {
      const NativeSocket s = Dial(service.Port());
      ASSERT_NE(s, NATIVE_NO_SOCKET) << i;
      idle.push_back(s);
    }
    RateTable rates{};
    EXPECT_TRUE(FetchRates(service, rates)) << c.why;
    EXPECT_EQ(rates, ExpectedNationalBankRates(ReadText(GOOD))) << c.why;
    for (NativeSocket s : idle) CloseNative(s);
  }
}

TEST(ServiceBadInput, ABadReplacementKeepsTheLastGoodRatesAndAGoodOneIsServed) {
  TempDir dir;
  const std::string path = dir.File("nbrfxrates.xml");
  const std::string first = NationalBankXml("2026-03-02");
  WriteText(path, first);
  // A line of counters every other look at the file: each one means the service has looked at the
  // file again since the one before.
  ServiceProcess service({"--rates", path, "--poll-interval", "0.05", "--stats-interval", "0.1"});
  ASSERT_TRUE(service.Listening());
  const RateTable good = ExpectedNationalBankRates(first);
  const std::string refusedLine = path + " refused (";

  struct Case {
    const char* name;
    std::string text;
  } bad[] = {
      {"truncated", first.substr(0, first.size() / 2)},
      {"empty", ""},
      {"not XML", "EUR 4.97\nUSD 4.53\n"},
      {"a currency missing", NationalBankXml("2026-03-03", {{"TRY", {""}}})},
      {"a zero rate", NationalBankXml("2026-03-03", {{"CHF", {"0.0000"}}})},
      {"a negative rate", NationalBankXml("2026-03-03", {{"CHF", {"-5.1"}}})},
      {"a rate in words", NationalBankXml("2026-03-03", {{"GBP", {"inf"}}})},
      {"an exponent", NationalBankXml("2026-03-03", {{"GBP", {"5.7e0"}}})},
      {"a zero multiplier", NationalBankXml("2026-03-03", {{"HUF", {"1.2", "0"}}})},
      {"a negative multiplier", NationalBankXml("2026-03-03", {{"JPY", {"1.2", "-100"}}})},
      {"a multiplier in words", NationalBankXml("2026-03-03", {{"JPY", {"1.2", "hundred"}}})},
      {"a currency twice", WithSecondEuroRate(NationalBankXml("2026-03-03"))},
      {"a huge rate", NationalBankXml("2026-03-03", {{"XAU", {"1" + std::string(60, '0')}}})},
      {"another format", "<?xml version=\"1.0\"?><rates><EUR>4.9</EUR></rates>"},
  };
  for (const Case& c : bad) {
    const std::size_t seen = service.Lines().size();
    ReplaceText(path, c.text);
    EXPECT_TRUE(service.WaitForLine(refusedLine, seen)) << c.name;
    RateTable rates{};
    EXPECT_TRUE(FetchRates(service, rates)) << c.name;
    EXPECT_EQ(rates, good) << c.name;
  }

  // Rewritten in place and cut short, as a download job that died half-way leaves it.
  std::size_t seen = service.Lines().size();
  WriteText(path, first.substr(0, 200));
  EXPECT_TRUE(service.WaitForLine(refusedLine, seen));

  // Gone for a while: said once, not at every look.
  seen = service.Lines().size();
  std::filesystem::remove(path);
  EXPECT_TRUE(service.WaitForLine("cannot read", seen));
  // Five lines of counters after it: four looks at the least, by the service's own clock.
  std::size_t looked = service.Lines().size();
  for (int stats = 0; stats < 5; ++stats) {
    ASSERT_TRUE(service.WaitForLine("stats: ", looked)) << stats;
    const std::vector<std::string> lines = service.Lines();
    while (looked < lines.size() && lines[looked].find("stats: ") == std::string::npos) ++looked;
    ++looked;
  }
  EXPECT_EQ(service.CountLines("cannot read"), 1u);
  RateTable kept{};
  EXPECT_TRUE(FetchRates(service, kept));
  EXPECT_EQ(kept, good);

  const std::string second = NationalBankXml("2026-03-04", {{"EUR", {"5.0123"}}, {"HUF", {"1.3001", "100"}}});
  seen = service.Lines().size();
  ReplaceText(path, second);
  ASSERT_TRUE(service.WaitForLine("serving 2026-03-04", seen));
  RateTable rates{};
  ASSERT_TRUE(FetchRates(service, rates));
  EXPECT_EQ(rates, ExpectedNationalBankRates(second));
  EXPECT_EQ(rates[0], 5.0123f);
}

TEST(ServiceBadInput, HangupReloadsAtOnce) {
  TempDir dir;
  const std::string path = dir.File("nbrfxrates.xml");
  WriteText(path, NationalBankXml("2026-03-02"));
  // The file watch would take an hour here; only the signal can explain a quick reload.
  ServiceProcess service({"--rates", path, "--poll-interval", "3600"});
  ASSERT_TRUE(service.Listening());
  const std::string next = NationalBankXml("2026-03-05", {{"USD", {"4.6001"}}});
  ReplaceText(path, next);
  const std::size_t seen = service.Lines().size();
  service.Signal(SIGHUP);
  ASSERT_TRUE(service.WaitForLine("serving 2026-03-05", seen));
  RateTable rates{};
  ASSERT_TRUE(FetchRates(service, rates));
  EXPECT_EQ(rates[1], 4.6001f);
}

}  // namespace

namespace {

TEST(ServiceListening, ServesOverIpv6BesideIpv4) {
  ServiceProcess service({"--rates", GOOD, "--listen", "[::1]:0"});
  if (!service.Listening() && service.CountLines("cannot listen on [::1]") > 0) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(service.Listening());
  ASSERT_TRUE(service.WaitForLine("listening on [::1]:"));
  std::uint16_t port = 0;
  for (const std::string& line : service.Lines())
    if (const std::size_t at = line.find("listening on [::1]:"); at != std::string::npos)
      port = static_cast<std::uint16_t>(std::stoi(line.substr(at + 19)));

  const NativeSocket s = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_loopback;
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(SendBytes(s, RequestBytes(CMD_GET_RATES, 1)));
  std::vector<std::uint8_t> reply(RATES_REPLY_BYTES);
  std::size_t received = 0;
  while (received < reply.size() && WaitReadable(s, 5000)) {
    const ssize_t n = recv(s, reply.data() + received, reply.size() - received, 0);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  CloseNative(s);
  ASSERT_EQ(received, reply.size());
  EXPECT_EQ(DecodeRateTable(std::span<const std::uint8_t, RATE_TABLE_BYTES>(reply.data(), RATE_TABLE_BYTES)),
            ExpectedNationalBankRates(ReadText(GOOD)));

  RateTable rates{};  // and IPv4 all the same
  EXPECT_TRUE(FetchRates(service, rates));
}

}  // namespace
