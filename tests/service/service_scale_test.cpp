#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "base/byte_order.h"
#include "pe_builder.h"
#include "service_process.h"
#include "service_wire.h"
#include "test_signing.h"
#include "test_support.h"
#include "update/update_signature.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string GOOD = std::string(ORVANE_RATES_FIXTURES) + "/bnr-2021-05-05.xml";

// A signed library of `size` bytes whose content beyond the headers is its own, so that two of
// them differ in every stretch of bytes.
std::vector<std::uint8_t> Library(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> image = BuildLibraryImage({.size = size - SIGNATURE_BLOCK_BYTES});
  for (std::size_t i = 8192; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * seed + (i >> 13));
  return SignedForTest(image);
}

std::int32_t OfferedSize(std::uint16_t port) {
  const Received reply = Exchange(port, CMD_GET_UPDATE_SIZE, 1);
  return reply.bytes.size() == 4 ? LoadI32(reply.bytes.data()) : -1;
}

TEST(ServiceStorm, EveryTransferIsOneWholeVersionAcrossAReloadMidStorm) {
  TempDir dir;
  const auto first = Library(512 << 10, 7);
  const auto second = Library((384 << 10) + 123, 13);
  ASSERT_TRUE(IsPeLibraryWithExport(first, RUNNING_MACHINE, "RunBrennikDll"));
  ASSERT_TRUE(IsPeLibraryWithExport(second, RUNNING_MACHINE, "RunBrennikDll"));
  const std::string offer = dir.File("offer.dll");
  WriteFileBytes(offer, first);
  ServiceProcess service({"--rates", GOOD, "--offer-version", "1.2", "--offer-file", offer, "--quiet"});
  ASSERT_TRUE(service.Listening());
  const std::size_t idleKib = MemoryKib(service.Pid(), "VmRSS");

  // Each client downloads again and again; what it got is classified as it completes.
  constexpr int CLIENTS = 32;
  constexpr int TRANSFERS_EACH = 40;
  std::atomic<bool> stop = false;
  std::atomic<int> completed = 0;
  std::mutex mutex;
  std::map<std::string, int> outcomes;  // "first", "second", or what was wrong
  std::vector<Clock::time_point> secondStarts, firstStarts;
  std::vector<std::thread> clients;
  const auto giveUp = Clock::now() + 60s;
  for (int c = 0; c < CLIENTS; ++c) {
    clients.emplace_back([&] {
      for (int t = 0; t < TRANSFERS_EACH && !stop && Clock::now() < giveUp; ++t) {
        const auto started = Clock::now();
        const Received got = Exchange(service.Port(), CMD_GET_UPDATE_FILE, 0, 20000ms);
        std::lock_guard lock(mutex);
        if (got.bytes == first) {
          ++outcomes["first"];
          firstStarts.push_back(started);
        } else if (got.bytes == second) {
          ++outcomes["second"];
          secondStarts.push_back(started);
        } else {
          ++outcomes["wrong: " + std::to_string(got.bytes.size()) + " bytes" + (got.closed ? "" : ", not closed")];
        }
        ++completed;
      }
    });
  }
  auto waitForCompleted = [&](int count) {
    while (completed < count && Clock::now() < giveUp) std::this_thread::sleep_for(5ms);
  };

  waitForCompleted(2 * CLIENTS);
  const std::size_t stormKib = MemoryKib(service.Pid(), "VmRSS");
  // The replacement goes in by rename, as an operator's deploy would do it.
  WriteFileBytes(dir.File("offer.new"), second);
  std::filesystem::rename(dir.File("offer.new"), offer);
  const std::size_t seen = service.Lines().size();
  service.Signal(SIGHUP);
  EXPECT_TRUE(service.WaitForLine("offer: version 1.2, " + std::to_string(second.size()) + " bytes", seen));
  while (OfferedSize(service.Port()) != static_cast<std::int32_t>(second.size()) && Clock::now() < giveUp)
    std::this_thread::sleep_for(5ms);
  const auto switched = Clock::now();  // every transfer that starts from here on is of the second file
  const int before = completed;
  waitForCompleted(before + 2 * CLIENTS);
  stop = true;
  for (auto& client : clients) client.join();

  for (const auto& [outcome, count] : outcomes)
    EXPECT_TRUE(outcome == "first" || outcome == "second") << count << " transfers " << outcome;
  EXPECT_GT(outcomes["first"], 0);
  EXPECT_GT(outcomes["second"], 0);
  for (const auto started : firstStarts) EXPECT_LT(started, switched) << "the old file after the reload";
  // The file is not copied per transfer: 32 transfers at once would be 16 MiB of copies.
  EXPECT_LT(stormKib, idleKib + 4096) << "idle " << idleKib << " KiB, in the storm " << stormKib << " KiB";
  std::printf("storm: %d transfers, %d of the first file, %d of the second; RSS %zu KiB idle, %zu KiB in the storm\n",
              completed.load(), outcomes["first"], outcomes["second"], idleKib, stormKib);
}

}  // namespace

