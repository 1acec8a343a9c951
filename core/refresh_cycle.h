#pragma once

#include <atomic>

#include "local_clock.h"
#include "rates_client.h"
#include "settings_store.h"
#include "shared_rates.h"
#include "snapshot.h"

// What a refresh changes in the window. The window realises it with messages to its own
// thread, so the worker never touches a control or a member of the window directly.
class RefreshView {
 public:
  virtual ~RefreshView() = default;
  virtual void ShowRates(const RateTable& rates) = 0;        // the eighteen rate boxes
  virtual void ShowLastUpdated(const SystemTime& time) = 0;  // the window's time and its line
  virtual void UpdateReady() = 0;                            // a new library waits beside the old
};

struct RefreshParts {
  std::atomic<bool>& busy;  // one refresh at a time; a start while busy is dropped
  RatesClient& client;
  SharedRates& rates;  // the converter's table
  SettingsStore& store;
  LocalClock& clock;
  RefreshView& view;
};

enum class RefreshOutcome { Dropped, UpdateTaken, FetchFailed, Refreshed };

// One refresh: a new library first; otherwise the rates, shown, taken by the converter, stored
// with the current time and the time shown, in that order.
RefreshOutcome RunRefresh(const RefreshParts& parts);
