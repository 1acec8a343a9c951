#pragma once

#include <optional>
#include <string>

// Days since 1970-01-01 of a "YYYY-MM-DD" date; nothing for anything else.
std::optional<int> DayNumber(const std::string& date);

// Today's day number in UTC, or the day that ORVANE_TODAY (YYYY-MM-DD) names: tests set it so
// that a fixture's date can be "today" or long ago.
int Today();

struct Health {
  bool ok = false;
  std::string line;  // one line, ending in a newline, that says why
};

// Healthy while rates are loaded and their day is at most `maxAgeDays` before `today`. The bank
// dates its file in Romanian time, which runs ahead of UTC, so a day ahead is still today.
Health RatesHealth(const std::string& ratesDate, int today, int maxAgeDays);
