#include "refresh_cycle.h"

#include "rates_snapshot.h"
#include "scope_exit.h"

RefreshOutcome RunRefresh(const RefreshParts& parts) {
  if (parts.busy.exchange(true)) return RefreshOutcome::Dropped;
  const ScopeExit release([&busy = parts.busy] { busy.store(false); });

  if (parts.client.UpdateFetcher()) {
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
