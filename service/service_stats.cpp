#include "service_stats.h"

#include <charconv>
#include <utility>

#include "net/protocol.h"

namespace {

std::string Number(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// A label value as the exposition format wants it: backslash, quote and newline escaped.
std::string LabelValue(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

}  // namespace

const char* DescribeOutcome(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return "ok";
    case Outcome::Refused:
      return "refused: not a request of the protocol";
    case Outcome::RequestTimeout:
      return "timed out waiting for the request";
    case Outcome::TransferTimeout:
      return "timed out sending the reply";
    case Outcome::ClientGone:
      return "closed by the client before a whole request";
    case Outcome::ReceiveFailed:
      return "receive failed";
    case Outcome::SendFailed:
      return "send failed";
    case Outcome::MadeRoom:
      return "closed to make room for a newer connection";
    case Outcome::Stopped:
      return "closed: the service stops";
  }
  return "?";
}

const char* OutcomeLabel(Outcome outcome) {
  static constexpr const char* LABELS[OUTCOME_COUNT] = {
      "ok",          "refused",   "request_timeout", "transfer_timeout", "client_gone", "receive_failed",
      "send_failed", "made_room", "stopped"};
  return LABELS[static_cast<std::size_t>(outcome)];
}

const char* CommandLabel(std::size_t slot) {
  static constexpr const char* LABELS[COMMAND_SLOTS] = {"none", "rates", "file", "version", "size", "signed_rates"};
  return LABELS[slot];
}

std::size_t CommandSlot(std::int32_t command, bool valid) {
  if (!valid) return 0;
  switch (command) {
    case CMD_GET_RATES:
      return 1;
    case CMD_GET_UPDATE_FILE:
      return 2;
    case CMD_GET_VERSION:
      return 3;
    case CMD_GET_UPDATE_SIZE:
      return 4;
    case CMD_GET_SIGNED_RATES:
      return 5;
    default:
      return 0;
  }
}

std::uint64_t ServiceCounters::Ended() const {
  std::uint64_t total = 0;
  for (const auto& outcomes : ended)
    for (std::uint64_t count : outcomes) total += count;
  return total;
}

std::string StatsLine(const StatsView& view) {
  std::string line = "stats:";
  for (std::size_t slot = 0; slot < COMMAND_SLOTS; ++slot)
    for (std::size_t outcome = 0; outcome < OUTCOME_COUNT; ++outcome)
      if (const std::uint64_t count = view.counters.ended[slot][outcome])
        line += std::string(" ") + CommandLabel(slot) + "/" + OutcomeLabel(static_cast<Outcome>(outcome)) + " " +
                std::to_string(count);
  line += " accepted " + std::to_string(view.counters.accepted);
  line += " open " + std::to_string(view.open);
  line += " refused_at_cap " + std::to_string(view.counters.refusedAtCap);
  line += " bytes_sent " + std::to_string(view.counters.bytesSent);
  line += " rates " + view.ratesDate;
  line += " offer " + (view.offeredVersion != 0 ? Number(view.offeredVersion) : std::string("none"));
  line += " refused_per_peer " + std::to_string(view.counters.refusedPerPeer);
  line += " refused_metrics " + std::to_string(view.metricsRefused);
  if (view.ratesAgeDays) line += " rates_age_days " + std::to_string(*view.ratesAgeDays);
  return line;
}

std::string PrometheusText(const StatsView& view) {
  std::string text =
      "# HELP orvane_connections_total Connections ended, by the command requested and how they ended.\n"
      "# TYPE orvane_connections_total counter\n";
  for (std::size_t slot = 0; slot < COMMAND_SLOTS; ++slot)
    for (std::size_t outcome = 0; outcome < OUTCOME_COUNT; ++outcome)
      text += std::string("orvane_connections_total{command=\"") + CommandLabel(slot) + "\",outcome=\"" +
              OutcomeLabel(static_cast<Outcome>(outcome)) + "\"} " +
              std::to_string(view.counters.ended[slot][outcome]) + "\n";
  auto metric = [&text](const char* name, const char* type, const char* help, const std::string& value) {
    text +=
        std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " + value + "\n";
  };
  metric("orvane_connections_accepted_total", "counter", "Connections accepted.",
         std::to_string(view.counters.accepted));
  metric("orvane_connections_open", "gauge", "Connections open now.", std::to_string(view.open));
  metric("orvane_connections_refused_at_cap_total", "counter",
         "Connections closed at once because the connection cap was reached.",
         std::to_string(view.counters.refusedAtCap));
  text +=
      "# HELP orvane_refused_total Connections closed at once on arrival, by reason: the connection cap, the "
      "per-peer cap, the metrics endpoint's own cap.\n# TYPE orvane_refused_total counter\n";
  const std::pair<const char*, std::uint64_t> refusals[] = {{"cap", view.counters.refusedAtCap},
                                                            {"per_peer", view.counters.refusedPerPeer},
                                                            {"metrics", view.metricsRefused}};
  for (const auto& [reason, count] : refusals)
    text += std::string("orvane_refused_total{reason=\"") + reason + "\"} " + std::to_string(count) + "\n";
  metric("orvane_bytes_sent_total", "counter", "Reply bytes sent.", std::to_string(view.counters.bytesSent));
  text +=
      "# HELP orvane_rates_info The day of the rates being served.\n# TYPE orvane_rates_info gauge\n"
      "orvane_rates_info{date=\"" +
      LabelValue(view.ratesDate) + "\"} 1\n";
  if (view.ratesAgeDays)
    metric("orvane_rates_age_days", "gauge", "Days from the date of the rates being served to today.",
           std::to_string(*view.ratesAgeDays));
  metric("orvane_offered_version", "gauge", "The client version offered as an update; 0 when none is.",
         Number(view.offeredVersion));
  return text;
}
