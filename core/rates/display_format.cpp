#include "rates/display_format.h"

#include <charconv>

std::string FormatFixed(double value, int decimals) {
  // Large enough for the longest finite double in fixed notation (309 digits) and its decimals.
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) return {};
  return std::string(text, result.ptr);
}

std::string FormatRate(float rate) { return FormatFixed(rate, 5); }

namespace {

void AppendPadded(std::string& out, unsigned value, int width) {
  char digits[8];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  for (auto length = result.ptr - digits; length < width; ++length) out += '0';
  out.append(digits, result.ptr);
}

}  // namespace

std::string FormatLastUpdated(const SystemTime& time) {
  std::string line = "Last Updated: ";
  AppendPadded(line, time.wDay, 2);
  line += '/';
  AppendPadded(line, time.wMonth, 2);
  line += '/';
  AppendPadded(line, time.wYear, 4);
  line += ' ';
  AppendPadded(line, time.wHour, 2);
  line += ':';
  AppendPadded(line, time.wMinute, 2);
  return line;
}
