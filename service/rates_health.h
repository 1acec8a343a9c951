#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct Health {
  bool ok = false;
  std::string line;  // one line, ending in a newline, that says why
};

// Healthy while rates are loaded and at most `maxAgeDays` old. The bank dates its file in
// Romanian time, which may run ahead of this machine's, so a day ahead is still today.
Health RatesHealth(const std::string& ratesDate, std::optional<std::int64_t> ageDays, int maxAgeDays);
