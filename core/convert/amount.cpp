#include "convert/amount.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "rates/display_format.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The parts of the number at the start of a text, as atof would see them.
struct NumberSpan {
  bool negative = false;
  std::string_view mantissa;  // digits with at most one "."; at least one digit
  std::string_view exponent;  // "e" or "E", optional sign, digits; or empty
};

bool ScanNumber(std::string_view text, NumberSpan& number) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) number.negative = text[at++] == '-';
  const std::size_t start = at;
  bool point = false;
  bool digit = false;
  for (; at < text.size(); ++at) {
    if (IsDigit(text[at])) {
      digit = true;
    } else if (text[at] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digit) return false;
  number.mantissa = text.substr(start, at - start);
  std::size_t end = at;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    ++end;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    const std::size_t digits = end;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (end > digits) number.exponent = text.substr(at, end - at);
  }
  return true;
}

// Decides between overflow and underflow when from_chars finds a value beyond double: the
// power of ten of the leading significant digit, saturated so that no text can overflow it.
bool ExceedsOne(const NumberSpan& number) {
  long long magnitude = 0;
  bool seenNonZero = false;
  long long leadingZerosAfterPoint = 0;
  bool afterPoint = false;
  for (char c : number.mantissa) {
    if (c == '.') {
      afterPoint = true;
    } else if (c != '0' || seenNonZero) {
      seenNonZero = true;
      if (!afterPoint) ++magnitude;
    } else if (afterPoint) {
      ++leadingZerosAfterPoint;
    }
  }
  if (!seenNonZero) return false;
  if (magnitude == 0) magnitude = -leadingZerosAfterPoint;
  long long exponent = 0;
  bool negativeExponent = false;
  for (char c : number.exponent.substr(number.exponent.empty() ? 0 : 1)) {
    if (c == '-') negativeExponent = true;
    if (IsDigit(c) && exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
  }
  return magnitude + (negativeExponent ? -exponent : exponent) > 0;
}

double RateOf(int index, const RateTable& rates) {
  if (index == RON_INDEX) return 1.0;
  return index >= 0 && index < RATE_COUNT ? static_cast<double>(rates[index]) : 0.0;
}

}  // namespace

double ReadAmount(std::string_view text) {
  NumberSpan number;
  if (!ScanNumber(text, number)) return 0.0;
  // from_chars takes neither a sign nor a leading "." alone; both are handled around it.
  std::string digits;
  digits.reserve(number.mantissa.size() + number.exponent.size() + 1);
  if (number.mantissa.front() == '.') digits += '0';
  digits.append(number.mantissa);
  digits.append(number.exponent);
  double value = 0.0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ec == std::errc::result_out_of_range)
    value = ExceedsOne(number) ? std::numeric_limits<double>::infinity() : 0.0;
  return number.negative ? -value : value;
}

std::string ConvertAmount(std::string_view text, int from, int to, const RateTable& rates) {
  const double product = ReadAmount(text) * RateOf(from, rates);
  const double divisor = RateOf(to, rates);
  double result = 0.0;
  if (to == RON_INDEX) {
    result = product;
  } else if (divisor != 0.0) {
    result = product / divisor;
  }
  if (std::isnan(result)) return AMOUNT_NO_RATE;
  // Halfway between FLT_MAX and 2^128 and beyond, the nearest float is infinity; converting such
  // a double is not defined in C++, so it is caught before the one narrowing.
  if (std::fabs(result) >= 0x1.ffffffp127) return AMOUNT_OUT_OF_RANGE;
  const float narrowed = static_cast<float>(result);
  return FormatFixed(narrowed, 4);
}
