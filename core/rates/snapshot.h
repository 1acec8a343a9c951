#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "base/local_clock.h"
#include "rates/currency.h"
#include "store/settings_store.h"

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

// Reads the stored snapshot into `snapshot`; anything but an 88-byte value leaves it untouched.
bool LoadRatesSnapshot(SettingsStore& store, RatesSnapshot& snapshot);

// Stamps the current local time into `snapshot.lastUpdate` (zeros when the clock gives no valid
// time) and stores the snapshot. The result is the store's; the stamp is set either way.
bool SaveRatesSnapshot(SettingsStore& store, LocalClock& clock, RatesSnapshot& snapshot);
