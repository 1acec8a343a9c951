#include <ctime>

#include "base/local_clock.h"

std::optional<LocalTime> SystemLocalClock::Now() {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return std::nullopt;
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}
