#include "local_clock.h"

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

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : DAYS[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::optional<SystemTime> ToSystemTime(const LocalTime& time) {
  const bool valid = time.year >= 100 && time.year <= 9999 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                     time.day <= DaysInMonth(time.year, time.month) && time.hour >= 0 && time.hour <= 23 &&
                     time.minute >= 0 && time.minute <= 59 && time.second >= 0 && time.second <= 59;
  if (!valid) return std::nullopt;
  // 1970-01-01 was a Thursday (4).
  const long days = DaysFromCivil(time.year, time.month, time.day);
  const int dayOfWeek = static_cast<int>(((days % 7) + 7 + 4) % 7);
  auto field = [](int value) { return static_cast<std::uint16_t>(value); };
  return SystemTime{field(time.year), field(time.month),  field(dayOfWeek),   field(time.day),
                    field(time.hour), field(time.minute), field(time.second), 0};
}
