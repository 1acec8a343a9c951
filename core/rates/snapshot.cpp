#include "rates/snapshot.h"

#include "base/byte_order.h"

namespace {

// Offsets of the SYSTEMTIME fields after the rate table, in their declaration order.
constexpr std::size_t TIME_OFFSET = RATE_TABLE_BYTES;

template <typename Bytes, typename Time, typename Visit>
void ForEachTimeField(Bytes* bytes, Time& time, Visit visit) {
  std::uint16_t* const fields[] = {&time.wYear, &time.wMonth,  &time.wDayOfWeek, &time.wDay,
                                   &time.wHour, &time.wMinute, &time.wSecond,    &time.wMilliseconds};
  for (int i = 0; i < 8; ++i) visit(bytes + TIME_OFFSET + 2 * i, *fields[i]);
}

}  // namespace

SnapshotBytes EncodeSnapshot(const RatesSnapshot& snapshot) {
  SnapshotBytes bytes{};
  EncodeRateTable(snapshot.rates, std::span<std::uint8_t, RATE_TABLE_BYTES>(bytes.data(), RATE_TABLE_BYTES));
  SystemTime time = snapshot.lastUpdate;
  ForEachTimeField(bytes.data(), time, [](std::uint8_t* at, std::uint16_t& field) { StoreU16(at, field); });
  return bytes;
}

std::optional<RatesSnapshot> DecodeSnapshot(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != SNAPSHOT_BYTES) return std::nullopt;
  RatesSnapshot snapshot;
  snapshot.rates = DecodeRateTable(bytes.first<RATE_TABLE_BYTES>());
  ForEachTimeField(bytes.data(), snapshot.lastUpdate,
                   [](const std::uint8_t* at, std::uint16_t& field) { field = LoadU16(at); });
  return snapshot;
}

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
