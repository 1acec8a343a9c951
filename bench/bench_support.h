#pragma once

#include <algorithm>
#include <cstdlib>
#include <vector>

// A positive whole number from the environment, or `fallback`.
inline std::size_t FromEnvironment(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  return text && std::atoll(text) > 0 ? static_cast<std::size_t>(std::atoll(text)) : fallback;
}

// The value below which `fraction` of `values` lie; 0 for none.
inline double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}
