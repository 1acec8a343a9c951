// Any stored value: decoded only when it is exactly 88 bytes, and then re-encoded to the same bytes.
#include <cstdlib>
#include <cstring>

#include "rates/display_format.h"
#include "rates/snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto snapshot = DecodeSnapshot(std::span<const std::uint8_t>(data, size));
  if (snapshot.has_value() != (size == SNAPSHOT_BYTES)) std::abort();
  if (!snapshot) return 0;
  const SnapshotBytes again = EncodeSnapshot(*snapshot);
  if (std::memcmp(again.data(), data, SNAPSHOT_BYTES) != 0) std::abort();
  if (FormatLastUpdated(snapshot->lastUpdate).empty()) std::abort();
  for (float rate : snapshot->rates)
    if (FormatRate(rate).empty()) std::abort();
  return 0;
}
