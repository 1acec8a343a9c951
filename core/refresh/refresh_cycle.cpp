#include "refresh/refresh_cycle.h"

#include "base/scope_exit.h"
#include "net/rates_record.h"
#include "rates/snapshot.h"

namespace {

enum class SignedFetch { Taken, Failed, Refused };

// A record is taken only whole, by the rates key, and no older than the rates held: a replayed
// old record cannot turn the board back.
SignedFetch FetchSignedRates(RatesClient& client, const SignedRatesState& state, RatesSnapshot& snapshot,
                             RatesInfo& info) {
  RatesRecordBytes bytes{};
  if (!client.FetchRatesRecord(bytes)) return SignedFetch::Failed;
  const auto record = VerifiedRatesRecord(bytes, *state.key);
  if (!record || (state.held && record->info.date < state.held->date)) return SignedFetch::Refused;
  snapshot.rates = record->rates;
  info = record->info;
  return SignedFetch::Taken;
}

}  // namespace

RefreshOutcome RunRefresh(const RefreshParts& parts) {
  if (!parts.gate.TryBegin()) return RefreshOutcome::Dropped;
  const ScopeExit release([&gate = parts.gate] { gate.End(); });

  if (parts.client.UpdateFetcher()) {
    // Held before the window hears of it, so that the window can tell its own update from a
    // message that anyone may post.
    parts.gate.HoldUpdate(parts.client.UpdateVersion());
    parts.view.UpdateReady();
    return RefreshOutcome::UpdateTaken;
  }
  RatesSnapshot snapshot;
  std::optional<RatesInfo> info;
  if (parts.signedRates && parts.signedRates->key) {
    RatesInfo fetched;
    const SignedFetch fetch = FetchSignedRates(parts.client, *parts.signedRates, snapshot, fetched);
    if (fetch == SignedFetch::Failed) return RefreshOutcome::FetchFailed;
    if (fetch == SignedFetch::Refused) return RefreshOutcome::RecordRefused;
    info = fetched;
  } else if (!parts.client.FetchRates(snapshot.rates)) {
    return RefreshOutcome::FetchFailed;
  }

  parts.view.ShowRates(snapshot.rates);
  parts.rates.Store(snapshot.rates);
  // A failed write changes nothing shown. The date goes after the snapshot and only with it: a
  // cut between the two leaves an older date beside newer rates, never a newer one beside old.
  const bool saved = SaveRatesSnapshot(parts.store, parts.clock, snapshot);
  if (info) {
    if (saved) SaveRatesInfo(parts.store, *info);
    parts.signedRates->held = info;
  }
  parts.view.ShowLastUpdated(snapshot.lastUpdate);
  if (info) parts.view.ShowRatesInfo(*info);
  return RefreshOutcome::Refreshed;
}
