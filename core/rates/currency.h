#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/byte_order.h"

// A currency's index into CurrencyCodes is its identity everywhere: rate boxes, flags in the
// flag strip, item data of the converter's lists and entries of the service's rates reply.
inline constexpr int CURRENCY_COUNT = 19;
inline constexpr int RATE_COUNT = 18;
inline constexpr int RON_INDEX = 18;

inline constexpr std::array<const char*, CURRENCY_COUNT> CurrencyCodes = {
    "EUR",    "USD",    "XAU", "AUD", "CAD", "CHF", "CZK", "DKK", "EGP", "GBP",
    "100HUF", "100JPY", "MDL", "NOK", "PLN", "SEK", "TRY", "XDR", "RON"};

// RON per labelled unit of currencies 0 to 17 (per 100 units for "100HUF" and "100JPY").
// RON itself has no entry: its rate is 1 by definition.
using RateTable = std::array<float, RATE_COUNT>;

inline constexpr std::size_t RATE_TABLE_BYTES = RATE_COUNT * 4;

inline constexpr bool IsCurrency(int index) { return index >= 0 && index < CURRENCY_COUNT; }

// The table on the wire and in the snapshot: each rate a little-endian float, in index order.
inline void EncodeRateTable(const RateTable& rates, std::span<std::uint8_t, RATE_TABLE_BYTES> out) {
  for (int i = 0; i < RATE_COUNT; ++i) StoreFloat(out.data() + 4 * i, rates[i]);
}

inline RateTable DecodeRateTable(std::span<const std::uint8_t, RATE_TABLE_BYTES> in) {
  RateTable rates{};
  for (int i = 0; i < RATE_COUNT; ++i) rates[i] = LoadFloat(in.data() + 4 * i);
  return rates;
}
