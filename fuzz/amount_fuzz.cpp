// The amount reader against the C library's own strtod, which atof is, on every text that the
// reader claims: both must give the same double, bit for bit. Hexadecimal numbers and the words
// for infinity and NaN are left out, since the reader must not take them.
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/amount.h"
#include "rates/currency.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool StrtodWouldReadSomethingElse(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::string rest = text.substr(at, 3);
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower(rest) == "inf" || lower(rest) == "nan" || lower(text.substr(at, 2)) == "0x";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double ours = ReadAmount(text);
  if (text.find('\0') == std::string::npos && !StrtodWouldReadSomethingElse(text)) {
    const double theirs = std::strtod(text.c_str(), nullptr);
    if (std::bit_cast<std::uint64_t>(ours) != std::bit_cast<std::uint64_t>(theirs)) std::abort();
  }
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = static_cast<float>(i) * 0.37f;
  const std::string result = ConvertAmount(text, size % CURRENCY_COUNT, (size / 3) % CURRENCY_COUNT, rates);
  if (result.empty()) std::abort();
  return 0;
}
