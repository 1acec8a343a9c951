#include "base/local_clock.h"

#include <chrono>

std::optional<SystemTime> ToSystemTime(const LocalTime& time) {
  using namespace std::chrono;
  // The calendar types keep day and month in a byte, so the ranges are checked before they wrap.
  const bool fieldsInRange = time.year >= 100 && time.year <= 9999 && time.month >= 1 && time.month <= 12 &&
                             time.day >= 1 && time.day <= 31 && time.hour >= 0 && time.hour <= 23 && time.minute >= 0 &&
                             time.minute <= 59 && time.second >= 0 && time.second <= 59;
  if (!fieldsInRange) return std::nullopt;
  const year_month_day date{year{time.year}, month{static_cast<unsigned>(time.month)},
                            day{static_cast<unsigned>(time.day)}};
  if (!date.ok()) return std::nullopt;  // the 31st of a short month, the 29th of February of a common year
  const weekday dayOfWeek{sys_days{date}};
  auto field = [](auto value) { return static_cast<std::uint16_t>(value); };
  return SystemTime{.wYear = field(time.year),
                    .wMonth = field(time.month),
                    .wDayOfWeek = field(dayOfWeek.c_encoding()),  // 0 = Sunday
                    .wDay = field(time.day),
                    .wHour = field(time.hour),
                    .wMinute = field(time.minute),
                    .wSecond = field(time.second),
                    .wMilliseconds = 0};
}
