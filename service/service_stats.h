#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// How a connection ended, for the log line and the counters.
enum class Outcome : std::uint8_t {
  Ok,
  Refused,          // not a request of the protocol
  RequestTimeout,   // no whole request in time
  TransferTimeout,  // the reply was not taken in time
  ClientGone,       // closed by the client before a whole request
  ReceiveFailed,    // reset, or another error while reading the request
  SendFailed,
  MadeRoom,  // closed to make room for a newer connection
  Stopped,   // the service stops
};
inline constexpr std::size_t OUTCOME_COUNT = 9;

// The log line's words for an outcome.
const char* DescribeOutcome(Outcome outcome);
// The short label of the counters.
const char* OutcomeLabel(Outcome outcome);

// Requests counted by command: the client's five, and "none" for a connection that never sent a
// valid one.
inline constexpr std::size_t COMMAND_SLOTS = 6;
const char* CommandLabel(std::size_t slot);
std::size_t CommandSlot(std::int32_t command, bool valid);

// The service's counters since start; touched only on the event loop's thread.
struct ServiceCounters {
  std::array<std::array<std::uint64_t, OUTCOME_COUNT>, COMMAND_SLOTS> ended{};
  std::uint64_t accepted = 0;
  std::uint64_t bytesSent = 0;
  std::uint64_t refusedAtCap = 0;    // connections closed at once because all were busy sending
  std::uint64_t refusedPerPeer = 0;  // closed at once: their peer had its share open already
  std::uint64_t Ended() const;
};

// What the counters are read with: the counters and what is being served.
struct StatsView {
  const ServiceCounters& counters;
  std::size_t open = 0;
  std::string ratesDate;
  float offeredVersion = 0;                  // 0: nothing offered
  std::uint64_t metricsRefused = 0;          // scrapes closed at once: the metrics endpoint was full
  std::optional<std::int64_t> ratesAgeDays;  // from the rates' date to today; none when unknown
};

// One line of counters for the log: non-zero connection counts only, then the totals.
std::string StatsLine(const StatsView& view);
// The same counters in the Prometheus text exposition format.
std::string PrometheusText(const StatsView& view);