namespace {

TEST(ServiceScaleOut, InstancesWithReusePortShareOnePortAndAnInstanceWithoutIsRefused) {
  ServiceProcess first({"--rates", GOOD, "--reuse-port"});
  ASSERT_TRUE(first.Listening());
  const std::string shared = "127.0.0.1:" + std::to_string(first.Port());
  ServiceProcess second({"--rates", GOOD, "--reuse-port", "--listen", shared}, true);
  ASSERT_TRUE(second.Listening());
  EXPECT_EQ(second.Port(), first.Port());
  ServiceProcess intruder({"--rates", GOOD, "--listen", shared}, true);
  EXPECT_FALSE(intruder.Listening());
  EXPECT_EQ(intruder.WaitForExit(10s), 1);
  EXPECT_EQ(intruder.CountLines("cannot listen on " + shared), 1u);

  constexpr int REQUESTS = 200;
  for (int i = 0; i < REQUESTS; ++i) ASSERT_EQ(Exchange(first.Port(), CMD_GET_RATES, 1).bytes.size(), 72u);
  const auto servedBy = [](const ServiceProcess& service) { return service.CountLines("command 1 bytes 72"); };
  for (const auto deadline = Clock::now() + 60s;
       servedBy(first) + servedBy(second) < REQUESTS && Clock::now() < deadline;)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(servedBy(first) + servedBy(second), static_cast<std::size_t>(REQUESTS));
  EXPECT_GT(servedBy(first), 0u);
  EXPECT_GT(servedBy(second), 0u);
}

double EndedTotal(const std::string& scrape) {
  double total = 0;
  for (std::size_t at = scrape.find("\norvane_connections_total{"); at != std::string::npos;
       at = scrape.find("\norvane_connections_total{", at + 1))
    total += std::stod(scrape.substr(scrape.find("} ", at) + 2));
  return total;
}

std::string Ended(const char* command, const char* outcome) {
  return std::string("orvane_connections_total{command=\"") + command + "\",outcome=\"" + outcome + "\"}";
}

TEST(ServiceCounters, MetricsScrapedUnderLoadAddUpAndTheLogLineAgrees) {
  ServiceProcess service({"--rates", GOOD, "--quiet", "--stats-interval", "0.2", "--metrics", "127.0.0.1:0"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);
  const std::string get = "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n";

  constexpr int CLIENTS = 4, RATES = 50, VERSIONS = 10, REFUSED = 5;
  std::atomic<int> wrong = 0;
  std::vector<std::thread> clients;
  for (int c = 0; c < CLIENTS; ++c)
    clients.emplace_back([&] {
      for (int i = 0; i < RATES; ++i) wrong += Exchange(service.Port(), CMD_GET_RATES, 1).bytes.size() != 72;
      for (int i = 0; i < VERSIONS; ++i) wrong += Exchange(service.Port(), CMD_GET_VERSION, 1).bytes.size() != 4;
      for (int i = 0; i < REFUSED; ++i) wrong += !Exchange(service.Port(), 9, 1).bytes.empty();
    });
  // While the load runs, every scrape must balance: each accepted connection is open or ended.
  int scrapes = 0;
  for (const auto deadline = Clock::now() + 30s; scrapes < 20 && Clock::now() < deadline; ++scrapes) {
    const std::string scrape = HttpGet(metrics, get);
    ASSERT_TRUE(scrape.starts_with("HTTP/1.1 200 OK\r\n")) << scrape;
    EXPECT_EQ(Sample(scrape, "orvane_connections_accepted_total"),
              EndedTotal(scrape) + Sample(scrape, "orvane_connections_open"))
        << scrape;
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(wrong, 0);

  std::string scrape;
  for (const auto deadline = Clock::now() + 60s; Clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
    scrape = HttpGet(metrics, get);
    if (Sample(scrape, "orvane_connections_open") == 0) break;
  }
  constexpr int ALL = CLIENTS * (RATES + VERSIONS + REFUSED);
  EXPECT_EQ(Sample(scrape, "orvane_connections_accepted_total"), ALL) << scrape;
  EXPECT_EQ(Sample(scrape, Ended("rates", "ok")), CLIENTS * RATES) << scrape;
  EXPECT_EQ(Sample(scrape, Ended("version", "ok")), CLIENTS * VERSIONS) << scrape;
  EXPECT_EQ(Sample(scrape, Ended("none", "refused")), CLIENTS * REFUSED) << scrape;
  EXPECT_EQ(EndedTotal(scrape), ALL) << scrape;
  EXPECT_EQ(Sample(scrape, "orvane_bytes_sent_total"), CLIENTS * (RATES * 72 + VERSIONS * 4)) << scrape;
  EXPECT_EQ(Sample(scrape, "orvane_connections_refused_at_cap_total"), 0) << scrape;
  EXPECT_EQ(Sample(scrape, "orvane_rates_info{date=\"2021-05-05\"}"), 1) << scrape;
  EXPECT_EQ(Sample(scrape, "orvane_offered_version"), 0) << scrape;

  const std::string line = "none/refused " + std::to_string(CLIENTS * REFUSED) + " rates/ok " +
                           std::to_string(CLIENTS * RATES) + " version/ok " + std::to_string(CLIENTS * VERSIONS) +
                           " accepted " + std::to_string(ALL) + " open 0 refused_at_cap 0 bytes_sent " +
                           std::to_string(CLIENTS * (RATES * 72 + VERSIONS * 4)) + " rates 2021-05-05 offer none";
  EXPECT_TRUE(service.WaitForLine("stats: " + line, 0, 60s)) << line;
}

TEST(ServiceCounters, EachWayAConnectionEndsIsCountedUnderItsOwnOutcome) {
  // The time-out is long enough that a busy machine never turns a request or a close into a
  // time-out; only the case that waits for it pays it.
  ServiceProcess service({"--rates", GOOD, "--metrics", "127.0.0.1:0", "--request-timeout", "2"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);
  enum class Then { Close, Reset, Wait };
  struct Case {
    std::vector<std::uint8_t> sent;
    Then then;
    std::string counter, logged;
  } cases[] = {
      {RequestBytes(CMD_GET_RATES, 1), Then::Close, Ended("rates", "ok"), " ms ok"},
      {RequestBytes(7, 1), Then::Wait, Ended("none", "refused"), "refused: not a request of the protocol"},
      {{1, 0, 0}, Then::Close, Ended("none", "client_gone"), "closed by the client before a whole request"},
      {{1, 0, 0}, Then::Reset, Ended("none", "receive_failed"), "receive failed"},
      {{1, 0, 0}, Then::Wait, Ended("none", "request_timeout"), "timed out waiting for the request"},
  };
  for (const Case& c : cases) {
    const std::size_t seen = service.Lines().size();
    const NativeSocket s = Dial(service.Port());
    ASSERT_TRUE(SendBytes(s, c.sent));
    if (c.then == Then::Close) shutdown(s, SHUT_WR);
    if (c.then == Then::Reset) {
      const linger abortive{1, 0};
      setsockopt(s, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      CloseNative(s);
    } else {
      ReadUntilClosed(s, 30000ms);
      CloseNative(s);
    }
    EXPECT_TRUE(service.WaitForLine(c.logged, seen)) << c.counter;
    EXPECT_EQ(Sample(HttpGet(metrics, "GET /metrics HTTP/1.1\r\n\r\n"), c.counter), 1) << c.counter;
  }
}

TEST(ServiceCounters, TheMetricsEndpointAnswersOnlyAGetOfMetrics) {
  ServiceProcess service({"--rates", GOOD, "--metrics", "127.0.0.1:0"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);
  struct Case {
    std::string request;
    std::string status;  // empty: closed without a reply
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET /metrics?x=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /metricsx HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", ""},
  };
  for (const Case& c : cases) {
    const std::string reply = HttpGet(metrics, c.request);
    EXPECT_EQ(reply.substr(0, reply.find("\r\n")), c.status) << c.request.substr(0, 40);
  }
  // The protocol's port knows nothing of it.
  EXPECT_TRUE(Exchange(service.Port(), 0x20544547, 0x74656d2f).bytes.empty());  // "GET /met"
}

TEST(ServiceCommandLine, BadOptionsAreRefusedWithAReasonAndStatusTwo) {
  struct Case {
    std::vector<std::string> arguments;
    std::string reason;
  } cases[] = {
      {{"--rates"}, "--rates"},
      {{"--rates", GOOD, "--bogus"}, "unknown option: --bogus"},
      {{"--rates", GOOD, "stray"}, "unknown option: stray"},
      {{"--rates", GOOD, "--listen", "nowhere"}, "ADDRESS:PORT or [IPV6]:PORT, not nowhere"},
      {{"--rates", GOOD, "--stats-interval", "0"}, "number of seconds, not 0"},
      {{"--rates", GOOD, "--metrics", "127.0.0.1:99999"}, "[ADDRESS:]PORT, not 127.0.0.1:99999"},
      {{"--rates", GOOD, "--max-connections", "-1"}, "positive number, not -1"},
      {{"--rates", GOOD, "--max-connections-per-peer", "0"}, "positive number, not 0"},
      {{"--rates", GOOD, "--max-rates-age-days", "-1"}, "a number of days, not -1"},
      {{"--rates", GOOD, "--max-rates-age-days", "4.5"}, "a number of days, not 4.5"},
      {{"--rates", GOOD, "--offer-version", "nan", "--offer-file", GOOD}, "a number, not nan"},
      {{"--rates", GOOD, "--offer-version", "1.2"}, "--offer-version and --offer-file go together"},
      {{"--rates", GOOD, "--offer-key", GOOD}, "--offer-key goes with --offer-file"},
      {{"--quiet"}, "--rates FILE is required"},
  };
  for (const Case& c : cases) {
    ServiceProcess service(c.arguments);
    EXPECT_FALSE(service.Listening());
    EXPECT_EQ(service.WaitForExit(10s), 2) << c.reason;
    EXPECT_EQ(service.CountLines(c.reason), 1u) << c.reason;
  }
}

TEST(ServiceCommandLine, HelpDescribesEveryOption) {
  std::FILE* pipe = popen((ServiceBinary() + " --help").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string help;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) help.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0);
  for (const char* text :
       {"Usage: orvane-rates-service --rates FILE",
        "command 2, argument 0",
        "  --rates FILE            reference rates",
        "                          valid is logged and the last good rates stay in service. Required.",
        "  --listen ADDR:PORT      ",
        "  --reuse-port            ",
        "  --offer-version V       ",
        "  --offer-file FILE       ",
        "  --offer-key PUBLIC.pem  ",
        "  --quiet                 ",
        "  --request-timeout S     ",
        "  --transfer-timeout S    ",
        "  --poll-interval S       ",
        "  --max-connections N     ",
        "  --max-connections-per-peer N",
        "  --max-rates-age-days D  ",
        "  --stats-interval S      ",
        "  --metrics [ADDR:]PORT   ",
        "  --check FILE            ",
        "  --rates-key KEY.pem     ",
        "  --today YYYY-MM-DD      ",
        "command 5, argument 1: the signed rates record",
        "  --help                  this text",
        "SIGHUP reloads the rates and the offer."})
    EXPECT_NE(help.find(text), std::string::npos) << text << "\n" << help;
}

}  // namespace
