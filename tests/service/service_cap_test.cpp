#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

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

std::string Refused(const char* reason) { return std::string("orvane_refused_total{reason=\"") + reason + "\"}"; }
std::string Ended(const char* command, const char* outcome) {
  return std::string("orvane_connections_total{command=\"") + command + "\",outcome=\"" + outcome + "\"}";
}

// What one peer did: connections it opened, replies it was given, connections the service closed
// on it before it was done with them.
struct Tally {
  std::atomic<int> asked = 0, served = 0, dropped = 0;
};

// A peer that keeps `count` connections open from `source` until `stop`, each with `command`
// sent, opening a new one for each that the service drops. With `readReply` it reads its reply
// and then holds the connection; without, it reads nothing (with a small receive buffer), so a
// library transfer stalls. Bounded in connections and in time.
void Misbehave(const char* source, std::uint16_t port, std::int32_t command, bool readReply, int count,
               const std::atomic<bool>& stop, Tally& tally) {
  struct Held {
    NativeSocket socket;
    std::size_t received = 0;
  };
  std::vector<Held> held;
  const auto giveUp = Clock::now() + 60s;
  while (!stop && Clock::now() < giveUp && tally.asked < 20000) {
    while (static_cast<int>(held.size()) < count) {
      const NativeSocket s = DialFrom(source, port, readReply ? 0 : 4096);
      if (s == NATIVE_NO_SOCKET) break;
      ++tally.asked;
      SendBytes(s, RequestBytes(command, command == CMD_GET_UPDATE_FILE ? 0 : 1));
      held.push_back({s});
    }
    std::vector<pollfd> polls;
    for (const Held& h : held) polls.push_back({h.socket, static_cast<short>(readReply ? POLLIN : 0), 0});
    poll(polls.data(), polls.size(), 20);
    for (std::size_t i = polls.size(); i-- > 0;) {
      bool gone = (polls[i].revents & (POLLERR | POLLHUP)) != 0;
      if (!gone && (polls[i].revents & POLLIN)) {
        std::uint8_t chunk[256];
        const ssize_t n = recv(held[i].socket, chunk, sizeof chunk, 0);
        gone = n <= 0;
        if (n > 0 && (held[i].received += static_cast<std::size_t>(n)) == RATES_REPLY_BYTES) ++tally.served;
      }
      if (gone) {
        ++tally.dropped;
        CloseNative(held[i].socket);
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  for (const Held& h : held) CloseNative(h.socket);
}

// One well-behaved fetch from `source`: the rates within `tries` connections.
bool FetchFrom(const char* source, std::uint16_t port, int tries, Tally& tally) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    const NativeSocket s = DialFrom(source, port);
    if (s == NATIVE_NO_SOCKET) continue;
    ++tally.asked;
    // As the client does: the request, then its half of the close.
    const bool sent = SendBytes(s, RequestBytes(CMD_GET_RATES, 1)) && shutdown(s, SHUT_WR) == 0;
    const Received reply = sent ? ReadUntilClosed(s, 10000ms) : Received{};
    CloseNative(s);
    if (reply.bytes.size() == RATES_REPLY_BYTES) {
      ++tally.served;
      return true;
    }
    ++tally.dropped;
  }
  return false;
}

std::string Scrape(std::uint16_t metrics) { return HttpGet(metrics, "GET /metrics HTTP/1.1\r\n\r\n"); }

TEST(ServiceCap, HoldersAndSlowReadersCannotKeepAWellBehavedClientFromItsRates) {
  TempDir dir;
  const std::string offer = dir.File("offer.dll");
  WriteFileBytes(offer, SignedForTest(BuildLibraryImage({.size = (4 << 20) - SIGNATURE_BLOCK_BYTES})));
  constexpr int CAP = 40, FETCHES = 20;
  struct Case {
    const char* what;
    bool holder, slowReader;
  } cases[] = {
      {"one peer holds its connections open after the reply", true, false},
      {"one peer starts library transfers and reads nothing", false, true},
      {"both at once", true, true},
  };
  std::printf("%-54s %-22s %7s %7s %8s\n", "case", "peer", "asked", "served", "dropped");
  for (const Case& c : cases) {
    // The drain and transfer deadlines are far away: only making room can free a place.
    ServiceProcess service({"--rates", GOOD, "--offer-version", "1.2", "--offer-file", offer, "--quiet",
                            "--max-connections", std::to_string(CAP), "--max-connections-per-peer", "100000",
                            "--request-timeout", "60", "--metrics", "127.0.0.1:0"});
    ASSERT_TRUE(service.Listening());
    const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
    ASSERT_NE(metrics, 0);

    std::atomic<bool> stop = false;
    Tally holder, slow, client;
    std::vector<std::thread> peers;
    if (c.holder)
      peers.emplace_back([&] { Misbehave("127.0.0.2", service.Port(), CMD_GET_RATES, true, CAP, stop, holder); });
    if (c.slowReader)
      peers.emplace_back([&] { Misbehave("127.0.0.3", service.Port(), CMD_GET_UPDATE_FILE, false, CAP, stop, slow); });
    // The well-behaved client starts once the service is full.
    for (const auto deadline = Clock::now() + 20s;
         Sample(Scrape(metrics), "orvane_connections_open") < CAP && Clock::now() < deadline;)
      std::this_thread::sleep_for(20ms);
    int fetched = 0;
    for (int i = 0; i < FETCHES; ++i) fetched += FetchFrom("127.0.0.4", service.Port(), 3, client);
    stop = true;
    for (std::thread& peer : peers) peer.join();
    const std::string scrape = Scrape(metrics);

    EXPECT_EQ(fetched, FETCHES) << c.what;
    if (c.holder) {
      EXPECT_GT(Sample(scrape, Ended("rates", "made_room")), 0) << c.what << "\n" << scrape;
    }
    if (c.slowReader && !c.holder) {
      EXPECT_GT(Sample(scrape, Ended("file", "made_room")), 0) << c.what << "\n" << scrape;
    }
    EXPECT_EQ(Sample(scrape, Refused("cap")), 0) << c.what;  // room was always made, never refused
    const std::pair<const char*, const Tally*> rows[] = {
        {"127.0.0.2 holder", &holder}, {"127.0.0.3 slow reader", &slow}, {"127.0.0.4 client", &client}};
    for (const auto& [peer, tally] : rows)
      if (tally->asked > 0)
        std::printf("%-54s %-22s %7d %7d %8d\n", c.what, peer, tally->asked.load(), tally->served.load(),
                    tally->dropped.load());
  }
}

// Reads everything until the service closes, at most `chunk` bytes a millisecond: a steady reader
// whose transfer lasts long enough to be among those the service chooses from.
Received ReadSteadily(NativeSocket s, std::size_t chunk) {
  Received received;
  std::vector<std::uint8_t> buffer(chunk);
  for (const auto deadline = Clock::now() + 60s; Clock::now() < deadline;) {
    if (!WaitReadable(s, 1000)) continue;
    const ssize_t n = recv(s, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
      received.closed = true;
      break;
    }
    received.bytes.insert(received.bytes.end(), buffer.begin(), buffer.begin() + n);
    std::this_thread::sleep_for(1ms);
  }
  return received;
}

TEST(ServiceCap, TheSlowestTransfersMakeRoomAndASteadyOneRunsToItsEnd) {
  TempDir dir;
  const std::string offer = dir.File("offer.dll");
  const auto library = SignedForTest(BuildLibraryImage({.size = (16 << 20) - SIGNATURE_BLOCK_BYTES}));
  WriteFileBytes(offer, library);
  constexpr int CAP = 8, FETCHES = 10;
  ServiceProcess service({"--rates", GOOD, "--offer-version", "1.2", "--offer-file", offer, "--quiet",
                          "--max-connections", std::to_string(CAP), "--max-connections-per-peer", "100000", "--metrics",
                          "127.0.0.1:0"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);

  // One peer keeps every other place filled with transfers it never reads; each one it opens at
  // the cap makes room too. The steady reader and the client must come through all the same.
  const NativeSocket steady = DialFrom("127.0.0.5", service.Port());
  ASSERT_NE(steady, NATIVE_NO_SOCKET);
  ASSERT_TRUE(SendBytes(steady, RequestBytes(CMD_GET_UPDATE_FILE, 0)) && shutdown(steady, SHUT_WR) == 0);
  std::atomic<bool> stop = false;
  Tally stalled, client;
  std::thread slow([&] { Misbehave("127.0.0.3", service.Port(), CMD_GET_UPDATE_FILE, false, CAP, stop, stalled); });
  const Received download = ReadSteadily(steady, 64 << 10);
  CloseNative(steady);
  int fetched = 0;
  for (int i = 0; i < FETCHES; ++i) fetched += FetchFrom("127.0.0.4", service.Port(), 3, client);
  stop = true;
  slow.join();
  const std::string scrape = Scrape(metrics);

  EXPECT_TRUE(download.closed);
  EXPECT_TRUE(download.bytes == library) << download.bytes.size() << " of " << library.size() << " bytes";
  EXPECT_EQ(fetched, FETCHES);
  EXPECT_GT(stalled.dropped, 0);
  EXPECT_EQ(Sample(scrape, Ended("file", "ok")), 1) << scrape;  // the steady one, and no stalled one
  std::printf(
      "cap %d: the stalled peer (127.0.0.3) asked %d, dropped %d; the steady reader (127.0.0.5) got %zu of "
      "%zu bytes; the client (127.0.0.4) asked %d, served %d\n",
      CAP, stalled.asked.load(), stalled.dropped.load(), download.bytes.size(), library.size(), client.asked.load(),
      client.served.load());
}

TEST(ServiceCap, APeerBeyondItsShareIsClosedAtOnceAndOthersAreServed) {
  ServiceProcess service({"--rates", GOOD, "--max-connections-per-peer", "3", "--request-timeout", "60", "--metrics",
                          "127.0.0.1:0", "--quiet"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);

  // The greedy peer: five connections at once, then, once they have ended, one more fetch.
  Tally greedyTally;
  std::vector<NativeSocket> greedy;
  for (int i = 0; i < 5; ++i) greedy.push_back(DialFrom("127.0.0.2", service.Port()));
  for (NativeSocket s : greedy) ASSERT_NE(s, NATIVE_NO_SOCKET);
  greedyTally.asked += 5;
  // The two beyond the share are closed without a word, before they ask for anything.
  for (int i = 3; i < 5; ++i) {
    const Received refused = ReadUntilClosed(greedy[i], 10000ms);
    EXPECT_TRUE(refused.closed) << i;
    EXPECT_TRUE(refused.bytes.empty()) << i;
    greedyTally.dropped += refused.closed && refused.bytes.empty();
  }
  // Another peer is served meanwhile, and the three within the share are too.
  Tally other;
  EXPECT_TRUE(FetchFrom("127.0.0.3", service.Port(), 1, other));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(SendBytes(greedy[i], RequestBytes(CMD_GET_RATES, 1)));
    shutdown(greedy[i], SHUT_WR);
    const bool served = ReadUntilClosed(greedy[i], 10000ms).bytes.size() == RATES_REPLY_BYTES;
    EXPECT_TRUE(served) << i;
    greedyTally.served += served;
  }
  for (NativeSocket s : greedy) CloseNative(s);
  // Its share is free again once its connections have ended.
  Tally again;
  for (const auto deadline = Clock::now() + 10s; again.served == 0 && Clock::now() < deadline;)
    FetchFrom("127.0.0.2", service.Port(), 1, again);
  EXPECT_EQ(again.served, 1);

  const std::string scrape = Scrape(metrics);
  EXPECT_EQ(Sample(scrape, Refused("per_peer")), 2 + again.dropped) << scrape;
  EXPECT_EQ(Sample(scrape, Refused("cap")), 0) << scrape;
  EXPECT_EQ(Sample(scrape, Ended("rates", "ok")), 3 + 1 + 1) << scrape;
  std::printf(
      "per-peer cap 3: 127.0.0.2 asked %d, served %d, refused %d (then %d asked again: %d served, %d refused); "
      "127.0.0.3 asked %d, served %d; the service counted %.0f refused per peer\n",
      greedyTally.asked.load(), greedyTally.served.load(), greedyTally.dropped.load(), again.asked.load(),
      again.served.load(), again.dropped.load(), other.asked.load(), other.served.load(),
      Sample(scrape, Refused("per_peer")));
}

// A client whose request has come while the service was busy has done all it should: when a
// newcomer is admitted before the service reads that request, the room must come from elsewhere.
// The service is stopped to line the events up: the newcomer's connection, then the client's
// request, both waiting for it when it goes on.
TEST(ServiceCap, AClientWhoseRequestHasComeIsNotDroppedToMakeRoom) {
  ServiceProcess service({"--rates", GOOD, "--max-connections", "2", "--max-connections-per-peer", "100000",
                          "--request-timeout", "60", "--metrics", "127.0.0.1:0", "--quiet"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);

  // One connection kept open after its reply, and the client, connected but silent so far.
  const NativeSocket holder = DialFrom("127.0.0.2", service.Port());
  ASSERT_NE(holder, NATIVE_NO_SOCKET);
  ASSERT_TRUE(SendBytes(holder, RequestBytes(CMD_GET_RATES, 1)));
  std::vector<std::uint8_t> reply(RATES_REPLY_BYTES);
  ASSERT_EQ(recv(holder, reply.data(), reply.size(), MSG_WAITALL), static_cast<ssize_t>(RATES_REPLY_BYTES));
  const NativeSocket client = DialFrom("127.0.0.4", service.Port());
  ASSERT_NE(client, NATIVE_NO_SOCKET);
  for (const auto deadline = Clock::now() + 30s;
       Sample(Scrape(metrics), "orvane_connections_accepted_total") < 2 && Clock::now() < deadline;)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(Sample(Scrape(metrics), "orvane_connections_open"), 2);

  service.Signal(SIGSTOP);
  const NativeSocket newcomer = DialFrom("127.0.0.3", service.Port());
  ASSERT_NE(newcomer, NATIVE_NO_SOCKET);
  ASSERT_TRUE(SendBytes(client, RequestBytes(CMD_GET_RATES, 1)) && shutdown(client, SHUT_WR) == 0);
  service.Signal(SIGCONT);

  EXPECT_EQ(ReadUntilClosed(client, 10000ms).bytes.size(), RATES_REPLY_BYTES);
  // The room came from the connection that had had its reply.
  EXPECT_TRUE(ReadUntilClosed(holder, 10000ms).closed);
  const std::string scrape = Scrape(metrics);
  EXPECT_EQ(Sample(scrape, Ended("rates", "made_room")), 1) << scrape;
  EXPECT_EQ(Sample(scrape, Ended("none", "made_room")), 0) << scrape;
  for (NativeSocket s : {holder, client, newcomer}) CloseNative(s);
}

// One scrape on a connection of its own, and what came of it: answered, refused (the endpoint
// resets a connection beyond its cap, so nothing comes), or neither within the limit.
enum class ScrapeResult { Answered, Refused, NoAnswer };
ScrapeResult ScrapeOnce(std::uint16_t metrics, std::string* reply = nullptr) {
  const NativeSocket s = Dial(metrics);
  if (s == NATIVE_NO_SOCKET) return ScrapeResult::NoAnswer;
  const std::string head = "GET /metrics HTTP/1.1\r\n\r\n";
  SendBytes(s, std::vector<std::uint8_t>(head.begin(), head.end()));  // a reset may come first
  const Received received = ReadUntilClosed(s, 30000ms);
  CloseNative(s);
  const std::string text(received.bytes.begin(), received.bytes.end());
  if (reply) *reply = text;
  if (text.starts_with("HTTP/1.1 200 OK")) return ScrapeResult::Answered;
  return received.closed && text.empty() ? ScrapeResult::Refused : ScrapeResult::NoAnswer;
}

// What became of a connection that sent nothing: still open, closed by the service (a scrape's
// request timeout ends in an orderly close) or reset (refused at the cap).
enum class IdleState { Open, Closed, Reset };
IdleState StateOf(NativeSocket s) {
  if (!WaitReadable(s, 0)) return IdleState::Open;
  std::uint8_t byte = 0;
  const ssize_t n = recv(s, &byte, 1, MSG_DONTWAIT);
  if (n == 0) return IdleState::Closed;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IdleState::Open;
  return IdleState::Reset;
}

TEST(ServiceCap, TheMetricsEndpointServesSixteenAtOnceAndCountsTheRest) {
  ServiceProcess service({"--rates", GOOD, "--metrics", "127.0.0.1:0", "--stats-interval", "0.1", "--quiet"});
  ASSERT_TRUE(service.Listening());
  const std::uint16_t metrics = PortAfter(service, "metrics on http://127.0.0.1:");
  ASSERT_NE(metrics, 0);

  // Every outcome, so that the service's count can be checked against what was seen.
  int refused = 0, answered = 0, unanswered = 0, idleRefused = 0;
  const auto count = [&](ScrapeResult result) {
    refused += result == ScrapeResult::Refused;
    answered += result == ScrapeResult::Answered;
    unanswered += result == ScrapeResult::NoAnswer;
    return result;
  };
  // A round: sixteen scrapes that never finish their request take every place, and EXTRA more
  // come, each with a whole request. The endpoint ends an idle scrape after its request time-out
  // (5 s), so on a machine slow enough for a round to outlast it a place comes free and a late
  // scrape is answered; such a round proves nothing and is made again. A round whose sixteen
  // are all still open at its end held every place throughout: then every extra was refused.
  constexpr int EXTRA = 3, ROUNDS = 5;
  int rounds = 0, roundsHeld = 0, extrasRefusedWhileHeld = 0;
  for (; rounds < ROUNDS && roundsHeld == 0; ++rounds) {
    // The endpoint answers again: the last round's sixteen are going. One it still counts makes
    // one of the new sixteen refused, and the round is made again.
    for (const auto deadline = Clock::now() + 30s;
         count(ScrapeOnce(metrics)) != ScrapeResult::Answered && Clock::now() < deadline;)
      std::this_thread::sleep_for(20ms);
    std::vector<NativeSocket> idle;
    for (int i = 0; i < 16; ++i) idle.push_back(Dial(metrics));
    for (NativeSocket s : idle) ASSERT_NE(s, NATIVE_NO_SOCKET);
    int extrasRefused = 0;
    for (int i = 0; i < EXTRA; ++i) extrasRefused += count(ScrapeOnce(metrics)) == ScrapeResult::Refused;
    // The rates are served all the while.
    RateTable rates{};
    EXPECT_TRUE(FetchRates(service, rates));
    int open = 0;
    for (NativeSocket s : idle) {
      const IdleState state = StateOf(s);
      open += state == IdleState::Open;
      idleRefused += state == IdleState::Reset;
      CloseNative(s);
    }
    if (open == 16) {
      ++roundsHeld;
      extrasRefusedWhileHeld = extrasRefused;
      EXPECT_EQ(extrasRefused, EXTRA) << "while sixteen were held";
    }
  }
  ASSERT_EQ(roundsHeld, 1) << "in " << rounds << " rounds the sixteen were never held to the end of one";

  // Once they have gone a scrape is answered again; one that came before they were seen gone is
  // refused and counted too.
  std::string scrape;
  for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline;) {
    if (count(ScrapeOnce(metrics, &scrape)) == ScrapeResult::Answered) break;
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(scrape.starts_with("HTTP/1.1 200 OK")) << scrape;
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(Sample(scrape, Refused("metrics")), refused + idleRefused) << scrape;
  EXPECT_EQ(Sample(scrape, "orvane_connections_accepted_total"), rounds) << "scrapes are not rates connections";
  EXPECT_TRUE(service.WaitForLine(" refused_metrics " + std::to_string(refused + idleRefused)));
  std::printf(
      "metrics cap 16: %d round(s) of 16 held idle and %d more; while the 16 were held, %d of %d refused; in all "
      "%d scrapes asked: %d answered, %d refused, %d unanswered; %d idle ones refused; the service counted %.0f "
      "refused\n",
      rounds, EXTRA, extrasRefusedWhileHeld, EXTRA, answered + refused + unanswered, answered, refused, unanswered,
      idleRefused, Sample(scrape, Refused("metrics")));
}

}  // namespace
