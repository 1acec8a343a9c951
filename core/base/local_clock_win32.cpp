#include <windows.h>

#include "base/local_clock.h"

// The system's own time-zone settings, as the Windows clock shows them. The C runtime's local time
// would read a TZ variable in the environment as a Windows one and fall back to UTC for anything
// else, such as the "Europe/Bucharest" that Linux users set.
std::optional<LocalTime> SystemLocalClock::Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}
