#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/byte_order.h"
#include "rates_xml.h"
#include "service_process.h"
#include "service_wire.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string GOOD = std::string(ORVANE_RATES_FIXTURES) + "/bnr-2021-05-05.xml";
constexpr auto CHECK_INTERVAL = 200ms;
constexpr int FALL = 2;  // failed checks before an instance is taken out, as in the file

double Millis(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// One instance on a port of ours, so that a restart comes back where HAProxy looks for it.
std::unique_ptr<ServiceProcess> StartInstance(std::uint16_t port) {
  return std::make_unique<ServiceProcess>(
      std::vector<std::string>{"--rates", GOOD, "--listen", "127.0.0.1:" + std::to_string(port)}, true);
}

// HAProxy with the deployment's own file, its addresses from the environment.
std::unique_ptr<LoggedProcess> StartHaproxy(std::uint16_t front, std::uint16_t first, std::uint16_t second) {
  const auto address = [](std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); };
  return std::make_unique<LoggedProcess>(
      std::vector<std::string>{"haproxy", "-db", "-f", ORVANE_HAPROXY_CONFIG},
      std::vector<std::string>{"TZ=UTC", "ORVANE_FRONTEND=" + address(front), "ORVANE_BACKEND1=" + address(first),
                               "ORVANE_BACKEND2=" + address(second),
                               "ORVANE_CHECK_INTERVAL=" + std::to_string(CHECK_INTERVAL.count()) + "ms"});
}

// The retries of one connection in an HAProxy TCP log line ("+1" when redispatched), or -1.
int Retries(const std::string& line) {
  std::istringstream words(line);
  for (std::string word; words >> word;) {
    if (std::count(word.begin(), word.end(), '/') != 4) continue;
    const std::string last = word.substr(word.rfind('/') + 1);
    if (!last.empty() && word[0] != '/' && (std::isdigit(last[0]) || last[0] == '+'))
      return std::stoi(last[0] == '+' ? last.substr(1) : last);
  }
  return -1;
}

// Whether the connection of an HAProxy TCP log line was accepted after `when` (HAProxy's clock is
// this machine's, in UTC as the test starts it).
bool AcceptedAfter(const std::string& line, std::chrono::system_clock::time_point when) {
  const std::size_t open = line.find('[');
  int hours = 0, minutes = 0, seconds = 0, millis = 0;
  if (open == std::string::npos || line.size() < open + 25 ||
      std::sscanf(line.c_str() + open + 13, "%d:%d:%d.%d", &hours, &minutes, &seconds, &millis) != 4)
    return false;
  constexpr long long DAY = 86400000;
  const long long accepted = ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
  const long long reference =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % DAY;
  return (accepted - reference + DAY + DAY / 2) % DAY > DAY / 2;  // later, across midnight too
}

// HAProxy's failed health checks of the first instance from line `from` up to the one that took
// it down, and whether one did. Each change of a check's result is logged with the count so far
// ("status: 1/2 UP"); the same text also comes as a "[WARNING]" line, left out here.
struct ChecksUntilDown {
  int failed = 0;
  bool down = false;
};
ChecksUntilDown FailedChecksUntilDown(const std::vector<std::string>& log, std::size_t from) {
  ChecksUntilDown checks;
  for (std::size_t i = from; i < log.size() && !checks.down; ++i) {
    if (!log[i].starts_with("Health check for server instances/rates1 failed")) continue;
    ++checks.failed;
    checks.down = log[i].ends_with("DOWN.");
  }
  return checks;
}

struct Outcome {
  Clock::time_point started, ended;
  bool answered = false;  // a whole reply arrived
  bool wrong = false;     // bytes arrived that are not the reply
};

