#include "refresh_cycle.h"

#include "rates_snapshot.h"
#include "scope_exit.h"

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
  if (!parts.client.FetchRates(snapshot.rates)) return RefreshOutcome::FetchFailed;

  parts.view.ShowRates(snapshot.rates);
  parts.rates.Store(snapshot.rates);
  SaveRatesSnapshot(parts.store, parts.clock, snapshot);  // a failed write changes nothing shown
  parts.view.ShowLastUpdated(snapshot.lastUpdate);
  return RefreshOutcome::Refreshed;
}
