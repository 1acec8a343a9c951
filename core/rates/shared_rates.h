#pragma once

#include <array>
#include <atomic>

#include "rates/currency.h"

// The window's rate table: written by a refresh worker while the converter reads it on the
// window's thread. Each rate is an atomic of its own, so a conversion may mix a rate from
// before and one from after an update, as intended, but never reads a torn value.
class SharedRates {
 public:
  RateTable Load() const {
    RateTable rates{};
    for (int i = 0; i < RATE_COUNT; ++i) rates[i] = m_rates[i].load(std::memory_order_relaxed);
    return rates;
  }

  void Store(const RateTable& rates) {
    for (int i = 0; i < RATE_COUNT; ++i) m_rates[i].store(rates[i], std::memory_order_relaxed);
  }

 private:
  std::array<std::atomic<float>, RATE_COUNT> m_rates{};
};
