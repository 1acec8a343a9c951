// Arbitrary bytes as a rates file: the parser never crashes, and whatever it accepts is fit to
// serve (every rate finite and positive, only currencies the ECB lacks left at 0).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rates_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const RatesFile file = ParseRatesFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!file.ok) {
    for (float rate : file.rates)
      if (rate != 0) std::abort();  // a refused file hands out nothing
    return 0;
  }
  if (file.source == RatesSource::NationalBankOfRomania && !file.lacking.empty()) std::abort();
  for (int i = 0; i < RATE_COUNT; ++i) {
    bool lacked = false;
    for (int index : file.lacking) lacked = lacked || index == i;
    if (lacked ? file.rates[i] != 0 : !(std::isfinite(file.rates[i]) && file.rates[i] > 0)) std::abort();
  }
  if (file.date.size() != 10) std::abort();
  return 0;
}
