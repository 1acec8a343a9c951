#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "currency.h"

// Field for field a Win32 SYSTEMTIME; kept here so that the core stays free of Windows headers.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;

  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// The persisted record: the rate table followed by the local time it was stored. Its length is
// its only identification, so nothing but exactly 88 bytes is ever taken for one.
inline constexpr std::size_t SNAPSHOT_BYTES = RATE_TABLE_BYTES + 16;

struct RatesSnapshot {
  RateTable rates{};
  SystemTime lastUpdate{};
};

using SnapshotBytes = std::array<std::uint8_t, SNAPSHOT_BYTES>;

SnapshotBytes EncodeSnapshot(const RatesSnapshot& snapshot);
std::optional<RatesSnapshot> DecodeSnapshot(std::span<const std::uint8_t> bytes);
