#include "refresh_cycle.h"

#include "rates_snapshot.h"

namespace {

class BusyRelease {
 public:
  explicit BusyRelease(std::atomic<bool>& busy) : m_busy(busy) {}
  ~BusyRelease() { m_busy.store(false); }
  BusyRelease(const BusyRelease&) = delete;
  BusyRelease& operator=(const BusyRelease&) = delete;

 private:
  std::atomic<bool>& m_busy;
};

}  // namespace

RefreshOutcome RunRefresh(const RefreshParts& parts) {
  if (parts.busy.exchange(true)) return RefreshOutcome::Dropped;
  const BusyRelease release(parts.busy);

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
