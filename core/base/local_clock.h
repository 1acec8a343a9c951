#pragma once

#include <cstdint>
#include <optional>

// Field for field a Win32 SYSTEMTIME; kept here so that the core stays free of Windows headers.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;

  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// Local wall-clock time, broken down (month 1 to 12).
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The source of "now" for the snapshot stamp; tests set their own.
class LocalClock {
 public:
  virtual ~LocalClock() = default;
  // Nothing when the system cannot say what the local time is.
  virtual std::optional<LocalTime> Now() = 0;
};

class SystemLocalClock final : public LocalClock {
 public:
  std::optional<LocalTime> Now() override;
};

// The stamp that is stored: the same local time to the second, day of the week recomputed
// (0 = Sunday), milliseconds 0. Nothing for a time outside the years 100 to 9999 or with a
// field out of its range, which an automation date could not hold either.
std::optional<SystemTime> ToSystemTime(const LocalTime& time);
