#pragma once

#include <atomic>

#include "local_clock.h"
#include "rates_client.h"
#include "rates_info.h"
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
  virtual void ShowRatesInfo(const RatesInfo&) {}            // the date and source of signed rates
};

// What signed rates need from one refresh to the next: the key they must be signed with, and the
// date and source of the rates held, so that an older record is never taken.
struct SignedRatesState {
  std::optional<UpdateKey> key;
  std::optional<RatesInfo> held;
};

struct RefreshParts {
  std::atomic<bool>& busy;  // one refresh at a time; a start while busy is dropped
  RatesClient& client;
  SharedRates& rates;  // the converter's table
  SettingsStore& store;
  LocalClock& clock;
  RefreshView& view;
  // With a key in it, the rates come only from signed records (never from the unsigned command,
  // which would let anyone strip the signature); without, from the unsigned command.
  SignedRatesState* signedRates = nullptr;
};

enum class RefreshOutcome { Dropped, UpdateTaken, FetchFailed, Refreshed, RecordRefused };

// One refresh: a new library first; otherwise the rates, shown, taken by the converter, stored
// with the current time and the time shown, in that order; then the date and source of signed
// rates, stored beside the snapshot and shown.
RefreshOutcome RunRefresh(const RefreshParts& parts);