TEST(HaproxyFailover, AKilledInstanceCostsOnlyItsRequestsInFlightAndARestartedOneRejoins) {
  std::uint16_t ports[3] = {UnusedPort(), UnusedPort(), UnusedPort()};
  ASSERT_TRUE(ports[0] != ports[1] && ports[1] != ports[2] && ports[0] != ports[2]);
  auto first = StartInstance(ports[1]);
  const auto second = StartInstance(ports[2]);
  ASSERT_TRUE(first->Listening() && second->Listening());
  const auto haproxy = StartHaproxy(ports[0], ports[1], ports[2]);

  // The replies to expect, asked of an instance directly.
  const std::vector<std::uint8_t> rates = Exchange(second->Port(), CMD_GET_RATES, 1).bytes;
  const std::vector<std::uint8_t> version = Exchange(second->Port(), CMD_GET_VERSION, 1).bytes;
  ASSERT_EQ(rates.size(), 72u);
  ASSERT_EQ(version.size(), 4u);
  const auto giveUp = Clock::now() + 180s;
  bool reachable = false;
  for (const auto deadline = Clock::now() + 60s; !reachable && Clock::now() < deadline;
       std::this_thread::sleep_for(20ms))
    reachable = Exchange(ports[0], CMD_GET_RATES, 1, 1000ms).bytes == rates;
  ASSERT_TRUE(reachable) << "HAProxy does not pass requests on:\n" << testing::PrintToString(haproxy->Lines());

  // The load: new connections through HAProxy, the rates and the version by turns.
  constexpr int CLIENTS = 8;
  std::atomic<bool> stop = false;
  std::mutex mutex;
  std::vector<Outcome> outcomes;
  std::vector<std::thread> clients;
  struct JoinAtEnd {  // also when an assertion ends the test early
    std::atomic<bool>& stop;
    std::vector<std::thread>& threads;
    ~JoinAtEnd() {
      stop = true;
      for (auto& thread : threads)
        if (thread.joinable()) thread.join();
    }
  } joinAtEnd{stop, clients};
  for (int c = 0; c < CLIENTS; ++c)
    clients.emplace_back([&, c] {
      for (int i = c; !stop && Clock::now() < giveUp; ++i) {
        const bool askRates = i % 2 == 0;
        Outcome outcome;
        outcome.started = Clock::now();
        const Received reply = Exchange(ports[0], askRates ? CMD_GET_RATES : CMD_GET_VERSION, 1, 30000ms);
        outcome.ended = Clock::now();
        outcome.answered = reply.bytes == (askRates ? rates : version);
        outcome.wrong = !reply.bytes.empty() && !outcome.answered;
        std::lock_guard lock(mutex);
        outcomes.push_back(outcome);
      }
    });
  const auto served = [&] {
    std::lock_guard lock(mutex);
    return outcomes.size();
  };
  const auto waitForServed = [&](std::size_t count) {
    while (served() < count && Clock::now() < giveUp) std::this_thread::sleep_for(10ms);
  };

  waitForServed(300);
  ASSERT_GT(first->CountLines("command 3 bytes 4"), 0u) << "the first instance had no share before the kill";
  const std::size_t linesAtKill = haproxy->Lines().size();
  first->Signal(SIGKILL);
  const auto killed = Clock::now();
  ASSERT_TRUE(first->WaitForExit(30s).has_value());
  const auto exited = Clock::now();  // until its descriptors are closed, it may still take connections
  const bool down = haproxy->WaitForLine("rates1 is DOWN", linesAtKill, 60s);
  const auto drained = Clock::now();
  const auto downAt = std::chrono::system_clock::now();
  EXPECT_TRUE(down);
  const std::size_t linesAtDown = haproxy->Lines().size();
  waitForServed(served() + 300);

  first = StartInstance(ports[1]);
  const auto restarted = Clock::now();
  ASSERT_TRUE(first->Listening());
  EXPECT_TRUE(haproxy->WaitForLine("rates1 is UP", linesAtDown, 60s));
  const bool takesTraffic = first->WaitForLine("command 3 bytes 4", 0, 60s);
  const auto rejoined = Clock::now();
  EXPECT_TRUE(takesTraffic);
  stop = true;
  for (auto& client : clients) client.join();
  std::lock_guard lock(mutex);

  std::size_t failed = 0, wrong = 0, failedOutsideTheKill = 0;
  for (const Outcome& outcome : outcomes) {
    wrong += outcome.wrong;
    if (outcome.answered) continue;
    ++failed;
    // Only a request that was under way while the instance died may fail: between the kill and
    // the end of the process, which still holds its listening socket until then.
    const bool outside = !(outcome.started <= exited && outcome.ended >= killed);
    failedOutsideTheKill += outside;
    if (outside)
      std::printf(
          "failed outside: started %+.1f ms, ended %+.1f ms from the kill; exit seen at %+.1f ms, restart at %+.1f\n",
          Millis(outcome.started - killed), Millis(outcome.ended - killed), Millis(exited - killed),
          Millis(restarted - killed));
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(failedOutsideTheKill, 0u);
  // Out of rotation within the checks' bound, by HAProxy's own count rather than by the clock:
  // at most FALL failed checks after the kill take the instance down. Fewer when a check had
  // already failed just before it: on a busy machine one can time out (there is no "timeout
  // check": the interval bounds it) and count towards the FALL in a row.
  const std::vector<std::string> log = haproxy->Lines();
  const ChecksUntilDown checks = FailedChecksUntilDown(log, linesAtKill);
  EXPECT_TRUE(checks.down) << testing::PrintToString(log);
  EXPECT_GE(checks.failed, 1) << testing::PrintToString(log);
  EXPECT_LE(checks.failed, FALL) << testing::PrintToString(log);
  // Retries are HAProxy's business, unseen by clients: counted, not judged. Those around the
  // moment it marks the instance down hit it while its checks were still failing.
  std::size_t retried = 0, retriedAfterDown = 0;
  for (std::size_t i = linesAtKill; i < log.size(); ++i) {
    if (Retries(log[i]) <= 0) continue;
    ++retried;
    retriedAfterDown += i >= linesAtDown && AcceptedAfter(log[i], downAt);
  }
  std::printf(
      "failover: %zu requests through HAProxy, %zu failed (%zu of them not in flight on the killed instance, which "
      "took %.0f ms to end), %zu wrong bytes; drained in %.0f ms (checks every %lld ms, %d to fail; %d failed "
      "after the kill); %zu connections retried by HAProxy, %zu of them accepted after the down was seen; "
      "rejoined and served %.0f ms after the restart\n",
      outcomes.size(), failed, failedOutsideTheKill, Millis(exited - killed), wrong, Millis(drained - killed),
      static_cast<long long>(CHECK_INTERVAL.count()), FALL, checks.failed, retried, retriedAfterDown,
      Millis(rejoined - restarted));
}

}  // namespace
