#include "rates_snapshot.h"

bool LoadRatesSnapshot(SettingsStore& store, RatesSnapshot& snapshot) {
  const auto bytes = store.ReadBinary(SNAPSHOT_SECTION, SNAPSHOT_ENTRY);
  if (!bytes) return false;
  const auto decoded = DecodeSnapshot(*bytes);
  if (!decoded) return false;
  snapshot = *decoded;
  return true;
}

bool SaveRatesSnapshot(SettingsStore& store, LocalClock& clock, RatesSnapshot& snapshot) {
  const auto now = clock.Now();
  const auto stamp = now ? ToSystemTime(*now) : std::nullopt;
  snapshot.lastUpdate = stamp.value_or(SystemTime{});
  const SnapshotBytes bytes = EncodeSnapshot(snapshot);
  return store.WriteBinary(SNAPSHOT_SECTION, SNAPSHOT_ENTRY, bytes);
}
