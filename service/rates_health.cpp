#include "rates_health.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <utility>

std::optional<int> DayNumber(const std::string& date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
  int parts[3] = {};
  const std::pair<std::size_t, std::size_t> fields[3] = {{0, 4}, {5, 2}, {8, 2}};
  for (int i = 0; i < 3; ++i) {
    const char* begin = date.data() + fields[i].first;
    const char* end = begin + fields[i].second;
    const auto [stop, error] = std::from_chars(begin, end, parts[i]);
    if (error != std::errc() || stop != end) return std::nullopt;
  }
  const std::chrono::year_month_day day{std::chrono::year(parts[0]),
                                        std::chrono::month(static_cast<unsigned>(parts[1])),
                                        std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!day.ok()) return std::nullopt;
  return std::chrono::sys_days(day).time_since_epoch().count();
}

int Today() {
  if (const char* fixed = std::getenv("ORVANE_TODAY"))
    if (const auto day = DayNumber(fixed)) return *day;
  const auto now = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(now.time_since_epoch().count());
}

Health RatesHealth(const std::string& ratesDate, int today, int maxAgeDays) {
  const auto day = DayNumber(ratesDate);
  if (!day) return {false, "no rates loaded\n"};
  const int age = today - *day;
  if (age < -1) return {false, "rates of " + ratesDate + " are dated in the future\n"};
  if (age > maxAgeDays)
    return {false, "rates of " + ratesDate + " are " + std::to_string(age) + " days old, more than " +
                       std::to_string(maxAgeDays) + "\n"};
  return {true, "ok: rates of " + ratesDate + ", " + std::to_string(age < 0 ? 0 : age) + " days old\n"};
}
