#include "local_clock.h"

#include <chrono>
#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#ifdef _WIN32
// The system's own time-zone settings, as the Windows clock shows them. The C runtime's local time
// would read a TZ variable in the environment as a Windows one and fall back to UTC for anything
// else, such as the "Europe/Bucharest" that Linux users set.
std::optional<LocalTime> SystemLocalClock::Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}
#else
std::optional<LocalTime> SystemLocalClock::Now() {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return std::nullopt;
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}
#endif

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
